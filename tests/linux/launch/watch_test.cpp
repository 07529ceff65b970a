// The 2-s watch of a started game: a file that is no program Wine runs is refused before
// Wine starts; Wine's failure comes back in its own last words; a game that ends well or
// runs on counts as started, and the log of the start before stays apart. A shell script
// stands in for Wine.
#include <gtest/gtest.h>
#include <signal.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "support/cases.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {
namespace fs = std::filesystem;
using testing::WriteFile;

class Watch : public ::testing::TestWithParam<testing::Case> {};
TEST_P(Watch, StartedOrWhyNot) {
    const auto& row = GetParam();
    testing::TempDir temp;
    for (const char* folder : {"prefix/drive_c", "lib/wine", "bin"}) fs::create_directories(temp / folder);
    // "pe MACHINE SUBSYSTEM": "MZ", at 0x3c the offset of "PE\0\0" (0x40), the machine, the
    // rest of the file header (18 bytes), and the subsystem 68 bytes into the optional header.
    std::string game = row[5];
    if (unsigned machine, subsystem; std::sscanf(game.c_str(), "pe %x %x", &machine, &subsystem) == 2) {
        game = "MZ" + std::string(58, '\0') + std::string("\x40\0\0\0PE\0\0", 8) + std::string(96, '\0');
        game[68] = static_cast<char>(machine & 0xff), game[69] = static_cast<char>(machine >> 8);
        game[64 + 24 + 68] = static_cast<char>(subsystem);
    }
    fs::create_directories(temp / "prefix" / "drive_c" / "Zivilisation ä");
    WriteFile(temp / "prefix" / "drive_c" / "Zivilisation ä" / "civ2.exe", game);
    fs::create_directories(temp / "state" / "quenbrook");
    WriteFile(temp / "state" / "quenbrook" / "game.log", "the start before\n");
    std::istringstream libs(row[1]);
    for (std::string lib; libs >> lib;) WriteFile(temp / "lib" / "wine" / lib, "");
    const fs::path wine = temp / "bin" / "wine";
    WriteFile(wine, "#!/bin/sh\ntouch \"$0.ran\"\n" + row[0] + "\n");
    fs::permissions(wine, fs::perms(0755));
    setenv("WINE", wine.c_str(), 1);
    setenv("XDG_STATE_HOME", (temp / "state").c_str(), 1);
    // A parent that ignores SIGCHLD: the system reaps Wine before the watch can ask how it ended.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = row[6] == "sigchld" ? SIG_IGN : SIG_DFL;
    sigaction(SIGCHLD, &ignore, &before);
    const auto is = row[6].find('=');
    if (is != std::string::npos) setenv(row[6].substr(0, is).c_str(), row[6].substr(is + 1).c_str(), 1);
    // File names in UTF-8 whatever the environment says, as the program has them.
    const std::string locale = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const Status status = LinuxSystem(temp / "prefix", nullptr).StartProgram(L"C:\\Zivilisation \u00e4\\civ2.exe", 3, true);
    std::string reason(row[3]);
    if (const auto at = reason.find("{wine}"); at != std::string::npos) reason.replace(at, 6, wine.string());
    EXPECT_EQ(status.reason(), FromNarrow(reason));
    std::setlocale(LC_CTYPE, locale.c_str());
    if (is != std::string::npos) unsetenv(row[6].substr(0, is).c_str());
    sigaction(SIGCHLD, &before, nullptr);
    EXPECT_EQ(status.ok(), row[2] == "started");
    EXPECT_EQ(fs::exists(temp / "bin" / "wine.ran"), row[2] != "refused");
    const std::string log = testing::ReadFile(temp / "state" / "quenbrook" / "game.log");
    if (row.at(4)) {
        EXPECT_EQ(log, row[2] == "refused" ? "the start before\n" : row[4]);
    }
    if (row[2] != "refused") {
        EXPECT_EQ(testing::ReadFile(temp / "state" / "quenbrook" / "game.log.1"), "the start before\n");
    }
}
INSTANTIATE_CASES(Watch, "launch_watch");

}  // namespace
}  // namespace quenbrook
