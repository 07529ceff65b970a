// The engine's side of the command-line and scale benchmarks: one read or one write of
// civ.ini per process, as `quenbrook --status` and `--enable` make them, so that each run
// is timed from process start to exit like the tools it is compared with.
//
//   profile_bench status FILE        prints Simultaneous from [Civilization Gold]
//   profile_bench enable FILE        writes Simultaneous=1
//   profile_bench toggle FILE        writes Simultaneous=0 or =1, the other one than the
//                                    last toggle (kept in FILE.toggle), so every run writes
//   profile_bench make FILE BYTES    writes a civ.ini-like file of about BYTES bytes
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "platform/linux/civ_ini/profile_file.h"

namespace {

constexpr const char* kSection = "Civilization Gold";
constexpr const char* kKey = "Simultaneous";

int Done(const quenbrook::Status& status) {
    if (status) return 0;
    std::wcerr << status.reason() << L"\n";
    return 1;
}

// Sections of keys like the game's, with the key we write near the middle, so a write
// scans half the file before it finds its place.
int Make(const std::string& file, std::size_t bytes) {
    std::string text;
    text.reserve(bytes + 256);
    bool placed = false;
    for (int i = 0; text.size() < bytes; ++i) {
        if (!placed && text.size() >= bytes / 2) {
            text += "[Civilization Gold]\r\nSimultaneous=0\r\nSound=1\r\n";
            placed = true;
        }
        text += "[Section" + std::to_string(i) + "]\r\nPath=C:\\MPS\\CIV2\\SAVE" +
                std::to_string(i) + ".SAV\r\nLevel=" + std::to_string(i % 7) + "\r\n\r\n";
    }
    if (!placed) text += "[Civilization Gold]\r\nSimultaneous=0\r\n";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (argc == 3 && command == "status") {
        const auto value = quenbrook::ReadProfileValue(argv[2], kSection, kKey);
        if (!value) return 1;
        std::printf("%s\n", value->c_str());
        return 0;
    }
    if (argc == 3 && command == "enable")
        return Done(quenbrook::WriteProfileValue(argv[2], kSection, kKey, "1"));
    if (argc == 3 && command == "toggle") {
        const std::string state = std::string(argv[2]) + ".toggle";
        char last = '1';
        if (std::FILE* in = std::fopen(state.c_str(), "r")) {
            last = static_cast<char>(std::fgetc(in));
            std::fclose(in);
        }
        const char* next = last == '1' ? "0" : "1";
        const int result = Done(quenbrook::WriteProfileValue(argv[2], kSection, kKey, next));
        if (std::FILE* out = std::fopen(state.c_str(), "w")) {
            std::fputs(next, out);
            std::fclose(out);
        }
        return result;
    }
    if (argc == 4 && command == "make") return Make(argv[2], std::strtoull(argv[3], nullptr, 10));
    std::fprintf(stderr, "usage: profile_bench status|enable|toggle FILE | make FILE BYTES\n");
    return 2;
}
