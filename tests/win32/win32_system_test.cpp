// The Windows backend against the real system calls (run under Wine here): profile files
// on disk, attributes, starting programs, the shell, and texts the code page cannot hold.
#include "platform/win32/win32_system.h"

#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/win32/ansi.h"
#include "win_temp_dir.h"

namespace quenbrook {
namespace {

using testing::Exists;
using testing::ProgramFolder;
using testing::ReadBytes;
using testing::Wide;
using testing::WinTempDir;
using testing::WriteBytes;

class Win32ProfileTest : public ::testing::Test {
protected:
    std::wstring Read(const std::wstring& section, const std::wstring& key,
                      const std::wstring& fallback = L"<none>") {
        return system.GetProfileString(section, key, fallback, file);
    }

    WinTempDir dir;
    std::string ansiFile = dir / "civ.ini";
    std::wstring file = Wide(ansiFile);
    Win32System system;
};

TEST_F(Win32ProfileTest, WriteCreatesFileAndSectionsAndKeepsOtherKeys) {
    ASSERT_TRUE(system.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", file));
    ASSERT_TRUE(system.WriteProfileString(L"Civ2", L"Path", L"C:\\Games\\Civ2\\civ2.exe", file));
    ASSERT_TRUE(system.WriteProfileString(L"Civilization Gold", L"Other", L"x", file));
    EXPECT_EQ(Read(L"Civilization Gold", L"Simultaneous"), L"1");
    EXPECT_EQ(Read(L"civilization gold", L"SIMULTANEOUS"), L"1");  // names ignore case
    EXPECT_EQ(Read(L"Civ2", L"Path"), L"C:\\Games\\Civ2\\civ2.exe");
    EXPECT_EQ(Read(L"Civilization Gold", L"Other"), L"x");
    const std::string bytes = ReadBytes(ansiFile);
    EXPECT_NE(bytes.find("[Civilization Gold]"), std::string::npos);
    EXPECT_NE(bytes.find("[Civ2]"), std::string::npos);
}

TEST_F(Win32ProfileTest, MissingFileSectionOrKeyGivesTheFallback) {
    EXPECT_EQ(Read(L"Civ2", L"Path"), L"<none>");
    EXPECT_FALSE(Exists(ansiFile));  // reading creates nothing
    WriteBytes(ansiFile, "[Civ2]\r\nOther=1\r\n");
    EXPECT_EQ(Read(L"Civ2", L"Path"), L"<none>");
    EXPECT_EQ(Read(L"Nope", L"Other"), L"<none>");
    const std::wstring longFallback(3000, L'f');
    EXPECT_EQ(Read(L"Civ2", L"Path", longFallback), longFallback);
}

// The buffer starts small: values around its size and far beyond must come back whole.
TEST_F(Win32ProfileTest, LongValuesAreReadWhole) {
    for (std::size_t length : {253u, 254u, 255u, 256u, 257u, 511u, 4000u, 70000u}) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) value += static_cast<char>('a' + i % 26);
        WriteBytes(ansiFile, "[Civ2]\r\nPath=" + value + "\r\n");
        EXPECT_EQ(Read(L"Civ2", L"Path"), Wide(value)) << length;
    }
}

// One pair of quotes goes; the value inside must still come back whole.
TEST_F(Win32ProfileTest, QuotedValuesAreReadWholeWithoutTheirQuotes) {
    for (std::size_t length : {252u, 253u, 254u, 255u, 256u, 1000u}) {
        const std::string value(length, 'q');
        WriteBytes(ansiFile, "[Civ2]\r\nPath=\"" + value + "\"\r\n");
        EXPECT_EQ(Read(L"Civ2", L"Path"), Wide(value)) << length;
    }
}

TEST_F(Win32ProfileTest, ReadOnlyFileRefusesTheWriteAndStaysAsItWas) {
    const std::string before = "[Civilization Gold]\r\nSimultaneous=0\r\n";
    WriteBytes(ansiFile, before);
    ASSERT_TRUE(system.SetFileAttributes(file, kAttributeReadOnly));
    const Status written = system.WriteProfileString(L"Civilization Gold", L"Simultaneous", L"1", file);
    EXPECT_FALSE(written);
    EXPECT_NE(written.reason().find(L"read-only"), std::wstring::npos) << written.reason();
    EXPECT_EQ(ReadBytes(ansiFile), before);
    EXPECT_EQ(Read(L"Civilization Gold", L"Simultaneous"), L"0");
}

TEST_F(Win32ProfileTest, MissingFolderIsNamedInTheReason) {
    const std::wstring nowhere = Wide(dir / "no such folder\\civ.ini");
    const Status written = system.WriteProfileString(L"Civ2", L"Path", L"x", nowhere);
    EXPECT_FALSE(written);
    EXPECT_NE(written.reason().find(L"does not exist"), std::wstring::npos) << written.reason();
    EXPECT_NE(written.reason().find(L"no such folder"), std::wstring::npos) << written.reason();
}

// Windows would write these verbatim and so add lines to the game's file.
TEST_F(Win32ProfileTest, LineBreaksNulAndMisleadingNamesAreRefusedBeforeTheFileIsTouched) {
    const std::string before = "[Civ2]\r\nPath=old\r\n";
    WriteBytes(ansiFile, before);
    const struct {
        std::wstring section, key, value, reasonPart;
    } cases[] = {
        {L"Civ2", L"Path", L"a\r\n[Civilization Gold]\r\nSimultaneous=1", L"line break"},
        {L"Civ2", L"Path", L"a\nb", L"line break"},
        {L"Civ2", L"Path", L"a\rb", L"line break"},
        {L"Civ2", L"Path", std::wstring(L"a\0b", 3), L"NUL"},
        {L"Civ2\r\n[X]", L"Path", L"v", L"line break"},
        {L"Civ2", L"Pa\nth", L"v", L"line break"},
        {L"Civ2", L"Pa=th", L"v", L"'='"},
        {L"Civ]2", L"Path", L"v", L"']'"},
        {L"Civ2", L";Path", L"v", L"';'"},
        {L"Civ2", L"  ", L"v", L"empty"},
        {L"", L"Path", L"v", L"empty"},
    };
    for (const auto& c : cases) {
        const Status written = system.WriteProfileString(c.section, c.key, c.value, file);
        EXPECT_FALSE(written) << c.reasonPart;
        EXPECT_NE(written.reason().find(c.reasonPart), std::wstring::npos) << written.reason();
    }
    EXPECT_EQ(ReadBytes(ansiFile), before);
}

TEST_F(Win32ProfileTest, TextsOutsideTheCodePageAreRefusedNeverWrittenAsQuestionMarks) {
    if (GetACP() == CP_UTF8) GTEST_SKIP() << "every character fits a UTF-8 code page";
    const std::string before = "[Civ2]\r\nPath=old\r\n";
    WriteBytes(ansiFile, before);
    // U+4E2D (CJK) and U+0141 (L with stroke: best fit would give 'L' in code page 1252).
    for (const std::wstring& value : {std::wstring(L"C:\\\u4E2D\\civ2.exe"), std::wstring(L"\u0141odz")}) {
        const Status written = system.WriteProfileString(L"Civ2", L"Path", value, file);
        EXPECT_FALSE(written);
        EXPECT_NE(written.reason().find(L"code page"), std::wstring::npos) << written.reason();
    }
    EXPECT_FALSE(ToAnsi(L"\u4E2D"));
    EXPECT_EQ(ReadBytes(ansiFile), before);
}

TEST_F(Win32ProfileTest, CodePageCharactersRoundTrip) {
    if (GetACP() != 1252) GTEST_SKIP() << "checked with code page 1252";
    ASSERT_TRUE(system.WriteProfileString(L"Civ2", L"Path", L"C:\\Spi\u00e9le\\civ2.exe", file));
    EXPECT_NE(ReadBytes(ansiFile).find("Spi\xe9le"), std::string::npos);
    EXPECT_EQ(Read(L"Civ2", L"Path"), L"C:\\Spi\u00e9le\\civ2.exe");
}

class Win32AttributesTest : public Win32ProfileTest {};

TEST_F(Win32AttributesTest, ReadOnlyAndNormalAreSetAndSeen) {
    WriteBytes(ansiFile, "[Civ2]\r\n");
    EXPECT_FALSE(system.IsReadOnly(file));
    ASSERT_TRUE(system.SetFileAttributes(file, kAttributeReadOnly));
    EXPECT_TRUE(system.IsReadOnly(file));
    EXPECT_EQ(GetFileAttributesA(ansiFile.c_str()) & FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(system.SetFileAttributes(file, kAttributeNormal));
    EXPECT_FALSE(system.IsReadOnly(file));
    EXPECT_TRUE(system.WriteProfileString(L"Civ2", L"Path", L"x", file));
}

TEST_F(Win32AttributesTest, MissingFileIsNotReadOnlyAndCannotBeChanged) {
    EXPECT_FALSE(system.IsReadOnly(file));
    const Status set = system.SetFileAttributes(file, kAttributeReadOnly);
    EXPECT_FALSE(set);
    // The system's own words, not only a number.
    EXPECT_NE(set.reason().find(L"civ.ini"), std::wstring::npos) << set.reason();
    EXPECT_EQ(set.reason().find(L": error "), std::wstring::npos) << set.reason();
}

TEST(Win32ErrorTextTest, SystemSentencesWithoutTheirLineBreak) {
    const std::wstring text = ErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_NE(text.find(L"(error 2)"), std::wstring::npos) << text;
    EXPECT_EQ(text.find(L'\n'), std::wstring::npos);
    EXPECT_GT(text.size(), std::wstring(L" (error 2)").size());
}

// What record_start.exe wrote: its folder, its window style, then its arguments.
std::vector<std::string> WaitForRecord(const std::string& file) {
    for (int i = 0; i < 300 && !Exists(file); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it finish writing
    std::istringstream in(ReadBytes(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Win32StartTest : public Win32ProfileTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryA(gameFolder.c_str(), nullptr));
        ASSERT_TRUE(CopyFileA((ProgramFolder() + "\\record_start.exe").c_str(), game.c_str(), FALSE))
            << "record_start.exe belongs next to the test";
    }
    // A folder with a blank, as "Program Files" has.
    std::string gameFolder = dir / "Civ Games";
    std::string game = gameFolder + "\\civ2.exe";
    std::string record = dir / "record.txt";
};

// A path with a blank, unquoted, as a player types it: the whole text names the game,
// so it must not end at the blank; and the game starts in its own folder, maximized.
TEST_F(Win32StartTest, UnquotedPathWithBlanksStartsInTheProgramsFolderMaximized) {
    ASSERT_TRUE(system.StartProgram(Wide(game), kShowMaximized, true));
    const auto lines = WaitForRecord(gameFolder + "\\started.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], gameFolder);
    EXPECT_EQ(lines[1], "3");
}

TEST_F(Win32StartTest, ArgumentsPassAndFolderIsKeptWhenNotAskedToMove) {
    const std::string here = ProgramFolder();
    SetCurrentDirectoryA(here.c_str());
    ASSERT_TRUE(system.StartProgram(Wide("\"" + game + "\" first " + record), kShowMaximized, false));
    const auto lines = WaitForRecord(record);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], here);
    EXPECT_EQ(lines[2], "first");
}

TEST_F(Win32StartTest, FailedStartNamesTheProgramAndWhy) {
    const std::string missing = gameFolder + "\\missing.exe";
    const Status started = system.StartProgram(Wide(missing), kShowMaximized, true);
    ASSERT_FALSE(started);
    EXPECT_NE(started.reason().find(Wide(missing)), std::wstring::npos) << started.reason();
    EXPECT_NE(started.reason().find(L"(error "), std::wstring::npos) << started.reason();

    const Status noFolder =
        system.StartProgram(Wide(dir / "gone\\civ2.exe"), kShowMaximized, true);
    EXPECT_FALSE(noFolder);
    EXPECT_FALSE(system.StartProgram(L"   ", kShowMaximized, true));
}

TEST(Win32ShellTest, FailureIsAnsweredAtOnceWithTheSystemsError) {
    Win32System system;
    bool answered = false;
    ShellResult answer;
    system.ShellOpen(L"C:\\no such folder\\missing.txt", [&](ShellResult r) {
        answered = true;
        answer = r;
    });
    ASSERT_TRUE(answered);
    EXPECT_TRUE(answer.failed());
    EXPECT_NE(answer.lastError, 0u);
}

}  // namespace
}  // namespace quenbrook
