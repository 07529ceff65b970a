// Which Wine prefix holds the player's civ.ini, found on a temporary home folder.
#include "platform/linux/prefix_discovery.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/cases.h"
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

class Discovery : public ::testing::TestWithParam<testing::Case> {};
TEST_P(Discovery, FindsThePrefixOrAsks) {
    const auto& row = GetParam();
    TempDir home;
    std::istringstream files(row[0]);
    for (std::string file; std::getline(files, file, '|');)
        WriteFile(home / file, file.ends_with(".vdf") ? "\"1\"\n{\n\t\"path\"\t\t\"" + (home / "lib").string() + "\"\n}\n"
                                                      : "[Civ2]\r\n");
    const auto under = [&](const std::string& p) { return p.empty() ? "" : (home / p).string(); };
    const PrefixChoice choice = ChoosePrefix(home.path(), under(row[1]), under(row[2]),
                                             row[3].empty() ? std::nullopt : std::optional(home / row[3]));
    EXPECT_EQ(choice.prefix.string(), under(row[4]));
    EXPECT_EQ(choice.how, row.wide(5));
    std::wstring launchers;
    for (const LauncherPrefix& candidate : choice.candidates)
        launchers += (launchers.empty() ? L"" : L"|") + candidate.launcher;
    EXPECT_EQ(launchers, row.wide(6));
}
INSTANTIATE_CASES(Discovery, "prefix_discovery");

TEST(DiscoveryReport, StatusTheCommandLineAndTheRememberedAnswer) {
    TempDir home;
    const fs::path prefix = home / "p";
    const std::pair<std::string, std::wstring> rows[] = {  // civ.ini made under the prefix ("-": no prefix)
        {"drive_c/Windows/CIV.INI", L""},
        {"drive_c/windows/other.ini", L"there is no civ.ini in C:\\Windows of the prefix"},
        {"-", L"there is no Wine prefix at " + prefix.wstring()},
    };
    for (const auto& [civIni, reason] : rows) {
        fs::remove_all(prefix);
        if (civIni != "-") WriteFile(prefix / civIni, "");
        const CivIniWhere where = DescribeChoice({prefix, L"set in WINEPREFIX", {}});
        EXPECT_EQ(where.found, L"Wine prefix: " + prefix.wstring() + L" (set in WINEPREFIX)");
        EXPECT_EQ(where.present.reason(), reason) << civIni;
    }
    EXPECT_EQ(SeveralPrefixesMessage({{"/h/Games/civ2", L"Lutris"}, {"/h/b/Civ", L"Bottles"}}),
              L"several Wine prefixes hold civ.ini:\n  /h/Games/civ2 (Lutris)\n  /h/b/Civ (Bottles)\n"
              L"Choose one with --prefix DIR, for example: quenbrook --prefix /h/Games/civ2 --status\n");

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
