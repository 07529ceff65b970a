// The Windows backend: which civ.ini is the game's, and what the real calls do with it
// (run under Wine). The rows are in tests/data/cases/win32_*.txt.
#include "platform/win32/win32_system.h"

#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/win32/ansi.h"
#include "support/cases.h"

namespace quenbrook {
namespace {

constexpr const wchar_t* kOriginal = L"C:\\Windows\\civ.ini";
const std::map<std::string, WriteAccess> kAccess{
    {"Allowed", WriteAccess::Allowed}, {"ReadOnly", WriteAccess::ReadOnly}, {"Denied", WriteAccess::Denied}};

class ChooseCivIniTest : public ::testing::TestWithParam<testing::Case> {};

TEST_P(ChooseCivIniTest, PicksTheFileTheGameReads) {
    const testing::Case& row = GetParam();
    const auto policy = [&](std::size_t i) {
        return row.at(i) ? std::optional(std::stoul(*row.at(i))) : std::nullopt;
    };
    const CivIniFacts facts{kOriginal, row[0] == "yes", policy(1), policy(2), row.wide(3),
                            row[4] == "yes", kAccess.at(row[5])};
    EXPECT_EQ(ChooseCivIni(facts), (CivIniChoice{row.wide(6), row[7] == "yes"}));
}
INSTANTIATE_CASES(ChooseCivIniTest, "win32_civ_ini_choice");

const std::wstring kTemp = (std::filesystem::temp_directory_path() / L"").wstring();  // with its separator
std::string ReadBytes(const std::wstring& file) {
    std::ifstream in(*ToAnsi(file), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("<missing>");
}
void WriteBytes(const std::wstring& file, const std::string& bytes) {
    std::ofstream(*ToAnsi(file), std::ios::binary) << bytes;
}

// The backend against files on disk: the original and local app data live in a temporary
// folder, and whether the original may be written is scripted.
class CivIniFilesTest : public ::testing::TestWithParam<testing::Case> {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root + L"\\Windows");
        WriteBytes(original, "; the game's\r\n[Civilization Gold]\r\nOther=5\r\n");
        if (const auto& before = GetParam().at(1)) {
            std::filesystem::create_directories(copy.substr(0, copy.rfind(L'\\')));
            WriteBytes(copy, *before);
        }
    }
    void TearDown() override {
        for (const std::wstring& f : {original, copy})
            SetFileAttributesA(ToAnsi(f)->c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(root);
    }
    std::wstring root = kTemp + L"quenbrook-" + std::to_wstring(GetCurrentProcessId());
    std::wstring original = root + L"\\Windows\\civ.ini";
    // Windows keeps the copy under the original's path without its drive.
    std::wstring copy = root + L"\\Local\\VirtualStore" + original.substr(2);
    Win32System system{[this](const std::wstring&) {
        return CivIniFacts{original, true, {}, {}, root + L"\\Local",
                           GetFileAttributesA(ToAnsi(copy)->c_str()) != INVALID_FILE_ATTRIBUTES,
                           kAccess.at(GetParam()[0])};
    }};
};

TEST_P(CivIniFilesTest, EveryOperationUsesTheDecidedFile) {
    const testing::Case& row = GetParam();
    const std::string originalBefore = ReadBytes(original);
    const bool toCopy = row[2] == "copy";
    const std::wstring used = toCopy ? copy : original;
    ASSERT_TRUE(system.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", kOriginal));
    // The copy made by the write is what the lock in the same run changes.
    ASSERT_TRUE(system.SetFileAttributes(kOriginal, kAttributeReadOnly));
    EXPECT_EQ(ReadBytes(used), row[3]);
    EXPECT_TRUE(GetFileAttributesA(ToAnsi(used)->c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(system.IsReadOnly(kOriginal));
    EXPECT_EQ(system.GetProfileString(L"Civilization Gold", L"Simultaneous", L"", kOriginal), L"1");
    EXPECT_EQ(system.HostPath(L"c:\\windows\\civ.ini"), used);
    EXPECT_EQ(ReadBytes(toCopy ? original : copy), toCopy ? originalBefore : "<missing>");
    // Any other file is used as named.
    EXPECT_EQ(system.HostPath(L"C:\\Windows\\win.ini"), L"C:\\Windows\\win.ini");
}
INSTANTIATE_CASES(CivIniFilesTest, "win32_civ_ini_files");

class RefusalTest : public ::testing::TestWithParam<testing::Case> {};

TEST_P(RefusalTest, SaysWhyBeforeTheFileIsTouched) {
    const testing::Case& row = GetParam();
    const std::wstring file = kTemp + L"quenbrook-refusal.ini";
    WriteBytes(file, "[Civ2]\r\nPath=old\r\n");
    SetFileAttributesA(ToAnsi(file)->c_str(),
                       row[3] == "yes" ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
    const Status refused = Win32System().WriteProfileString(row.wide(0), row.wide(1), row.wide(2), file);
    EXPECT_EQ(refused.reason(), row.wide(4));
    EXPECT_EQ(ReadBytes(file), "[Civ2]\r\nPath=old\r\n");
    SetFileAttributesA(ToAnsi(file)->c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(ToAnsi(file)->c_str());
}
INSTANTIATE_CASES(RefusalTest, "win32_refusals");

}  // namespace
}  // namespace quenbrook
