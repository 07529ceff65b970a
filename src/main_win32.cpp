// Quenbrook for Windows: the command line when there are options, the window otherwise.
#include "platform/win32/windows_api.h"
#include <commctrl.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "main_window/win32/form1_window.h"
#include "platform/win32/win32_cli.h"
#include "platform/win32/win32_system.h"
#include "settings_file/settings_file.h"

namespace {

// The command line: the same words as on Linux, on the console or pipe that started us.
int RunCommandLine(const quenbrook::CliRequest& request, const std::vector<std::string>& arguments,
                   quenbrook::SystemCalls& system) {
    quenbrook::CivIniWhere where;
    const std::wstring civIni = system.HostPath(quenbrook::kCivIniPath);
    where.civIniMissing = GetFileAttributesW(civIni.c_str()) == INVALID_FILE_ATTRIBUTES;
    std::wostringstream out, err;
    const int code = quenbrook::RunCli(request, system, out, err, where);
    std::wstring errors = err.str();
    // A game run as administrator: the command line says how to do it with those rights.
    if (code == quenbrook::kExitFailed && (request.enable || request.unlock)) {
        std::vector<std::wstring> wide;
        for (const std::string& argument : arguments) wide.push_back(quenbrook::FromUtf8(argument));
        errors += quenbrook::AdministratorAdvice(wide);
    }
    quenbrook::WriteOut(out.str());
    quenbrook::WriteErr(errors);
    // A menu's shortcut has no console to read the failure in.
    if (code != quenbrook::kExitDone && request.showFailure)
        MessageBoxW(nullptr, quenbrook::ForAWindow(errors).c_str(), L"Quenbrook",
                    MB_OK | MB_ICONWARNING);
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    using Mode = quenbrook::Arguments::Mode;
    const std::vector<std::string> arguments = quenbrook::ArgumentsInUtf8();
    const quenbrook::Arguments parsed = quenbrook::ParseArguments(arguments, /*winePrefix=*/false);
    quenbrook::Win32System system;
    switch (parsed.mode) {
    case Mode::Window:
        break;
    case Mode::Cli:
        return RunCommandLine(parsed.request, arguments, system);
    case Mode::Help:
        quenbrook::WriteOut(quenbrook::FromUtf8(quenbrook::kHelpText));
        return quenbrook::kExitDone;
    case Mode::Version:
        quenbrook::WriteOut(L"quenbrook " + quenbrook::FromUtf8(quenbrook::kVersion) + L"\n");
        return quenbrook::kExitDone;
    case Mode::Usage:
        quenbrook::WriteErr(L"quenbrook: " + quenbrook::FromUtf8(parsed.error) + L"\n" +
                            quenbrook::FromUtf8(quenbrook::kTryHelp) + L"\n");
        return quenbrook::kExitUsage;
    }

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    quenbrook::Win32WindowSystem windowSystem;
    quenbrook::Form1Window window(system, windowSystem);
    if (!window.Create(instance)) {
        MessageBoxA(nullptr, "The window could not be created.", "Quenbrook", MB_OK);
        return 1;
    }
    window.Show(showCommand);
    return window.Run();
}
