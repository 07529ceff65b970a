// civ.ini's texts in the encoding Wine reads the file in: the prefix's ANSI code page
// (from system.reg, else from the locale) or the encoding the file's mark names.
#include "platform/linux/code_page.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/linux/linux_system.h"
#include "support/cases.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

class CodePageFromRegistryTest : public ::testing::TestWithParam<testing::Case> {};
TEST_P(CodePageFromRegistryTest, IsTheKeysAcpOnly) {
    const auto& row = GetParam();
    const std::optional<unsigned> codePage = CodePageFromRegistry(row[0]);
    EXPECT_EQ(codePage ? std::optional(std::to_string(*codePage)) : std::nullopt, row.at(1));
}
INSTANTIATE_CASES(CodePageFromRegistryTest, "code_page_registry");

class CodePageFromLocaleTest : public ::testing::TestWithParam<testing::Case> {};
TEST_P(CodePageFromLocaleTest, AsWineTakesIt) {
    EXPECT_EQ(std::to_string(CodePageFromLocale(GetParam()[0])), GetParam()[1]);
}
INSTANTIATE_CASES(CodePageFromLocaleTest, "code_page_locale");

class ProfileEncoding : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProfileEncoding, StoredAsWineReadsItShownAsMeantOrRefused) {
    const auto& row = GetParam();
    testing::TempDir dir;
    const fs::path ini = dir / "prefix/drive_c/windows/civ.ini";
    fs::create_directories(ini.parent_path());
    if (row.at(0))
        WriteFile(dir / "prefix/system.reg",
                  "[System\\\\CurrentControlSet\\\\Control\\\\Nls\\\\CodePage]\n\"ACP\"=\"" + row[0] + "\"\n");
    WriteFile(ini, row[1]);
    LinuxSystem host(dir / "prefix", nullptr);
    const Status status = host.WriteProfileString(row.wide(2), row.wide(3), row.wide(4), L"C:\\Windows\\civ.ini");
    EXPECT_EQ(status.reason(), row.at(6) ? row.wide(6) : L"");
    EXPECT_EQ(ReadFile(ini), row[5]);
    const std::wstring shown = row.fields.size() > 7 ? row.wide(7) : row.at(6) ? L"" : row.wide(4);
    EXPECT_EQ(host.GetProfileString(row.wide(2), row.wide(3), L"", L"C:\\Windows\\civ.ini"), shown);
}
INSTANTIATE_CASES(ProfileEncoding, "profile_encoding");

}  // namespace
}  // namespace quenbrook
