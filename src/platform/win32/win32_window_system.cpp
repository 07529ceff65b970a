#include "platform/win32/win32_window_system.h"

#include "platform/win32/windows_api.h"
#include <commdlg.h>

#include <vector>

#include "platform/win32/ansi.h"
#include "platform/win32/win32_system.h"

namespace quenbrook {

std::string DialogFilter(const std::string& filter) {
    std::string out = filter;
    for (char& c : out)
        if (c == '|') c = '\0';
    // The list ends with an empty string: two NULs in a row.
    if (out.empty() || out.back() != '\0') out += '\0';
    out += '\0';
    return out;
}

void Win32WindowSystem::MessageBox(const std::wstring& text, const std::wstring& title) {
    const std::string t = ToAnsiForDisplay(text), c = ToAnsiForDisplay(title);
    MessageBoxA(static_cast<HWND>(owner_), t.c_str(), c.c_str(), MB_OK);
}

std::optional<std::wstring> Win32WindowSystem::ShowOpen(const std::wstring& filter,
                                                        const std::wstring& initialFile) {
    const std::string filterText = DialogFilter(ToAnsiForDisplay(filter));
    std::string folder;
    if (const std::optional<std::string> initial = ToAnsi(initialFile)) {
        const DWORD a = GetFileAttributesA(initial->c_str());
        const std::size_t slash = initial->find_last_of("\\/");
        if (a != INVALID_FILE_ATTRIBUTES && slash != std::string::npos) folder = initial->substr(0, slash);
    }
    std::vector<char> file(32768, '\0');
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = static_cast<HWND>(owner_);
    dialog.lpstrFilter = filterText.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    // No "Open as read-only" box: the choice is only a path to remember.
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&dialog)) return std::nullopt;
    return FromAnsi(file.data());
}

std::optional<Status> Win32WindowSystem::OfferAdministratorRun(const std::wstring& text,
                                                              const std::wstring& title,
                                                              const std::vector<std::wstring>& options) {
    const std::string t = ToAnsiForDisplay(text), c = ToAnsiForDisplay(title);
    if (MessageBoxA(static_cast<HWND>(owner_), t.c_str(), c.c_str(), MB_YESNO) != IDYES) return std::nullopt;
    // Windows asks for the rights; the window waits for the run that has them.
    SetMousePointer(kPointerHourglass);
    Status run = RunAsAdministrator(std::wstring(), options, owner_);
    SetMousePointer(kPointerDefault);
    return run;
}

void Win32WindowSystem::SetMousePointer(int pointer) {
    busy_ = pointer == kPointerHourglass;
    SetCursor(LoadCursor(nullptr, busy_ ? IDC_WAIT : IDC_ARROW));
}

// Every write happened before this is called; nothing is left to flush.
void Win32WindowSystem::EndProgram() { ExitProcess(0); }

}  // namespace quenbrook
