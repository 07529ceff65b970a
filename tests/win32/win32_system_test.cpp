// The Windows backend: which civ.ini is the game's, and what the real calls do with it
// (run under Wine). The rows are in tests/data/cases/win32_*.txt.
#include "platform/win32/win32_system.h"

#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

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
                            row[4] == "yes", kAccess.at(row[5]), row.wide(6), row[7]};
    EXPECT_EQ(ChooseCivIni(facts), (CivIniChoice{row.wide(8), row[9] == "yes", row[10] == "yes"}));
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
                           kAccess.at(GetParam()[0]), GetParam().wide(2), ""};
    }};
};

TEST_P(CivIniFilesTest, EveryOperationUsesTheDecidedFile) {
    const testing::Case& row = GetParam();
    const std::string originalBefore = ReadBytes(original), copyBefore = ReadBytes(copy);
    if (row[3] == "nothing") {
        // Only a run with administrator rights may write the elevated game's file.
        for (const Status& refused :
             {system.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", kOriginal),
              system.SetFileAttributes(kOriginal, kAttributeReadOnly)}) {
            EXPECT_TRUE(refused.needsAdministrator());
            EXPECT_EQ(refused.reason(), row.wide(4));
        }
        EXPECT_EQ(system.HostPath(kOriginal), original);
        EXPECT_EQ(ReadBytes(original), originalBefore);
        EXPECT_EQ(ReadBytes(copy), "<missing>");
        return;
    }
    const bool toCopy = row[3] == "copy";
    const std::wstring used = toCopy ? copy : original;
    ASSERT_TRUE(system.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", kOriginal));
    // The copy made by the write is what the lock in the same run changes.
    ASSERT_TRUE(system.SetFileAttributes(kOriginal, kAttributeReadOnly));
    EXPECT_EQ(ReadBytes(used), row[4]);
    EXPECT_TRUE(GetFileAttributesA(ToAnsi(used)->c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(system.IsReadOnly(kOriginal));
    EXPECT_EQ(system.GetProfileString(L"Civilization Gold", L"Simultaneous", L"", kOriginal), L"1");
    EXPECT_EQ(system.HostPath(L"c:\\windows\\civ.ini"), used);
    EXPECT_EQ(ReadBytes(toCopy ? original : copy), toCopy ? originalBefore : copyBefore);
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

// A game that needs elevation: CreateProcess answers ERROR_ELEVATION_REQUIRED, which Wine
// never does, so both answers are scripted.
class ElevatedStartTest : public ::testing::TestWithParam<testing::Case> {};

TEST_P(ElevatedStartTest, GoesThroughTheShellAsExplorerDoes) {
    const testing::Case& row = GetParam();
    std::optional<std::string> shellCall;
    Win32System system(GatherCivIniFacts,
                       {[&](const ProgramStart&) { return std::stoul(row[1]); },
                        [&](const ProgramStart& s) {
                            shellCall = s.program + "|" + s.arguments + "|" + s.folder + "|" + std::to_string(s.show);
                            return std::stoul(row[2]);
                        }});
    EXPECT_EQ(system.StartProgram(row.wide(0), kShowMaximized, true).reason(), row.wide(4));
    EXPECT_EQ(shellCall, row.at(3));
}
INSTANTIATE_CASES(ElevatedStartTest, "win32_elevated_start");

// The real shell calls, with the 32-bit stand-in game, which writes down in started.txt its
// folder, window style and arguments.
std::string StandIn() { return QUENBROOK_STAND_IN; }
// What started.txt holds once it holds expected, or after a minute.
std::string AwaitStarted(const std::wstring& file, const std::string& expected) {
    std::string text;
    for (int i = 0; i < 300 && text != expected; ++i, Sleep(200)) text = ReadBytes(file);
    DeleteFileA(ToAnsi(file)->c_str());
    return text;
}

TEST(ShellStartTest, StartsTheGameInItsFolderMaximizedWithItsArguments) {
    const std::wstring folder = kTemp + L"quenbrook shell " + std::to_wstring(GetCurrentProcessId());
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(CopyFileA(StandIn().c_str(), ToAnsi(folder + L"\\Civ2.exe")->c_str(), FALSE));
    EXPECT_EQ(ShellStart({"", *ToAnsi(folder + L"\\Civ2.exe"), "-nocd \"two words\"", *ToAnsi(folder), 3}), 0u);
    const std::string expected = *ToAnsi(folder) + "\r\n3\r\n-nocd\r\ntwo words\r\n";
    EXPECT_EQ(AwaitStarted(folder + L"\\started.txt", expected), expected);
    std::filesystem::remove_all(folder);
}

// Wine has no UAC: its "runas" runs the program as it is. What is checked is that the
// arguments arrive whole and that the exit code is the outcome.
TEST(RunAsAdministratorTest, PassesTheArgumentsAndReportsTheExitCode) {
    std::wstring program = FromAnsi(StandIn());
    std::ranges::replace(program, L'/', L'\\');
    EXPECT_TRUE(RunAsAdministrator(program, {L"--enable", L"two words", L"a\\\"b\\", L""}));
    // It started hidden, in our folder.
    const std::string expected = std::filesystem::current_path().string() + "\r\n0\r\n--enable\r\ntwo words\r\na\\\"b\\\r\n\r\n";
    EXPECT_EQ(AwaitStarted(L"started.txt", expected), expected);
    EXPECT_EQ(RunAsAdministrator(program, {L"no-such-mode"}).reason(),
              L"run as administrator, it failed too (exit code 2)");
}

}  // namespace
}  // namespace quenbrook
