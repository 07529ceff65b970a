// Writes the link labels' hand (layout::HandCursorRows) as a Windows .cur file:
//   g++ -std=c++20 -I src resources/windows/make_hand_cursor.cpp src/main_window/layout.cpp
//   ./a.out resources/windows/hand.cur
// quenbrook.rc takes the file as it is committed; scripts/windows-test checks that it
// still matches the layout.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <vector>

#include "main_window/layout.h"

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xff));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xff));
}

void Put32(std::vector<std::uint8_t>& out, unsigned long v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xff));
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quenbrook::layout;
    if (argc != 2) {
        std::cerr << "usage: make_hand_cursor OUT.cur\n";
        return 2;
    }
    const auto rows = HandCursorRows();
    const unsigned n = kHandCursorSize;
    const unsigned rowBytes = n / 8;  // 32 one-bit pixels: already a whole DWORD
    const unsigned long imageSize = 40 + 8 + 2ul * rowBytes * n;

    std::vector<std::uint8_t> out;
    // The file's directory: one cursor image with its hot spot.
    Put16(out, 0);
    Put16(out, 2);
    Put16(out, 1);
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(static_cast<std::uint8_t>(n));
    out.push_back(0);
    out.push_back(0);
    Put16(out, kHandHotSpotX);
    Put16(out, kHandHotSpotY);
    Put32(out, imageSize);
    Put32(out, 22);
    // BITMAPINFOHEADER: the height counts the colour bits and the mask.
    Put32(out, 40);
    Put32(out, n);
    Put32(out, 2 * n);
    Put16(out, 1);
    Put16(out, 1);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    // Palette: 0 black, 1 white.
    Put32(out, 0x000000);
    Put32(out, 0xffffff);
    // Colour bits, then the mask; rows bottom-up. Mask 1 leaves the screen as it is.
    for (int pass = 0; pass < 2; ++pass) {
        for (unsigned y = n; y-- > 0;) {
            for (unsigned byte = 0; byte < rowBytes; ++byte) {
                std::uint8_t bits = 0;
                for (unsigned bit = 0; bit < 8; ++bit) {
                    const char c = rows[y][byte * 8 + bit];
                    const bool set = pass == 0 ? c == '.' : c == ' ';
                    if (set) bits = static_cast<std::uint8_t>(bits | (0x80 >> bit));
                }
                out.push_back(bits);
            }
        }
    }
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
