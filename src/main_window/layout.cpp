#include "main_window/layout.h"

#include <array>

namespace quenbrook::layout {

namespace {

constexpr Rgb kOlive{192, 192, 0};
constexpr Rgb kNavy{0, 0, 64};
constexpr Rgb kLinkBlue{0, 0, 192};
constexpr std::string_view kSansSerif = "MS Sans Serif";

constexpr Window kWindow{L"Quenbrook", 5655, 3615, kOlive, Font{kSansSerif, 8.25}};

// clang-format off
constexpr std::array kControls = {
    Control{"Label1", Kind::Label, "", L"Your Civ 2 Multiplayer Can Now Have Simultaneous Movement.",
            210, 60, 5325, 675, 0, true, true, kNavy, std::nullopt, Font{kSansSerif, 13.5}, true, true},
    Control{"Label2", Kind::Label, "", L"Program By: The Quenbrook Developers",
            510, 810, 4515, 345, 1, true, true, kLinkBlue, std::nullopt, Font{kSansSerif, 12}, true, false, true},
    Control{"Label3", Kind::Label, "", L"http://www.example.org/Forum3/HTML/000051.html",
            210, 1440, 5415, 345, 2, true, true, kLinkBlue, std::nullopt, Font{kSansSerif, 9.75}, true, false, true},
    Control{"Label4", Kind::Label, "", L"Idea From:",
            540, 1140, 4515, 345, 3, true, true, kNavy, std::nullopt, Font{kSansSerif, 12}, true},
    Control{"Command2", Kind::Button, "", L"View civ.ini", 90, 2880, 2055, 315, 4},
    Control{"Command4", Kind::Button, "", L"Exit", 2070, 3270, 1395, 315, 5},
    Control{"Command5", Kind::Button, "", L"Return To Normal Atributes", 3360, 2880, 2115, 315, 6},
    Control{"Text1", Kind::TextBox, "", L"1", 0, 960, 150, 285, 7, false},
    Control{"Frame1", Kind::Frame, "", L"Set Option and Leave File Alone",
            90, 2130, 2535, 675, 8, true, true, std::nullopt, kOlive},
    Control{"Frame2", Kind::Frame, "", L"Set Option and Set File Read Only",
            2880, 2130, 2625, 675, 9, true, true, std::nullopt, kOlive},
    Control{"Command1", Kind::Button, "Frame1", L"Do It", 180, 270, 1515, 315, 10},
    Control{"Command6", Kind::Button, "Frame2", L"Do It", 180, 270, 1785, 315, 11},
    Control{"Command3", Kind::Button, "Frame1", L"<-?", 1980, 270, 405, 315, 12},
    Control{"Command9", Kind::Button, "Frame2", L"<-?", 2130, 270, 375, 315, 13},
    Control{"civ2", Kind::TextBox, "", L"", 1320, 1770, 3255, 285, 14},
    Control{"Label7", Kind::Label, "", L"Civ 2 Location",
            -60, 1770, 1395, 255, 15, true, true, kNavy, std::nullopt, std::nullopt, true},
    Control{"Command7", Kind::Button, "", L"Launch Civ 2", 2190, 2880, 1125, 315, 16, true, false},
    Control{"Command8", Kind::Button, "", L"Command8", 4620, 3240, 105, 195, 17, false},
    Control{"Command10", Kind::Button, "", L"Browse", 4680, 1800, 855, 255, 18},
    Control{"CommonDialog1", Kind::FileDialog, "", L"", 0, 0, 0, 0, -1, false},
};

constexpr std::array<std::string_view, kHandCursorSize> kHandCursor = {
    "     XX                         ",
    "    X..X                        ",
    "    X..X                        ",
    "    X..X                        ",
    "    X..X                        ",
    "    X..XXX                      ",
    "    X..X..XXX                   ",
    "    X..X..X..XX                 ",
    "    X..X..X..X.X                ",
    "XX  X..X..X..X..X               ",
    "X..XX...........X               ",
    "X...X...........X               ",
    " X..............X               ",
    "  X.............X               ",
    "  X............X                ",
    "   X...........X                ",
    "   X..........X                 ",
    "    X.........X                 ",
    "    X........X                  ",
    "     X.......X                  ",
    "     X.......X                  ",
    "     XXXXXXXXX                  ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
};
// clang-format on

}  // namespace

const Window& MainWindow() { return kWindow; }

std::span<const Control> Controls() { return kControls; }

const Control* Find(std::string_view name) {
    for (const Control& c : kControls)
        if (c.name == name) return &c;
    return nullptr;
}

std::span<const std::string_view> HandCursorRows() { return kHandCursor; }

}  // namespace quenbrook::layout
