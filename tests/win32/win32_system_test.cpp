// The Windows backend: which civ.ini is the game's, and what the real calls do with it
// (run under Wine).
#include "platform/win32/win32_system.h"

#include "platform/win32/windows_api.h"
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/win32/ansi.h"

namespace quenbrook {
namespace {

using Access = WriteAccess;
constexpr const wchar_t* kOriginal = L"C:\\Windows\\civ.ini";
constexpr const wchar_t* kCopy = L"C:\\Users\\ann\\AppData\\Local\\VirtualStore\\Windows\\civ.ini";

struct ChoiceRow {
    const char* name;
    bool vista;
    std::optional<unsigned long> lua, virtualization;
    const wchar_t* localAppData;
    bool copyExists;
    Access access;
    const wchar_t* expected;
    bool createCopy;
};
class ChooseCivIniTest : public ::testing::TestWithParam<ChoiceRow> {};

TEST_P(ChooseCivIniTest, PicksTheFileTheGameReads) {
    const ChoiceRow& r = GetParam();
    const CivIniFacts facts{kOriginal, r.vista, r.lua, r.virtualization, r.localAppData, r.copyExists, r.access};
    EXPECT_EQ(ChooseCivIni(facts), (CivIniChoice{r.expected, r.createCopy}));
}

const wchar_t* const kLocal = L"C:\\Users\\ann\\AppData\\Local";
INSTANTIATE_TEST_SUITE_P(Rows, ChooseCivIniTest, ::testing::Values(
    ChoiceRow{"CopyIsUsedWhenItExists", true, {}, {}, kLocal, true, Access::Allowed, kCopy, false},
    ChoiceRow{"CopyWinsOverAReadOnlyOriginal", true, 1, 1, kLocal, true, Access::ReadOnly, kCopy, false},
    ChoiceRow{"WritableOriginalMakesNoCopy", true, {}, {}, kLocal, false, Access::Allowed, kOriginal, false},
    ChoiceRow{"DeniedOriginalGetsACopy", true, {}, {}, kLocal, false, Access::Denied, kCopy, true},
    ChoiceRow{"ReadOnlyAttributeStillRefuses", true, {}, {}, kLocal, false, Access::ReadOnly, kOriginal, false},
    ChoiceRow{"BeforeVistaNothingIsRedirected", false, {}, {}, kLocal, true, Access::Denied, kOriginal, false},
    ChoiceRow{"UacOffNothingIsRedirected", true, 0, {}, kLocal, true, Access::Denied, kOriginal, false},
    ChoiceRow{"PolicyOffNothingIsRedirected", true, 1, 0, kLocal, true, Access::Denied, kOriginal, false},
    ChoiceRow{"UnknownLocalAppDataKeepsTheOriginal", true, {}, {}, L"", false, Access::Denied, kOriginal, false},
    ChoiceRow{"TrailingBackslashIsNotDoubled", true, {}, {}, L"C:\\Users\\ann\\AppData\\Local\\", true,
              Access::Allowed, kCopy, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The backend against files on disk: the original and local app data live in a temporary
// folder, and whether the original may be written is scripted.
std::wstring TempFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return FromAnsi(temp);
}
std::string ReadBytes(const std::wstring& file) {
    std::ifstream in(*ToAnsi(file), std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string("<missing>");
}
void WriteBytes(const std::wstring& file, const std::string& bytes) {
    std::ofstream(*ToAnsi(file), std::ios::binary) << bytes;
}

struct FileRow {
    const char* name;
    Access access;
    const char* copyBefore;  // nullptr: no copy yet
    bool changesGoToCopy;
    const char* after;  // the changed file's bytes
};
class CivIniFilesTest : public ::testing::TestWithParam<FileRow> {
protected:
    void SetUp() override {
        SHCreateDirectoryExA(nullptr, ToAnsi(root + L"\\Windows")->c_str(), nullptr);
        WriteBytes(original, "; the game's\r\n[Civilization Gold]\r\nOther=5\r\n");
        if (GetParam().copyBefore) {
            SHCreateDirectoryExA(nullptr, ToAnsi(copy.substr(0, copy.rfind(L'\\')))->c_str(), nullptr);
            WriteBytes(copy, GetParam().copyBefore);
        }
    }
    void TearDown() override {
        for (const std::wstring& f : {original, copy}) SetFileAttributesA(ToAnsi(f)->c_str(), FILE_ATTRIBUTE_NORMAL);
        const std::string from = *ToAnsi(root) + std::string(2, '\0');
        SHFILEOPSTRUCTA remove{nullptr, FO_DELETE, from.c_str(), nullptr,
                               FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT, FALSE, nullptr, nullptr};
        SHFileOperationA(&remove);
    }
    std::wstring root = TempFolder() + L"quenbrook-" + std::to_wstring(GetCurrentProcessId());
    std::wstring original = root + L"\\Windows\\civ.ini";
    // Windows keeps the copy under the original's path without its drive.
    std::wstring copy = root + L"\\Local\\VirtualStore" + original.substr(2);
    Win32System system{[this](const std::wstring&) {
        return CivIniFacts{original, true, {}, {}, root + L"\\Local",
                           GetFileAttributesA(ToAnsi(copy)->c_str()) != INVALID_FILE_ATTRIBUTES,
                           GetParam().access};
    }};
};

TEST_P(CivIniFilesTest, EveryOperationUsesTheDecidedFile) {
    const FileRow& r = GetParam();
    const std::string originalBefore = ReadBytes(original);
    const std::wstring used = r.changesGoToCopy ? copy : original;
    ASSERT_TRUE(system.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", kOriginal));
    // The copy made by the write is what the lock in the same run changes.
    ASSERT_TRUE(system.SetFileAttributes(kOriginal, kAttributeReadOnly));
    EXPECT_EQ(ReadBytes(used), r.after);
    EXPECT_TRUE(GetFileAttributesA(ToAnsi(used)->c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(system.IsReadOnly(kOriginal));
    EXPECT_EQ(system.GetProfileString(L"Civilization Gold", L"Simultaneous", L"", kOriginal), L"1");
    EXPECT_EQ(system.HostPath(L"c:\\windows\\civ.ini"), used);
    if (r.changesGoToCopy) EXPECT_EQ(ReadBytes(original), originalBefore);
    else EXPECT_EQ(ReadBytes(copy), "<missing>");
    // Any other file is used as named.
    EXPECT_EQ(system.HostPath(L"C:\\Windows\\win.ini"), L"C:\\Windows\\win.ini");
}

INSTANTIATE_TEST_SUITE_P(Rows, CivIniFilesTest, ::testing::Values(
    FileRow{"ExistingCopy", Access::Denied, "[Civilization Gold]\r\nMine=1\r\n", true,
            "[Civilization Gold]\r\nMine=1\r\nSimultaneous=1\r\n"},
    FileRow{"DeniedOriginalIsCopied", Access::Denied, nullptr, true,
            "; the game's\r\n[Civilization Gold]\r\nOther=5\r\nSimultaneous=1\r\n"},
    FileRow{"WritableOriginal", Access::Allowed, nullptr, false,
            "; the game's\r\n[Civilization Gold]\r\nOther=5\r\nSimultaneous=1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Win32ProfileTest, ReadOnlyFileRefusesAndInjectedLinesAreRefusedBeforeTheFileIsTouched) {
    Win32System system;
    const std::wstring file = TempFolder() + L"quenbrook-refusals.ini";
    WriteBytes(file, "[Civ2]\r\nPath=old\r\n");
    const struct {
        const wchar_t *section, *key, *value, *reason;
        bool readOnly;
    } rows[] = {
        {L"Civ2", L"Path", L"new", L"the file is read-only", true},
        {L"Civ2", L"Path", L"a\r\n[Civilization Gold]\r\nSimultaneous=1", L"the value contains a line break", false},
        {L"Civ]2", L"Path", L"v", L"the section name contains ']' (the game would read another section)", false},
        {L"Civ2", L"Pa=th", L"v", L"the key name contains '=' (the game would read another key)", false},
        {L"Civ2", L";Path", L"v", L"the key name starts with ';' (the game would read a comment)", false},
    };
    for (const auto& r : rows) {
        SetFileAttributesA(ToAnsi(file)->c_str(), r.readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(system.WriteProfileString(r.section, r.key, r.value, file).reason(), r.reason);
        EXPECT_EQ(ReadBytes(file), "[Civ2]\r\nPath=old\r\n");
    }
    DeleteFileA(ToAnsi(file)->c_str());
}

}  // namespace
}  // namespace quenbrook
