#include "platform/win32/win32_cli.h"

#include "platform/win32/windows_api.h"

#include <sstream>

#include "platform/win32/ansi.h"
#include "platform/win32/win32_system.h"
#include "settings_file/settings_file.h"

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

// A console takes UTF-16 as it is; a pipe or file gets the ANSI code page, with Windows'
// line ends.
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

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments) {
    ParsedArguments parsed;
    for (const std::wstring& a : arguments) {
        if (a == L"--status") parsed.request.status = true;
        else if (a == L"--enable") parsed.request.enable = true;
        else if (a == L"--lock") parsed.request.lock = true;
        else if (a == L"--unlock") parsed.request.unlock = true;
        else if (a == L"--launch") parsed.request.launch = true;
        else if (a == L"--help" || a == L"-h" || a == L"/?") parsed.help = true;
        else if (a == L"--version") parsed.version = true;
        else if (parsed.error.empty()) parsed.error = L"unknown option " + a;
    }
    if (parsed.error.empty()) parsed.error = CheckRequest(parsed.request);
    return parsed;
}

std::wstring UsageText() {
    return L"Usage: quenbrook [--status] [--enable [--lock]] [--unlock] [--launch]\n"
           L"Without options the window opens.\n"
           L"  --status   show civ.ini, whether Simultaneous=1 is set, the lock and the game path\n"
           L"  --enable   write Simultaneous=1 into civ.ini, as the \"Do It\" buttons do\n"
           L"  --lock     with --enable: then mark civ.ini read-only so the game keeps it\n"
           L"  --unlock   return civ.ini to normal attributes\n"
           L"  --launch   start the stored game in its folder\n"
           L"  --help     show this text\n"
           L"  --version  show the version\n";
}

int RunCommandLine(const std::vector<std::wstring>& arguments, SystemCalls& system) {
    const ParsedArguments parsed = ParseArguments(arguments);
    if (parsed.help) {
        Write(STD_OUTPUT_HANDLE, UsageText());
        return kExitDone;
    }
    if (parsed.version) {
        Write(STD_OUTPUT_HANDLE, L"1.00\n");
        return kExitDone;
    }
    if (!parsed.error.empty()) {
        Write(STD_ERROR_HANDLE, L"quenbrook: " + parsed.error + L"\n" + UsageText());
        return kExitUsage;
    }
    // --status reports on a file that is there, or fails.
    CivIniWhere where;
    const std::wstring civIni = system.HostPath(kCivIniPath);
    if (GetFileAttributesW(civIni.c_str()) == INVALID_FILE_ATTRIBUTES)
        where.present = Status::Fail(L"there is no civ.ini at " + civIni);
    std::wostringstream out, err;
    const int code = RunCli(parsed.request, system, out, err, where);
    Write(STD_OUTPUT_HANDLE, out.str());
    Write(STD_ERROR_HANDLE, err.str());
    // A game run as administrator: the command line says how to do it with those rights.
    if (code == kExitFailed && (parsed.request.enable || parsed.request.unlock))
        Write(STD_ERROR_HANDLE, AdministratorAdvice(arguments));
    return code;
}

}  // namespace quenbrook
