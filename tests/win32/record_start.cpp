// Started by the backend tests: writes its working folder, its window style and its
// arguments, one a line, to the file named by its last argument, or to started.txt in
// its working folder when it has none.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    char folder[MAX_PATH * 4] = {};
    GetCurrentDirectoryA(sizeof folder, folder);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    FILE* out = std::fopen(argc > 1 ? argv[argc - 1] : "started.txt", "wb");
    if (!out) return 1;
    std::fprintf(out, "%s\n%d\n", folder,
                 (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1);
    for (int i = 1; i < argc - 1; ++i) std::fprintf(out, "%s\n", argv[i]);
    std::fclose(out);
    return 0;
}
