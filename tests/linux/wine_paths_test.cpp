// Windows paths inside the Wine prefix, and the profile calls of LinuxSystem that go
// through them: the file the game uses is found whatever the letter case, and nothing
// is ever created by looking.
#include "platform/linux/wine_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "platform/linux/linux_system.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Sets an environment variable (nullptr: unsets it) and puts the old value back.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) saved = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { saved ? ::setenv(name, saved->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> saved;
};

// Every path under root, to show that an operation created nothing.
std::set<std::string> Tree(const fs::path& root) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.insert(entry.path().string());
    return paths;
}

std::string Reason(const Status& status) {
    return std::string(status.reason().begin(), status.reason().end());
}

TEST(WinePaths, PrefixIsWineprefixElseWineInHome) {
    const ScopedEnv home("HOME", "/home/player");
    for (const auto& [set, expected] : {std::pair<const char*, const char*>{"/games/p", "/games/p"},
                                        {"", "/home/player/.wine"}, {nullptr, "/home/player/.wine"}}) {
        const ScopedEnv prefix("WINEPREFIX", set);
        EXPECT_EQ(WinePrefixFromEnvironment(), expected);
    }
}

// Two prefixes: "plain" has drive_c/WINDOWS/CIV.INI only; "dos" maps c: to "elsewhere"
// through dosdevices. Each row: prefix, Windows path, the host path under the prefix.
TEST(WinePaths, ComponentsMatchWhateverTheirCaseAndDrivesGoThroughDosdevices) {
    TempDir dir;
    fs::create_directories(dir / "plain/drive_c/WINDOWS");
    WriteFile(dir / "plain/drive_c/WINDOWS/CIV.INI", "");
    fs::create_directories(dir / "dos/elsewhere");
    fs::create_directories(dir / "dos/dosdevices");
    fs::create_directory_symlink("../elsewhere", dir / "dos/dosdevices/c:");
    WriteFile(dir / "dos/elsewhere/Civ.ini", "");
    const char* rows[][3] = {
        {"plain", "C:\\windows\\civ.ini", "drive_c/WINDOWS/CIV.INI"},
        {"plain", "c:/Windows//Civ.Ini", "drive_c/WINDOWS/CIV.INI"},
        {"plain", "C:\\windows\\Civ2\\Civ.ini", "drive_c/WINDOWS/Civ2/Civ.ini"},  // the rest as written
        {"plain", "C:\\civ.ini", "drive_c/civ.ini"},
        {"dos", "C:\\CIV.INI", "dosdevices/c:/Civ.ini"},
        {"dos", "d:\\civ.ini", "dosdevices/d:/civ.ini"},
        {"dos", "\\\\server\\games\\CIV2.EXE", "dosdevices/unc/server/games/CIV2.EXE"},
    };
    for (const auto& row : rows) EXPECT_EQ(MapWindowsPath(dir / row[0], row[1]), dir / row[0] / row[2]) << row[1];
}

// The profile calls of LinuxSystem on a prefix of its own, in a UTF-8 locale.
class LinuxSystemProfile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::setlocale(LC_ALL, "C.UTF-8"));
        fs::create_directories(prefix / "drive_c" / "MPS" / "CIV2");
        WriteFile(game, "[Civilization Gold]\r\nSimultaneous=0\r\n");
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }

    TempDir dir;
    const fs::path prefix = dir / "prefix";
    const fs::path game = prefix / "drive_c" / "MPS" / "CIV2" / "CIV.INI";
    LinuxSystem host{prefix, nullptr};
};

// The game's file is found whatever the case of the path, and never doubled; looking
// creates nothing; a missing prefix is named; host paths are taken as they are.
TEST_F(LinuxSystemProfile, TheGamesFileWhateverTheCaseAndNothingCreatedByLooking) {
    const std::wstring path = L"C:\\mps\\civ2\\civ.ini";
    EXPECT_EQ(host.HostPath(path), game.wstring());
    EXPECT_EQ(host.GetProfileString(L"Civilization Gold", L"Simultaneous", L"?", path), L"0");
    ASSERT_TRUE(host.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", path).ok());
    EXPECT_EQ(ReadFile(game), "[Civilization Gold]\r\nSimultaneous=1\r\n");
    EXPECT_EQ(Tree(game.parent_path()), std::set<std::string>{game.string()});

    const auto before = Tree(dir.path());
    for (const wchar_t* file : {L"C:\\MPS\\NoSuchFolder\\civ.ini", L"D:\\civ.ini"})
        EXPECT_EQ(host.GetProfileString(L"Civilization Gold", L"Simultaneous", L"fb", file), L"fb");
    EXPECT_FALSE(host.IsReadOnly(L"C:\\MPS\\NoSuchFolder\\civ.ini"));
    host.HostPath(L"C:\\New\\civ.ini");
    EXPECT_EQ(Tree(dir.path()), before);

    LinuxSystem missing(dir / "no-prefix", nullptr);
    EXPECT_EQ(missing.GetProfileString(L"a", L"b", L"fb", L"C:\\civ.ini"), L"fb");
    EXPECT_EQ(Reason(missing.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", L"C:\\civ.ini")),
              "there is no Wine prefix at " + (dir / "no-prefix").string() +
                  " (set WINEPREFIX to the prefix the game uses)");
    EXPECT_FALSE(fs::exists(dir / "no-prefix"));

    const fs::path plain = dir / "plain.ini";
    EXPECT_EQ(host.HostPath(plain.wstring()), plain.wstring());
    ASSERT_TRUE(host.WriteProfileString(L"S", L"k", L"v", plain.wstring()).ok());
    EXPECT_EQ(ReadFile(plain), "[S]\r\nk=v\r\n");
}

TEST_F(LinuxSystemProfile, ValuesComeBackWholeInThePrefixCodePage) {
    const std::wstring path = L"C:\\MPS\\CIV2\\CIV.INI";
    const std::wstring longValue(10000, L'x');
    ASSERT_TRUE(host.WriteProfileString(L"Civilization Gold", L"Long", longValue, path).ok());
    EXPECT_EQ(host.GetProfileString(L"Civilization Gold", L"Long", L"", path), longValue);

    ASSERT_TRUE(host.WriteProfileString(L"Städte", L"Zürich", L"Ärger", path).ok());
    EXPECT_NE(ReadFile(game).find("[St\xe4" "dte]\r\nZ\xfcrich=\xc4rger\r\n"), std::string::npos);
    EXPECT_EQ(host.GetProfileString(L"Städte", L"Zürich", L"", path), L"Ärger");
}

TEST_F(LinuxSystemProfile, TextThatCannotBeWrittenIsRefusedWithItsReason) {
    const std::string before = ReadFile(game);
    const std::wstring path = L"C:\\MPS\\CIV2\\CIV.INI";
    Status status = host.WriteProfileString(L"Civilization Gold", L"Simultaneous", std::wstring(L"1\0x", 3), path);
    EXPECT_EQ(Reason(status), "the value contains a NUL character");
    status = host.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1\n", path);
    EXPECT_EQ(Reason(status), "the value contains a line break");

    status = host.WriteProfileString(L"Civilization Gold", L"Z\u03a9rich", L"1", path);
    EXPECT_EQ(Reason(status), "the key name holds a character that civ.ini's encoding (code page 1252) cannot hold");
    EXPECT_EQ(ReadFile(game), before);
}

TEST_F(LinuxSystemProfile, ReadOnlyMeansNoWriteBitAtAll) {
    const std::wstring path = L"c:\\mps\\civ2\\civ.ini";
    for (const auto& [mode, readOnly] :
         {std::pair{0444u, true}, {0464u, false}, {0400u, true}, {0200u, false}}) {
        ASSERT_EQ(::chmod(game.c_str(), mode), 0);
        EXPECT_EQ(host.IsReadOnly(path), readOnly) << std::oct << mode;
    }
    EXPECT_FALSE(host.IsReadOnly(L"C:\\MPS\\CIV2\\missing.ini"));
}

}  // namespace
}  // namespace quenbrook
