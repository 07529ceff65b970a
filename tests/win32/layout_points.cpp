// Host tool for the window test: prints, for every control of the layout, its name and
// the pixel at its centre relative to the window's client area at 96 dots per inch,
// so that the test clicks where the design puts each control.
#include <iostream>

#include "main_window/layout.h"

int main() {
    using namespace quenbrook::layout;
    std::cout << "Form1 " << ToPixels(MainWindow().clientWidth) << ' '
              << ToPixels(MainWindow().clientHeight) << '\n';
    for (const Control& c : Controls()) {
        int left = c.left, top = c.top;
        if (!c.container.empty()) {
            left += Find(c.container)->left;
            top += Find(c.container)->top;
        }
        std::cout << c.name << ' ' << ToPixels(left + c.width / 2) << ' '
                  << ToPixels(top + c.height / 2) << '\n';
    }
}
