// The Windows tests' helper under Wine. window_probe MODE prints:
//   points    each control's name and centre in client pixels at 96 dots per inch, where the
//             layout puts it ("Form1": the client area's size)
//   buttons   "focus=<button> outlined=<buttons>" of the main window
//   message   the text of the open message box; readonly: whether the open dialog shows its
//             read-only box; close T: asks the visible top-level window titled T to close
//   oracle FOLDER BATCH RESULTS   the differential test's reads (BATCH: file in FOLDER,
//             section, key) by Wine's profile call; NUL ends every field
// Without MODE, or with options ("-x", "/x") instead, it stands in for the game: started.txt
// in its current folder gets that folder, its window style (-1: none asked) and its
// arguments, a line each.
#include <windows.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

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
    if (what.empty() || what[0] == '-' || what[0] == '/') {
        char folder[MAX_PATH * 4] = {};
        GetCurrentDirectoryA(sizeof folder, folder);
        STARTUPINFOA startup{};
        GetStartupInfoA(&startup);
        const int style = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
        std::ofstream started("started.txt");
        started << folder << '\n' << style << '\n';
        for (int i = 1; i < argc; ++i) started << argv[i] << '\n';
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
            if (SendMessageA(c, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)
                outlined.append(outlined.empty() ? "" : ",").append(Text(c));
        std::cout << "focus=" << Text(thread.hwndFocus) << " outlined=" << outlined << '\n';
    } else if (what == "message") {
        HWND box = Visible("#32770", "Quenbrook");
        if (!box) return 1;
        for (HWND c = nullptr; (c = FindWindowExA(box, c, "Static", nullptr));)
            if (!Text(c).empty()) std::cout << Text(c) << '\n';
    } else if (what == "readonly") {
        HWND dialog = Visible("#32770", "Open");
        if (!dialog) return 1;
        HWND box = GetDlgItem(dialog, 0x410);  // chx1, "Open as read-only"
        std::cout << (box && IsWindowVisible(box) ? "shown" : "hidden") << '\n';
    } else if (what == "oracle" && argc == 5) {
        std::ifstream batch(argv[3], std::ios::binary);
        std::ofstream results(argv[4], std::ios::binary);
        std::vector<char> buffer(1 << 20);
        std::string file, section, key;
        while (std::getline(batch, file, '\0') && std::getline(batch, section, '\0') &&
               std::getline(batch, key, '\0')) {
            const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01missing", buffer.data(),
                                                     buffer.size(), (std::string(argv[2]) + "\\" + file).c_str());
            results.write(buffer.data(), n) << '\0';
        }
        return results ? 0 : 1;
    } else if (what == "close" && argc > 2) {
        HWND window = Visible(nullptr, argv[2]);
        if (!window) return 1;
        PostMessageA(window, WM_CLOSE, 0, 0);
    } else {
        return 2;
    }
    return 0;
}
