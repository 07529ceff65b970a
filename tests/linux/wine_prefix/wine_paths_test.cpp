// The player's Wine prefix: which one holds civ.ini, Windows paths inside it (in any letter
// case; looking creates nothing), its code page, and LinuxSystem's profile calls through them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "platform/linux/civ_ini/code_page.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/wine_prefix/prefix_discovery.h"
#include "platform/linux/wine_prefix/wine_paths.h"
#include "settings_file/settings_file.h"
#include "support/cases.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class Discovery : public ::testing::TestWithParam<testing::Case> {};
TEST_P(Discovery, FindsThePrefixOrAsks) {
    const auto& row = GetParam();
    TempDir home;
    std::istringstream files(row[0]);
    for (std::string file; std::getline(files, file, '|');)
        WriteFile(home / file, file.ends_with(".vdf") ? "\"1\"\n{\n\t\"path\"\t\t\"" + (home / "lib").string() + "\"\n}\n"
                                                      : "[Civ2]\r\n");
    const auto under = [&](const std::string& p) { return p.empty() ? "" : (home / p).string(); };
    const fs::path answer = RememberedPrefixFile(home.path(), "");
    ASSERT_TRUE(row[3].empty() || RememberPrefix(answer, home / row[3]).ok());
    const PrefixChoice choice = ChoosePrefix(home.path(), under(row[1]), under(row[2]), ReadRememberedPrefix(answer));
    EXPECT_EQ(choice.prefix.string(), under(row[4]));
    EXPECT_EQ(choice.how, row.wide(5));
    std::wstring launchers;
    for (const LauncherPrefix& candidate : choice.candidates)
        launchers += (launchers.empty() ? L"" : L"|") + candidate.launcher;
    EXPECT_EQ(launchers, row.wide(6));
}
INSTANTIATE_CASES(Discovery, "prefix_discovery");

// Where the window keeps the answer to "which prefix?".
TEST(PrefixAnswer, IsKeptInTheConfigFolder) {
    EXPECT_EQ(RememberedPrefixFile("/h", ""), "/h/.config/quenbrook/prefix");
    EXPECT_EQ(RememberedPrefixFile("/h", "relative"), "/h/.config/quenbrook/prefix");
    EXPECT_EQ(RememberedPrefixFile("/h", "/xdg"), "/xdg/quenbrook/prefix");
}

// Both ways, in the two prefixes the table names: components match whatever their case,
// drives go through dosdevices.
class WinePaths : public ::testing::TestWithParam<testing::Case> {};
TEST_P(WinePaths, AsWineAndWinepathTakeThem) {
    const auto& row = GetParam();
    TempDir dir;
    WriteFile(dir / "plain/drive_c/WINDOWS/CIV.INI", "");
    WriteFile(dir / "dos/elsewhere/Civ.ini", "");
    for (const char* folder : {"dos/dosdevices", "media/sub"}) fs::create_directories(dir / folder);
    for (const auto& [drive, target] : {std::pair<const char*, fs::path>{"c:", "../elsewhere"}, {"d:", dir / "media"},
                                        {"e:", dir / "media/sub"}, {"z:", "/"}, {"com1", dir / "media"}})
        fs::create_directory_symlink(target, dir / "dos/dosdevices" / drive);
    if (row[0] == "host")
        EXPECT_EQ(MapWindowsPath(dir / row[1], row[2]), dir / row[3]);
    else
        EXPECT_EQ(WindowsFormOf(dir / row[1], row[2].starts_with('/') ? fs::path(row[2]) : dir / row[2]), row.at(3));
}
INSTANTIATE_CASES(WinePaths, "wine_paths");

// Through LinuxSystem: values come back whole, looking creates nothing, a missing prefix
// is named, host paths are taken as they are.
TEST(LinuxSystemProfile, NothingCreatedByLookingHostPathsAsTheyAre) {
    TempDir dir;
    WriteFile(dir / "prefix/drive_c/MPS/civ.ini", "[S]\r\nLong=" + std::string(10000, 'x') + "\r\n");
    LinuxSystem host(dir / "prefix", nullptr);
    EXPECT_EQ(host.GetProfileString(L"S", L"Long", L"", L"C:\\MPS\\civ.ini"), std::wstring(10000, L'x'));

    const std::set<fs::directory_entry> before(fs::recursive_directory_iterator(dir.path()), {});
    for (const wchar_t* file : {L"C:\\MPS\\NoSuchFolder\\civ.ini", L"D:\\civ.ini"})
        EXPECT_EQ(host.GetProfileString(L"S", L"Long", L"fb", file), L"fb");
    host.HostPath(L"C:\\New\\civ.ini");
    EXPECT_EQ(std::set<fs::directory_entry>(fs::recursive_directory_iterator(dir.path()), {}), before);

    LinuxSystem missing(dir / "no-prefix", nullptr);
    EXPECT_EQ(missing.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", L"C:\\civ.ini").reason(),
              L"there is no Wine prefix at " + (dir / "no-prefix").wstring() +
                  L" (set WINEPREFIX to the prefix the game uses)");
    EXPECT_FALSE(fs::exists(dir / "no-prefix"));

    const fs::path plain = dir / "plain.ini";
    EXPECT_EQ(host.HostPath(plain.wstring()), plain.wstring());
    ASSERT_TRUE(host.WriteProfileString(L"S", L"k", L"v", plain.wstring()).ok());
    EXPECT_EQ(ReadFile(plain), "[S]\r\nk=v\r\n");
}

// From the key system.reg keeps it in, else as Wine takes it from the locale.
class CodePage : public ::testing::TestWithParam<testing::Case> {};
TEST_P(CodePage, AsWineFindsIt) {
    const auto& row = GetParam();
    TempDir prefix;
    if (row.at(0)) WriteFile(prefix / "system.reg", row[0]);
    const std::string locale = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
    ::setenv("LC_ALL", row[1].c_str(), 1);
    EXPECT_EQ(std::to_string(PrefixCodePage(prefix.path())), row[2]);
    ::setenv("LC_ALL", locale.c_str(), 1);
}
INSTANTIATE_CASES(CodePage, "code_page");

// A write and the read after it through the settings file on LinuxSystem.
class ProfileEncoding : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProfileEncoding, StoredAsWineReadsItShownAsMeantOrRefused) {
    const auto& row = GetParam();
    TempDir dir;
    const fs::path ini = dir / "prefix/drive_c/WINDOWS/CIV.INI";  // found whatever the case, never doubled
    if (row.at(0)) WriteFile(dir / "prefix/system.reg", row[0]);
    WriteFile(ini, row[1]);
    LinuxSystem host(dir / "prefix", nullptr);
    SettingsFile settings(host);
    settings.SetIniFilePath(L"C:\\Windows\\civ.ini");
    const Status status = settings.WriteIniString(row.wide(2), row.wide(3), row.wide(4));
    EXPECT_EQ(status.reason(), row.at(6) ? row.wide(6) : L"");
    EXPECT_EQ(ReadFile(ini), row[5]);
    EXPECT_EQ(settings.ReadIniString(row.wide(2), row.wide(3), L"C:\\Windows\\civ.ini"), row.wide(7));
}
INSTANTIATE_CASES(ProfileEncoding, "profile_encoding");

}  // namespace
}  // namespace quenbrook
