// Which Wine prefix holds the player's civ.ini, found on a temporary home folder.
#include "platform/linux/prefix_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The file with its folders.
void WriteFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    testing::WriteFile(file, bytes);
}

struct Row {
    const char* name;
    std::vector<std::string> civInis;             // files under home
    std::string option, environment, remembered;  // relative to home; empty: none
    std::string chosen;                           // relative to home; empty: none chosen
    std::wstring how;
    std::vector<std::wstring> launchers;  // of the candidates, in path order
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class Discovery : public ::testing::TestWithParam<Row> {};

TEST_P(Discovery, FindsThePrefixOrAsks) {
    const Row& row = GetParam();
    TempDir home;
    // Steam's list of libraries names them by absolute path; this one names home/lib.
    for (const std::string& file : row.civInis)
        WriteFile(home / file, file.ends_with(".vdf") ? "\"1\"\n{\n\t\"path\"\t\t\"" +
                                                            (home / "lib").string() + "\"\n}\n"
                                                      : "[Civ2]\r\n");
    const auto under = [&](const std::string& p) { return p.empty() ? "" : (home / p).string(); };
    const PrefixChoice choice =
        ChoosePrefix(home.path(), under(row.option), under(row.environment),
                     row.remembered.empty() ? std::nullopt : std::optional(home / row.remembered));
    EXPECT_EQ(choice.prefix.string(), under(row.chosen));
    EXPECT_EQ(choice.how, row.how);
    std::vector<std::wstring> launchers;
    for (const LauncherPrefix& candidate : choice.candidates)
        launchers.push_back(candidate.launcher);
    EXPECT_EQ(launchers, row.launchers);
}

const std::string kLutris = "Games/civ2/drive_c/windows/civ.ini";
const std::string kBottles = ".local/share/bottles/bottles/Civ/drive_c/WINDOWS/CIV.INI";

INSTANTIATE_TEST_SUITE_P(
    Homes, Discovery,
    ::testing::Values(
        Row{"OneLutrisPrefix", {kLutris}, "", "", "", "Games/civ2",
            L"the only prefix holding civ.ini, made by Lutris", {L"Lutris"}},
        Row{"ProtonPrefixInALibrary",
            {".local/share/Steam/steamapps/libraryfolders.vdf",
             "lib/steamapps/compatdata/7/pfx/drive_c/windows/civ.ini"},
            "", "", "", "lib/steamapps/compatdata/7/pfx",
            L"the only prefix holding civ.ini, made by Steam (Proton)", {L"Steam (Proton)"}},
        Row{"TwoPrefixesAreNotGuessed", {kLutris, kBottles}, "", "", "", "", L"", {L"Bottles", L"Lutris"}},
        Row{"TwoPrefixesAndTheRememberedAnswer",
            {kLutris, kBottles, ".PlayOnLinux/wineprefix/x/drive_c/windows/civ.ini"}, "", "", "Games/civ2",
            "Games/civ2", L"chosen earlier in the window, one of 3 prefixes holding civ.ini",
            {L"PlayOnLinux", L"Bottles", L"Lutris"}},
        Row{"ARememberedPrefixNoLongerThereAsksAgain", {kLutris, kBottles}, "", "", "Games/gone", "", L"",
            {L"Bottles", L"Lutris"}},
        Row{"NoneFallsBackToDotWine", {"Games/civ2/readme.txt"}, "", "", "", ".wine",
            L"the default prefix; no prefix holds civ.ini", {}},
        Row{"DotWineWithCivIniWins", {kLutris, ".wine/drive_c/windows/civ.ini"}, "", "", "", ".wine",
            L"the default prefix, which holds civ.ini", {}},
        Row{"TheOptionWins", {kLutris, kBottles}, "mine", "env", "", "mine", L"set with --prefix", {}},
        Row{"TheEnvironmentWins", {kLutris}, "", "env", "", "env", L"set in WINEPREFIX", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DiscoveryReport, StatusAndTheCommandLineSayWhatTheyFound) {
    TempDir home;
    const fs::path prefix = home / "p";
    const struct {
        std::string civIni;  // created under the prefix; "-": no prefix at all
        std::wstring reason;
    } rows[] = {
        {"drive_c/Windows/CIV.INI", L""},
        {"drive_c/windows/other.ini", L"there is no civ.ini in C:\\Windows of the prefix"},
        {"-", L"there is no Wine prefix at " + prefix.wstring()},
    };
    for (const auto& row : rows) {
        fs::remove_all(prefix);
        if (row.civIni != "-") WriteFile(prefix / row.civIni, "");
        const CivIniWhere where = DescribeChoice({prefix, L"set in WINEPREFIX", {}});
        EXPECT_EQ(where.found, L"Wine prefix: " + prefix.wstring() + L" (set in WINEPREFIX)");
        EXPECT_EQ(where.present.reason(), row.reason) << row.civIni;
    }
    EXPECT_EQ(
        SeveralPrefixesMessage({{"/h/Games/civ2", L"Lutris"}, {"/h/b/Civ", L"Bottles"}}),
        L"several Wine prefixes hold civ.ini:\n  /h/Games/civ2 (Lutris)\n  /h/b/Civ (Bottles)\n"
        L"Choose one with --prefix DIR, for example: quenbrook --prefix /h/Games/civ2 --status\n");
}

TEST(DiscoveryReport, TheAnswerIsKeptInOneFileInTheConfigFolder) {
    TempDir home;
    EXPECT_EQ(RememberedPrefixFile(home.path(), ""), home / ".config/quenbrook/prefix");
    EXPECT_EQ(RememberedPrefixFile(home.path(), "relative"), home / ".config/quenbrook/prefix");
    const fs::path file = RememberedPrefixFile(home.path(), (home / "xdg").string());
    EXPECT_EQ(file, home / "xdg/quenbrook/prefix");
    EXPECT_EQ(ReadRememberedPrefix(file), std::nullopt);
    ASSERT_TRUE(RememberPrefix(file, "/games/civ 2").ok());
    EXPECT_EQ(ReadRememberedPrefix(file), fs::path("/games/civ 2"));
}

}  // namespace
}  // namespace quenbrook
