// A 32-bit stand-in for Civ2.exe: writes to started.txt in its working folder its
// command line, that folder and what the game's own profile call reads for the option,
// then stays running for a few seconds and notes when it ends.
#include <windows.h>

#include <cstdio>

int main() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    char option[64] = {};
    GetPrivateProfileStringA("Civilization Gold", "Simultaneous", "(none)", option, sizeof option,
                             "civ.ini");
    FILE* out = std::fopen("started.txt", "w");
    if (!out) return 1;
    std::fprintf(out, "line: %s\nfolder: %s\noption: %s\n", GetCommandLineA(), folder, option);
    std::fclose(out);
    Sleep(5000);
    out = std::fopen("started.txt", "a");
    if (out) std::fputs("ended\n", out);
    if (out) std::fclose(out);
    return 0;
}
