// The Windows form Browse stores for a picked host file: the prefix's drives decide.
#include "platform/linux/wine_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace quenbrook {
namespace {
namespace fs = std::filesystem;

struct Row {
    const char* name;
    bool dosdevices;   // the prefix has c: -> ../drive_c, d: -> media, e: -> media/sub, z: -> /
    std::string file;  // under the temporary folder unless it starts with '/'
    std::string windows;  // empty: no drive holds it
};

class WindowsFormTest : public ::testing::TestWithParam<Row> {};

TEST_P(WindowsFormTest, AsWinepathGivesIt) {
    const Row& r = GetParam();
    testing::TempDir temp;
    const fs::path prefix = temp / "prefix";
    fs::create_directories(prefix / "drive_c" / "Program Files" / "Civ 2");
    fs::create_directories(temp / "media" / "sub");
    if (r.dosdevices) {
        fs::create_directories(prefix / "dosdevices");
        fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
        fs::create_directory_symlink(temp / "media", prefix / "dosdevices" / "d:");
        fs::create_directory_symlink(temp / "media" / "sub", prefix / "dosdevices" / "e:");
        fs::create_directory_symlink("/", prefix / "dosdevices" / "z:");
        fs::create_directory_symlink(temp / "media", prefix / "dosdevices" / "com1");
    }
    const fs::path file = r.file.starts_with('/') ? fs::path(r.file) : temp.path() / r.file;
    const auto windows = WindowsFormOf(prefix, file);
    EXPECT_EQ(windows.value_or(""), r.windows);
}

INSTANTIATE_TEST_SUITE_P(
    Files, WindowsFormTest,
    ::testing::Values(
        Row{"DriveC", true, "prefix/drive_c/Program Files/Civ 2/Civ2.exe",
            R"(C:\Program Files\Civ 2\Civ2.exe)"},
        Row{"ThroughTheLinkItself", true, "prefix/dosdevices/c:/Program Files/Civ 2/Civ2.exe",
            R"(C:\Program Files\Civ 2\Civ2.exe)"},
        Row{"DriveRoot", true, "prefix/drive_c", R"(C:\)"},
        Row{"OtherDrive", true, "media/civ2.exe", R"(D:\civ2.exe)"},
        Row{"DeepestDriveWins", true, "media/sub/civ2.exe", R"(E:\civ2.exe)"},
        Row{"RootDrive", true, "/usr/share/doc", R"(Z:\usr\share\doc)"},
        Row{"NoDosdevicesDriveC", false, "prefix/drive_c/Program Files/Civ 2/Civ2.exe",
            R"(C:\Program Files\Civ 2\Civ2.exe)"},
        Row{"OnNoDrive", false, "media/civ2.exe", ""}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenbrook
