#pragma once
// The native Win32 view of Form1: builds the window from the layout table, forwards each
// event to Form1 and shows Form1's state.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "main_window/form1.h"
#include "main_window/layout.h"
#include "platform/win32/win32_window_system.h"
#include "platform/win32/windows_api.h"

namespace quenbrook {

class Form1Window : public Form1View {
public:
    Form1Window(SystemCalls& system, Win32WindowSystem& windowSystem);
    ~Form1Window() override;
    Form1Window(const Form1Window&) = delete;
    Form1Window& operator=(const Form1Window&) = delete;

    // Creates the window and its controls, hidden; false when the system refused.
    bool Create(HINSTANCE instance);
    // Runs Form_Load, centres the window and shows it with the focus on "View civ.ini".
    void Show(int showCommand);
    // The message loop with the dialog keys (Tab, Return, Space); returns the exit code.
    int Run();

    void SetCiv2Text(const std::wstring& text) override;
    void SetCommand7Enabled(bool enabled) override;

private:
    struct Built {
        const layout::Control* design;
        HWND window;
    };

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void BuildControls(HINSTANCE instance);
    HFONT FontFor(const layout::Font& font);
    HWND Control(std::string_view name) const;
    const Built* Find(HWND control) const;
    void Clicked(std::string_view name);
    bool ReturnClicksFocusedButton(const MSG& message);
    void OutlineFocusedButton();
    int Pixels(int twips) const;

    Win32WindowSystem& windowSystem_;
    Form1 form_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    std::vector<Built> controls_;
    std::map<double, HFONT> fonts_;
    HBRUSH background_ = nullptr;
    HCURSOR hand_ = nullptr;
    HWND lastFocus_ = nullptr;  // the control that had the focus when the window lost it
    bool settingCiv2_ = false;  // EN_CHANGE caused by SetCiv2Text is not the user's edit
};

}  // namespace quenbrook
