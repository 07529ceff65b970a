// The 2-s watch of a started game: Wine's failure comes back in its own words; a game that
// ends well or runs on counts as started. A shell script stands in for Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "platform/linux/linux_system.h"
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
    // A 32-bit program's header: "MZ", at 0x3c the PE header's offset, "PE\0\0", machine 0x14c.
    WriteFile(temp / "prefix" / "drive_c" / "civ2.exe", "MZ" + std::string(58, '\0') + std::string("@\0\0\0PE\0\0L\x01", 10));
    std::istringstream libs(row[1]);
    for (std::string lib; libs >> lib;) WriteFile(temp / "lib" / "wine" / lib, "");
    const fs::path wine = temp / "bin" / "wine";
    WriteFile(wine, "#!/bin/sh\ntouch \"$0.ran\"\n" + row[0] + "\n");
    fs::permissions(wine, fs::perms(0755));
    setenv("WINE", wine.c_str(), 1);
    setenv("XDG_STATE_HOME", (temp / "state").c_str(), 1);
    const Status status = LinuxSystem(temp / "prefix", nullptr).StartProgram(L"C:\\civ2.exe", 3, true);
    std::string reason(row[3]);
    if (const auto at = reason.find("{wine}"); at != std::string::npos) reason.replace(at, 6, wine.string());
    EXPECT_EQ(std::string(status.reason().begin(), status.reason().end()), reason);
    EXPECT_EQ(status.ok(), row[2] == "started");
    EXPECT_EQ(fs::exists(temp / "bin" / "wine.ran"), row[2] != "refused");
    EXPECT_EQ(testing::ReadFile(temp / "state" / "quenbrook" / "game.log"), row[4]);
}
INSTANTIATE_CASES(Watch, "launch_watch");

}  // namespace
}  // namespace quenbrook
