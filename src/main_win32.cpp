// Quenbrook for Windows: the command line when there are arguments, the window otherwise.
#include "platform/win32/windows_api.h"
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "main_window/win32/form1_window.h"
#include "platform/win32/win32_cli.h"
#include "platform/win32/win32_system.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    int count = 0;
    std::vector<std::wstring> arguments;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
        LocalFree(argv);
    }
    quenbrook::Win32System system;
    if (!arguments.empty()) return quenbrook::RunCommandLine(arguments, system);

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
