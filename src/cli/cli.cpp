#include "cli/cli.h"

#include "actions/actions.h"
#include "settings_file/settings_file.h"

namespace quenbrook {

std::wstring CheckRequest(const CliRequest& request) {
    if (request.lock && !request.enable) return L"--lock goes with --enable";
    if (request.lock && request.unlock) return L"--lock and --unlock contradict each other";
    return L"";
}

int RunCli(const CliRequest& request, SystemCalls& system, std::wostream& out,
           std::wostream& err, const CivIniWhere& where) {
    if (const std::wstring usage = CheckRequest(request); !usage.empty()) {
        err << L"quenbrook: " << usage << L'\n';
        return kExitUsage;
    }
    SettingsFile settings(system);
    settings.SetIniFilePath(kCivIniPath);
    const std::wstring file = system.HostPath(settings.IniFilePath());
    auto failed = [&](const std::wstring& what, const Status& status) {
        err << L"quenbrook: " << what << L": " << status.reason() << L" (" << file << L")\n";
        return kExitFailed;
    };

    // Unlock first: a locked file cannot take the key, and --unlock --enable asks for both.
    if (request.unlock) {
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
        const std::wstring path = StoredPath(settings);
        if (path.empty()) return failed(L"no game to launch", Status::Fail(L"no game path is stored"));
        if (Status s = LaunchGame(system, path); !s) {
            err << L"quenbrook: Civ 2 could not be started: " << s.reason() << L'\n';
            return kExitFailed;
        }
    }
    if (request.status) {
        if (!where.found.empty()) out << where.found << L'\n';
        // "no" would be a guess about a file that is not there.
        if (!where.present) return failed(L"civ.ini is missing", where.present);
        const bool on = settings.ReadIniString(kOptionSection, kOptionKey, settings.IniFilePath()) ==
                        kSimultaneousOn;
        out << L"civ.ini: " << file << L'\n'
            << L"Simultaneous=1: " << (on ? L"yes" : L"no") << L'\n'
            << L"read-only: " << (system.IsReadOnly(kCivIniForAttributes) ? L"yes" : L"no") << L'\n'
            << L"game path: " << StoredPath(settings) << L'\n';
    }
    return kExitDone;
}

}  // namespace quenbrook
