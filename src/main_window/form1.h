#pragma once
// Form1: the main window's behaviour, independent of any toolkit. It holds the window's
// state and one handler per event; a view shows the state and forwards the events.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings_file/settings_file.h"

namespace quenbrook {

// What Form1 asks of the window that shows it.
class Form1View {
public:
    virtual ~Form1View() = default;
    // Shows text in the path box without reporting it back as an edit.
    virtual void SetCiv2Text(const std::wstring& text) = 0;
    virtual void SetCommand7Enabled(bool enabled) = 0;
};

// The texts the window shows in its message boxes.
namespace messages {
inline constexpr const wchar_t* kTitle = L"Quenbrook";
inline constexpr const wchar_t* kCommand1Done =
    L"You just edited your civ.ini file and added 'Simultaneous=1'.  This will allow you to "
    L"select simultaneous turns when you start your next multiplayer game.  But it will reset "
    L"after the game. If you want it to stay forever, use the other button.";
inline constexpr const wchar_t* kCommand1Help =
    L"Pressing this button will edit your civ.ini file and will allow you to select "
    L"simultaneous turns, when you start your next game (Multiplayer).  But it will reset "
    L"after the game. If you want it to stay, use the other button.";
inline constexpr const wchar_t* kCommand6Done =
    L"You just edited your civ.ini file and added 'Simultaneous=1'.  This will allow you to "
    L"select simultaneous turns when you start any multiplayer game.  It also set the file to "
    L"'Read Only'.  To turn off 'Read Only' then press the 'Return To Normal Atributes'.";
inline constexpr const wchar_t* kCommand6Help =
    L"Pressing this button will edit your civ.ini file and will allow you to select "
    L"simultaneous turns, when you start your next game (Multiplayer).  It will also set the "
    L"civ.ini file to 'Read Only'.  This makes it so that Civ 2 won't erase the option when "
    L"you quit the game.  Meaning you only have to do this once!!!";
inline constexpr const wchar_t* kFilter = L"Civ 2 (Civ2.exe)|Civ2.exe|";
}  // namespace messages

class Form1 {
public:
    Form1(SystemCalls& system, WindowSystem& window, Form1View& view);

    // Window events.
    void Form_Load();
    void Form_QueryUnload();

    // The user changed the path box (typing, pasting).
    void civ2_Edited(const std::wstring& text);

    // Clicks.
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void Label2_Click();
    void Label3_Click();

    // State the view shows.
    const std::wstring& civ2() const { return civ2_; }
    bool command7Enabled() const { return command7Enabled_; }
    const std::wstring& text1() const { return text1_; }
    const std::wstring& commonDialogFilter() const { return commonDialogFilter_; }
    const SettingsFile& settings() const { return settings_; }

private:
    void SetCiv2(const std::wstring& text);
    void civ2_Change();
    // How a change went: refused, done, or done by a run with administrator rights
    // that the player agreed to (which did all its options).
    enum class Outcome { Refused, Done, DoneAsAdministrator };
    Outcome SetOptionOrSayWhy(const std::vector<std::wstring>& asAdministrator);
    Outcome Refused(const std::wstring& what, const Status& status, const std::wstring& file,
                    const std::vector<std::wstring>& asAdministrator);
    void Say(const std::wstring& text);
    void ReportPathNotSaved(const Status& saved);
    static std::wstring FailureMessage(const std::wstring& what, const Status& status,
                                       const std::wstring& file);

    SystemCalls& system_;
    WindowSystem& window_;
    Form1View& view_;
    SettingsFile settings_;

    std::wstring civ2_;
    bool command7Enabled_ = false;  // disabled at design
    std::wstring text1_ = L"1";
    std::wstring commonDialogFilter_;
};

}  // namespace quenbrook
