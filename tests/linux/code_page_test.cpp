// civ.ini's texts in the encoding Wine reads the file in: the prefix's ANSI code page
// (from system.reg, else from the locale) or the encoding the file's mark names.
#include "platform/linux/code_page.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/linux/linux_system.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

// The file with its folders.
void WriteFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    testing::WriteFile(file, bytes);
}

// The key as wineboot writes it, between others.
const std::string kRegistry =
    "WINE REGISTRY Version 2\n"
    "[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\Codepage] 1700000000\n"
    "#time=1da0\n"
    "\"ACP\"=\"1251\"\n"
    "\"MACCP\"=\"10007\"\n"
    "[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\Language] 1700000000\n"
    "\"ACP\"=\"932\"\n";

TEST(CodePage, IsReadFromTheRegistryKeyOnly) {
    const struct {
        std::string text;
        std::optional<unsigned> codePage;
    } rows[] = {
        {kRegistry, 1251},
        {"[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage]\r\n\"ACP\"=\"1252\"\r\n", 1252},
        {"[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\Language]\n\"ACP\"=\"932\"\n", std::nullopt},
        {"[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage]\n\"OEMCP\"=\"437\"\n", std::nullopt},
        {"[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage]\n\"ACP\"=dword:000004e4\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CodePageFromRegistry(row.text), row.codePage) << row.text;
}

TEST(CodePage, FollowsTheLocaleAsWineDoes) {
    const struct {
        const char* locale;
        unsigned codePage;
    } rows[] = {
        {"de_DE.UTF-8", 1252}, {"en_US", 1252},       {"C.UTF-8", 1252},    {"POSIX", 1252},
        {"pl_PL.UTF-8", 1250}, {"ru_RU.UTF-8", 1251}, {"el_GR", 1253},      {"tr_TR.UTF-8", 1254},
        {"ja_JP.UTF-8", 932},  {"zh_CN.UTF-8", 936},  {"zh_TW.UTF-8", 950}, {"ko_KR.EUC-KR", 949},
        {"sr_RS@latin", 1250}, {"sr_RS.UTF-8", 1251}, {"th_TH", 874},       {"vi_VN", 1258},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CodePageFromLocale(row.locale), row.codePage) << row.locale;
}

// One write and one read of the game path through the Linux host, on a prefix whose
// system.reg names a code page, with civ.ini starting as `before`.
struct Row {
    const char* name;
    unsigned codePage;  // in system.reg; 0: none
    std::string before;
    std::wstring path;   // what the player typed
    std::string stored;  // the bytes civ.ini then holds; empty: the write is refused
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class GamePath : public ::testing::TestWithParam<Row> {};

TEST_P(GamePath, IsStoredAsWineReadsItAndShownAsMeant) {
    const Row& row = GetParam();
    TempDir dir;
    const fs::path prefix = dir / "prefix";
    const fs::path ini = prefix / "drive_c" / "windows" / "civ.ini";
    if (row.codePage != 0)  // else no system.reg: the tests' locale, 1252
        WriteFile(prefix / "system.reg",
                  "[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage]\n\"ACP\"=\"" +
                      std::to_string(row.codePage) + "\"\n");
    WriteFile(ini, row.before);
    LinuxSystem host(prefix, nullptr);

    const Status status =
        host.WriteProfileString(L"Civ2", L"Path", row.path, L"C:\\Windows\\civ.ini");
    if (row.stored.empty()) {
        ASSERT_FALSE(status.ok());
        EXPECT_NE(status.reason().find(L"cannot hold"), std::wstring::npos);
        EXPECT_EQ(ReadFile(ini), row.before);
        return;
    }
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(ReadFile(ini), row.before + row.stored);
    EXPECT_EQ(host.GetProfileString(L"Civ2", L"Path", L"", L"C:\\Windows\\civ.ini"), row.path);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, GamePath,
    ::testing::Values(
        Row{"LocaleCp1252UmlautIsOneByte", 0, "", L"C:\\Spiele\\Zivilisation \u00e4\\Civ2.exe",
            "[Civ2]\r\nPath=C:\\Spiele\\Zivilisation \xe4\\Civ2.exe\r\n"},
        Row{"Cp1251HoldsCyrillic", 1251, "", L"C:\\\u0418\u0433\u0440\u044b\\Civ2.exe",
            "[Civ2]\r\nPath=C:\\\xc8\xe3\xf0\xfb\\Civ2.exe\r\n"},
        Row{"OutsideTheCodePageIsRefused", 1252, "", L"C:\\\u0418\u0433\u0440\u044b\\Civ2.exe", ""},
        Row{"Utf8MarkMeansUtf8", 1252, "\xef\xbb\xbf", L"C:\\\u00e4\u0418\\Civ2.exe",
            "[Civ2]\r\nPath=C:\\\xc3\xa4\xd0\x98\\Civ2.exe\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GamePathFile, AUtf16FileIsReadAndWrittenInUtf16) {
    TempDir dir;
    const fs::path ini = dir / "prefix" / "drive_c" / "windows" / "civ.ini";
    const std::string le = std::string("\xff\xfe[\0S\0]\0\r\0\n\0k\0=\0\xe4\0\r\0\n\0", 22);
    WriteFile(ini, le);
    LinuxSystem host(dir / "prefix", nullptr);
    EXPECT_EQ(host.GetProfileString(L"S", L"k", L"", L"C:\\Windows\\civ.ini"), L"\u00e4");
    ASSERT_TRUE(host.WriteProfileString(L"S", L"k", L"\u0418", L"C:\\Windows\\civ.ini").ok());
    EXPECT_EQ(ReadFile(ini), std::string("\xff\xfe[\0S\0]\0\r\0\n\0k\0=\0\x18\x04\r\0\n\0", 22));
}

// Right after a write, the read that confirms it gives what the game reads, not what was
// asked for.
TEST(GamePathFile, TheReadBackOfAWriteIsWhatTheGameReads) {
    TempDir dir;
    LinuxSystem host(dir / "prefix", nullptr);
    fs::create_directories(dir / "prefix" / "drive_c" / "windows");
    ASSERT_TRUE(
        host.WriteProfileString(L"Civ2", L"Path", L"  C:\\x.exe  ", L"C:\\Windows\\civ.ini").ok());
    EXPECT_EQ(host.GetProfileString(L"Civ2", L"Path", L"", L"C:\\Windows\\civ.ini"), L"C:\\x.exe");
}

}  // namespace
}  // namespace quenbrook
