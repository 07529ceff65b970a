// Windows paths inside the Wine prefix, and the profile calls of LinuxSystem that go
// through them: the file the game uses is found whatever the letter case, and nothing
// is ever created by looking.
#include "platform/linux/wine_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "platform/linux/linux_system.h"
#include "support/cases.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Every path under root, to show that an operation created nothing.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root)) paths.insert(entry.path().string());
    return paths;
}

TEST(WinePaths, PrefixIsWineprefixElseWineInHome) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", "/home/player", 1);
    for (const auto& [set, expected] : {std::pair<const char*, const char*>{"/games/p", "/games/p"},
                                        {"", "/home/player/.wine"}, {nullptr, "/home/player/.wine"}}) {
        set ? ::setenv("WINEPREFIX", set, 1) : ::unsetenv("WINEPREFIX");
        EXPECT_EQ(WinePrefixFromEnvironment(), expected);
    }
    ::setenv("HOME", home.c_str(), 1);
}

// The two prefixes the tables name, in a fresh folder.
class WinePrefixes : public ::testing::TestWithParam<testing::Case> {
protected:
    void SetUp() override {
        fs::create_directories(dir / "plain/drive_c/WINDOWS");
        fs::create_directories(dir / "plain/drive_c/Program Files/Civ 2");
        WriteFile(dir / "plain/drive_c/WINDOWS/CIV.INI", "");
        fs::create_directories(dir / "dos/elsewhere/Program Files/Civ 2");
        WriteFile(dir / "dos/elsewhere/Civ.ini", "");
        fs::create_directories(dir / "dos/dosdevices");
        fs::create_directories(dir / "media/sub");
        for (const auto& [drive, target] : {std::pair<const char*, fs::path>{"c:", "../elsewhere"},
                                            {"d:", dir / "media"}, {"e:", dir / "media/sub"}, {"z:", "/"},
                                            {"com1", dir / "media"}})
            fs::create_directory_symlink(target, dir / "dos/dosdevices" / drive);
    }
    TempDir dir;
};

class WinePathMap : public WinePrefixes {};
TEST_P(WinePathMap, ComponentsMatchWhateverTheirCaseDrivesGoThroughDosdevices) {
    const auto& row = GetParam();
    EXPECT_EQ(MapWindowsPath(dir / row[0], row[1]), dir / row[2]);
}
INSTANTIATE_CASES(WinePathMap, "wine_paths");

class WindowsForm : public WinePrefixes {};
TEST_P(WindowsForm, AsWinepathGivesIt) {
    const auto& row = GetParam();
    EXPECT_EQ(WindowsFormOf(dir / row[0], row[1].starts_with('/') ? fs::path(row[1]) : dir / row[1]), row.at(2));
}
INSTANTIATE_CASES(WindowsForm, "windows_form");

// The profile calls of LinuxSystem on a prefix of its own.
class LinuxSystemProfile : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(game.parent_path());
        WriteFile(game, "[Civilization Gold]\r\nSimultaneous=0\r\n");
    }
    TempDir dir;
    const fs::path prefix = dir / "prefix";
    const fs::path game = prefix / "drive_c/MPS/CIV2/CIV.INI";
    LinuxSystem host{prefix, nullptr};
};

// The game's file is found whatever the case of the path, and never doubled; values come
// back whole; looking creates nothing; a missing prefix is named; host paths are taken as they are.
TEST_F(LinuxSystemProfile, TheGamesFileWhateverTheCaseAndNothingCreatedByLooking) {
    const std::wstring path = L"C:\\mps\\civ2\\civ.ini";
    EXPECT_EQ(host.HostPath(path), game.wstring());
    EXPECT_EQ(host.GetProfileString(L"Civilization Gold", L"Simultaneous", L"?", path), L"0");
    ASSERT_TRUE(host.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", path).ok());
    EXPECT_EQ(ReadFile(game), "[Civilization Gold]\r\nSimultaneous=1\r\n");
    EXPECT_EQ(Tree(game.parent_path()), std::set<std::string>{game.string()});
    const std::wstring longValue(10000, L'x');
    ASSERT_TRUE(host.WriteProfileString(L"Civilization Gold", L"Long", longValue, path).ok());
    EXPECT_EQ(host.GetProfileString(L"Civilization Gold", L"Long", L"", path), longValue);

    const auto before = Tree(dir.path());
    for (const wchar_t* file : {L"C:\\MPS\\NoSuchFolder\\civ.ini", L"D:\\civ.ini"})
        EXPECT_EQ(host.GetProfileString(L"Civilization Gold", L"Simultaneous", L"fb", file), L"fb");
    EXPECT_FALSE(host.IsReadOnly(L"C:\\MPS\\NoSuchFolder\\civ.ini"));
    host.HostPath(L"C:\\New\\civ.ini");
    EXPECT_EQ(Tree(dir.path()), before);

    LinuxSystem missing(dir / "no-prefix", nullptr);
    EXPECT_EQ(missing.GetProfileString(L"a", L"b", L"fb", L"C:\\civ.ini"), L"fb");
    EXPECT_EQ(missing.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", L"C:\\civ.ini").reason(),
              L"there is no Wine prefix at " + (dir / "no-prefix").wstring() +
                  L" (set WINEPREFIX to the prefix the game uses)");
    EXPECT_FALSE(fs::exists(dir / "no-prefix"));

    const fs::path plain = dir / "plain.ini";
    EXPECT_EQ(host.HostPath(plain.wstring()), plain.wstring());
    ASSERT_TRUE(host.WriteProfileString(L"S", L"k", L"v", plain.wstring()).ok());
    EXPECT_EQ(ReadFile(plain), "[S]\r\nk=v\r\n");
}

TEST_F(LinuxSystemProfile, ReadOnlyMeansNoWriteBitAtAll) {
    for (const auto& [mode, readOnly] : {std::pair{0444u, true}, {0464u, false}, {0400u, true}, {0200u, false}}) {
        ASSERT_EQ(::chmod(game.c_str(), mode), 0);
        EXPECT_EQ(host.IsReadOnly(L"c:\\mps\\civ2\\civ.ini"), readOnly) << std::oct << mode;
    }
    EXPECT_FALSE(host.IsReadOnly(L"C:\\MPS\\CIV2\\missing.ini"));
}

}  // namespace
}  // namespace quenbrook
