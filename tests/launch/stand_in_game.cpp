// A 32-bit stand-in for Civ2.exe: writes to started.txt in its working folder its command
// line, that folder and the option as the game's own profile call reads it, then runs on.
#include <windows.h>

#include <cstdio>

int main() {
    char folder[MAX_PATH] = {}, option[64] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    GetPrivateProfileStringA("Civilization Gold", "Simultaneous", "(none)", option, sizeof option, "civ.ini");
    FILE* out = std::fopen("started.txt", "w");
    if (!out) return 1;
    std::fprintf(out, "line: %s\nfolder: %s\noption: %s\n", GetCommandLineA(), folder, option);
    std::fclose(out);
    Sleep(5000);
    return 0;
}
