// A 32-bit stand-in for Civ2.exe: writes to started.txt in its working folder its command
// line, that folder, the option as the game's own profile call reads it and the window
// state it was asked for, then runs on. Built with QUENBROOK_NEEDS_GONE it imports from a
// DLL that is nowhere, so Wine cannot load it.
#include <windows.h>

#include <cstdio>

#ifdef QUENBROOK_NEEDS_GONE
extern "C" __declspec(dllimport) int quenbrook_gone();
#endif

int main() {
#ifdef QUENBROOK_NEEDS_GONE
    if (quenbrook_gone()) return 2;
#endif
    char folder[MAX_PATH] = {}, option[64] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    GetPrivateProfileStringA("Civilization Gold", "Simultaneous", "(none)", option, sizeof option, "civ.ini");
    STARTUPINFOA start{};
    GetStartupInfoA(&start);
    const int show = start.dwFlags & STARTF_USESHOWWINDOW ? start.wShowWindow : -1;
    FILE* out = std::fopen("started.txt", "w");
    if (!out) return 1;
    std::fprintf(out, "line: %s\nfolder: %s\noption: %s\nshow: %d\n", GetCommandLineA(), folder, option, show);
    std::fclose(out);
    Sleep(5000);
    return 0;
}
