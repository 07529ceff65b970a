#include "main_window/form1.h"

#include "links/execute_link.h"
#include "actions/actions.h"
#include "main_window/layout.h"

namespace quenbrook {

Form1::Form1(SystemCalls& system, WindowSystem& window, Form1View& view)
    : system_(system), window_(window), view_(view), settings_(system) {}

void Form1::Form_Load() {
    settings_.SetIniFilePath(kCivIniPath);
    SetCiv2(StoredPath(settings_));
    commonDialogFilter_ = messages::kFilter;
}

// Closing by the close box saves nothing: only Browse, Launch and Exit keep the path.
void Form1::Form_QueryUnload() { window_.EndProgram(); }

void Form1::civ2_Edited(const std::wstring& text) {
    civ2_ = text;
    civ2_Change();
}

// Launch is usable exactly while the path box holds something, blanks included.
void Form1::civ2_Change() {
    command7Enabled_ = !civ2_.empty();
    view_.SetCommand7Enabled(command7Enabled_);
}

void Form1::SetCiv2(const std::wstring& text) {
    const bool changed = text != civ2_;
    civ2_ = text;
    view_.SetCiv2Text(civ2_);
    if (changed) civ2_Change();
}

// "Do It": set the option and leave the file alone.
void Form1::Command1_Click() {
    if (SetOptionOrSayWhy({L"--enable"}) != Outcome::Refused) Say(messages::kCommand1Done);
}

// "View civ.ini": the editor runs on its own; we only hear whether it could start.
void Form1::Command2_Click() {
    system_.OpenInEditor(kCivIniForAttributes, [this](Status opened) {
        if (!opened)
            Say(FailureMessage(L"civ.ini could not be opened in the text editor.", opened,
                               system_.HostPath(settings_.IniFilePath())));
    });
}

void Form1::Command3_Click() { Say(messages::kCommand1Help); }

// "Exit": keep the path for the next start, then end.
void Form1::Command4_Click() {
    ReportPathNotSaved(SavePath(settings_, civ2_));
    window_.EndProgram();
}

// "Return To Normal Atributes".
void Form1::Command5_Click() {
    const Status unlocked = UnlockIniFile(system_);
    if (!unlocked)
        Refused(L"civ.ini could not be returned to normal attributes.", unlocked,
                system_.HostPath(settings_.IniFilePath()), {L"--unlock"});
}

// "Do It": set the option, confirm, then lock the file once the user has read why.
void Form1::Command6_Click() {
    const Outcome set = SetOptionOrSayWhy({L"--enable", L"--lock"});
    if (set == Outcome::Refused) return;
    Say(messages::kCommand6Done);
    if (set == Outcome::Done) Command8_Click();
}

// "Launch Civ 2": a game that cannot start leaves the program open and the path unsaved.
void Form1::Command7_Click() {
    // Starting waits a moment to learn whether the game really runs.
    window_.SetMousePointer(kPointerHourglass);
    const Status started = LaunchGame(system_, civ2_);
    window_.SetMousePointer(kPointerDefault);
    if (!started) {
        Say(FailureMessage(L"Civ 2 could not be started.", started, civ2_));
        return;
    }
    ReportPathNotSaved(SavePath(settings_, civ2_));
    window_.EndProgram();
}

// Hidden: marks civ.ini read-only.
void Form1::Command8_Click() {
    const Status locked = LockIniFile(system_);
    if (!locked)
        Say(FailureMessage(L"civ.ini could not be set to 'Read Only'.", locked,
                           system_.HostPath(settings_.IniFilePath())));
}

void Form1::Command9_Click() { Say(messages::kCommand6Help); }

// "Browse": a cancelled dialog changes nothing.
void Form1::Command10_Click() {
    const std::optional<std::wstring> picked = window_.ShowOpen(commonDialogFilter_, civ2_);
    if (!picked) return;
    SetCiv2(*picked);
    ReportPathNotSaved(SavePath(settings_, civ2_));
}

void Form1::Label2_Click() { ExecuteLink(system_, window_, std::wstring(layout::kAuthorLink)); }

void Form1::Label3_Click() { ExecuteLink(system_, window_, std::wstring(layout::kIdeaLink)); }

// Writes the value of Text1; a confirmation is never shown for a change that did not happen.
Form1::Outcome Form1::SetOptionOrSayWhy(const std::vector<std::wstring>& asAdministrator) {
    const Status set = SetOption(settings_, text1_);
    if (set) return Outcome::Done;
    return Refused(L"Your civ.ini file could not be changed, so simultaneous turns are not set.", set,
                   system_.HostPath(settings_.IniFilePath()), asAdministrator);
}

// Says why; when only administrator rights would do (Windows, a game run as
// administrator), asks whether to do it with them, and says why that failed too.
Form1::Outcome Form1::Refused(const std::wstring& what, const Status& status, const std::wstring& file,
                              const std::vector<std::wstring>& asAdministrator) {
    const std::wstring message = FailureMessage(what, status, file);
    if (!status.needsAdministrator()) {
        Say(message);
        return Outcome::Refused;
    }
    const std::optional<Status> run = window_.OfferAdministratorRun(
        message + L"\r\n\r\nDo it now with administrator rights?", messages::kTitle, asAdministrator);
    if (!run) return Outcome::Refused;
    if (!*run) {
        Say(FailureMessage(what, *run, file));
        return Outcome::Refused;
    }
    return Outcome::DoneAsAdministrator;
}

void Form1::Say(const std::wstring& text) { window_.MessageBox(text, messages::kTitle); }

// A locked civ.ini refuses the path on purpose, and that stays silent; so does a write
// that would have changed nothing (an empty box and no path stored, as before there is
// a prefix). Any other reason the path could not be kept is worth knowing before it is
// lost.
void Form1::ReportPathNotSaved(const Status& saved) {
    if (saved || system_.IsReadOnly(settings_.IniFilePath()) || StoredPath(settings_) == civ2_)
        return;
    Say(FailureMessage(L"The game's location could not be saved in civ.ini.", saved,
                       system_.HostPath(settings_.IniFilePath())));
}

std::wstring Form1::FailureMessage(const std::wstring& what, const Status& status,
                                   const std::wstring& file) {
    // The file is named once: not again when the reason already names it.
    const std::wstring reason = what + L"\r\n\r\nReason: " + status.reason();
    return status.reason().find(file) == std::wstring::npos ? reason + L"\r\nFile: " + file : reason;
}

}  // namespace quenbrook
