#include "platform/win32/win32_cli.h"

// windows.h first: shellapi.h builds on it.
#include "platform/win32/windows_api.h"

#include <shellapi.h>

#include "platform/win32/ansi.h"

namespace quenbrook {

namespace {

// Standard output or error of the process. A GUI program started from a console has
// no handles of its own; then it borrows the parent's console.
HANDLE StandardHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle && handle != INVALID_HANDLE_VALUE) return handle;
    static HANDLE console = [] {
        if (!AttachConsole(ATTACH_PARENT_PROCESS)) return INVALID_HANDLE_VALUE;
        return CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }();
    return console;
}

void Write(DWORD which, const std::wstring& text) {
    if (text.empty()) return;
    HANDLE handle = StandardHandle(which);
    if (handle == INVALID_HANDLE_VALUE) return;
    std::wstring lines;
    for (wchar_t c : text) {
        if (c == L'\n') lines += L'\r';
        lines += c;
    }
    DWORD mode = 0, written = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
        return;
    }
    const std::string bytes = ToAnsiForDisplay(lines);
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

}  // namespace

std::vector<std::string> ArgumentsInUtf8() {
    std::vector<std::string> arguments;
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) arguments.push_back(ToUtf8(argv[i]));
        LocalFree(argv);
    }
    return arguments;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

void WriteOut(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text); }

void WriteErr(const std::wstring& text) { Write(STD_ERROR_HANDLE, text); }

}  // namespace quenbrook
