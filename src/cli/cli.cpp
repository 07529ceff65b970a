#include "cli/cli.h"

#include <algorithm>
#include <string_view>

#include "actions/actions.h"
#include "settings_file/settings_file.h"

namespace quenbrook {

namespace {

bool SameIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// civ.ini as the host finds it, and as the game names it where that is another name.
std::wstring Named(const std::wstring& file) {
    return SameIgnoringAsciiCase(file, kCivIniPath)
               ? file
               : file + L" (the game's " + kCivIniPath + L")";
}

// What the first action of the request could not do.
std::wstring FirstFailure(const CliRequest& request) {
    if (request.unlock) return L"civ.ini could not be returned to normal attributes";
    if (request.enable) return L"civ.ini could not be changed";
    if (request.launch) return L"Civ 2 could not be started";
    return L"";
}

// "quenbrook: what: why", or "quenbrook: why" without a what.
std::wostream& Failure(std::wostream& err, const std::wstring& what) {
    return err << L"quenbrook: " << what << (what.empty() ? L"" : L": ");
}

}  // namespace

int RunCli(const CliRequest& request, SystemCalls& system, std::wostream& out,
           std::wostream& err, const CivIniWhere& where) {
    if (!where.noPrefix.empty()) {
        if (request.status && !where.found.empty()) out << where.found << L'\n';
        Failure(err, FirstFailure(request)) << where.noPrefix << L'\n' << where.searched;
        return kExitFailed;
    }
    SettingsFile settings(system);
    settings.SetIniFilePath(kCivIniPath);
    const std::wstring file = system.HostPath(settings.IniFilePath());
    auto failed = [&](const std::wstring& what, const Status& status) {
        err << L"quenbrook: " << what << L": " << status.reason() << L" (" << file << L")\n";
        return kExitFailed;
    };
    // Only --enable makes a missing civ.ini; the other actions would each say it in
    // their own way.
    auto missing = [&](const std::wstring& what) {
        Failure(err, what) << L"there is no civ.ini at " << Named(file) << L'\n' << where.searched;
        return kExitFailed;
    };

    // Unlocking first lets "--unlock --enable" set the option in a locked file.
    if (request.unlock) {
        if (where.civIniMissing) return missing(L"civ.ini could not be returned to normal attributes");
        if (Status s = UnlockIniFile(system); !s)
            return failed(L"civ.ini could not be returned to normal attributes", s);
    }
    if (request.enable) {
        if (Status s = SetOption(settings, kSimultaneousOn); !s)
            return failed(L"civ.ini could not be changed", s);
        if (request.lock) {
            if (Status s = LockIniFile(system); !s)
                return failed(L"civ.ini could not be set read-only", s);
        }
    }
    if (request.launch) {
        if (where.civIniMissing && !request.enable) return missing(L"Civ 2 could not be started");
        const std::wstring path = StoredPath(settings);
        if (path.empty())
            return failed(L"Civ 2 could not be started",
                          Status::Fail(L"civ.ini holds no game path yet; choose the game once "
                                       L"with Browse in the window"));
        if (Status s = LaunchGame(system, path); !s) {
            err << L"quenbrook: Civ 2 could not be started: " << s.reason() << L'\n';
            return kExitFailed;
        }
    }
    if (request.status) {
        if (!where.found.empty()) out << where.found << L'\n';
        // "no" would be a guess about a file that is not there.
        if (where.civIniMissing && !request.enable) return missing(L"");
        const bool on = settings.ReadIniString(kOptionSection, kOptionKey, settings.IniFilePath()) ==
                        kSimultaneousOn;
        out << L"civ.ini: " << file << L'\n'
            << L"Simultaneous=1: " << (on ? L"yes" : L"no") << L'\n'
            << L"read-only: " << (system.IsReadOnly(kCivIniForAttributes) ? L"yes" : L"no") << L'\n'
            << L"game path: " << StoredPath(settings) << L'\n';
    }
    return kExitDone;
}

std::wstring ForAWindow(const std::wstring& errors) {
    constexpr std::wstring_view program = L"quenbrook: ";
    std::wstring text;
    for (std::size_t start = 0; start < errors.size();) {
        const std::size_t end = std::min(errors.find(L'\n', start), errors.size() - 1) + 1;
        std::wstring_view line(errors.data() + start, end - start);
        if (line.starts_with(program)) line.remove_prefix(program.size());
        text += line;
        start = end;
    }
    while (!text.empty() && text.back() == L'\n') text.pop_back();
    return text;
}

}  // namespace quenbrook
