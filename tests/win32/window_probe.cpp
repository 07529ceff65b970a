// The window test's helper under Wine:
//   window_probe points    each control's name and centre in client pixels at 96 dots per
//                          inch, where the layout puts it ("Form1": the client area's size)
//   window_probe buttons   "focus=<button> outlined=<buttons>" of the main window
//   window_probe message   the text of the open message box
//   window_probe readonly  whether the open dialog shows its read-only box
//   window_probe close T   asks the visible top-level window titled T to close
//   window_probe           stands in for the game: writes its working folder and its window
//                          style (-1: none asked) to started.txt there
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "main_window/layout.h"

namespace {

std::string Text(HWND window) {
    char text[4096] = {};
    return GetWindowTextA(window, text, sizeof text) ? text : "";
}

HWND Visible(const char* className, const char* title) {
    for (HWND w = FindWindowExA(nullptr, nullptr, className, title); w;
         w = FindWindowExA(nullptr, w, className, title))
        if (IsWindowVisible(w)) return w;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quenbrook::layout;
    const std::string what = argc > 1 ? argv[1] : "";
    if (what.empty()) {
        char folder[MAX_PATH * 4] = {};
        GetCurrentDirectoryA(sizeof folder, folder);
        STARTUPINFOA startup{};
        GetStartupInfoA(&startup);
        const int style = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
        std::ofstream("started.txt") << folder << '\n' << style << '\n';
    } else if (what == "points") {
        std::cout << "Form1 " << ToPixels(MainWindow().clientWidth) << ' '
                  << ToPixels(MainWindow().clientHeight) << '\n';
        for (const Control& c : Controls()) {
            const Control* box = c.container.empty() ? nullptr : Find(c.container);
            std::cout << c.name << ' ' << ToPixels((box ? box->left : 0) + c.left + c.width / 2) << ' '
                      << ToPixels((box ? box->top : 0) + c.top + c.height / 2) << '\n';
        }
    } else if (what == "buttons") {
        HWND main = Visible("QuenbrookForm1", nullptr);
        if (!main) return 1;
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &thread);
        std::string outlined;
        for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (char name[16] = {}; GetClassNameA(c, name, sizeof name) && !lstrcmpiA(name, "Button") &&
                (GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
                if (!outlined.empty()) outlined += ',';
                outlined += Text(c);
            }
        std::printf("focus=%s outlined=%s\n", Text(thread.hwndFocus).c_str(), outlined.c_str());
    } else if (what == "message") {
        HWND box = Visible("#32770", "Quenbrook");
        if (!box) return 1;
        for (HWND c = nullptr; (c = FindWindowExA(box, c, "Static", nullptr));)
            if (!Text(c).empty()) std::printf("%s\n", Text(c).c_str());
    } else if (what == "readonly") {
        HWND dialog = Visible("#32770", "Open");
        if (!dialog) return 1;
        HWND box = GetDlgItem(dialog, 0x410);  // chx1, "Open as read-only"
        std::printf("%s\n", box && IsWindowVisible(box) ? "shown" : "hidden");
    } else if (what == "close" && argc > 2) {
        HWND window = Visible(nullptr, argv[2]);
        if (!window) return 1;
        PostMessageA(window, WM_CLOSE, 0, 0);
    } else {
        return 2;
    }
    return 0;
}
