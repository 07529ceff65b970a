// Files no game would write, and things that are not files at all, in civ.ini's place:
// reading gives nothing or a value, writing succeeds or says why, and nothing crashes.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fault_support.h"
#include "platform/linux/profile_file.h"
#include "support/temp_dir.h"

namespace quenbrook::faults {
namespace {

namespace fs = std::filesystem;
using quenbrook::testing::ReadFile;
using quenbrook::testing::TempDir;
using quenbrook::testing::WriteFile;

// Content that is not an INI file still gets our key, and every byte of it stays: the
// new section goes after it, and reading back finds our value.
void ExpectAppendedAfter(const fs::path& file, const std::string& before) {
    const Status status = WriteProfileValue(file, kSection, kKey, "1");
    ASSERT_TRUE(status.ok()) << Reason(status);
    const std::string after = ReadFile(file);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the old bytes changed";
    EXPECT_EQ(ReadProfileValue(file, kSection, kKey), "1");
    EXPECT_TRUE(Temporaries(file.parent_path()).empty());
}

TEST(BadContent, BinaryGarbageKeepsEveryByte) {
    TempDir dir;
    std::mt19937 random(12345);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::string garbage(1 + random() % 65536, '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        // No header of ours can be in it by chance, so the section must be added.
        if (garbage.find("[Civilization Gold]") != std::string::npos) continue;
        const fs::path file = dir / ("garbage" + std::to_string(round) + ".ini");
        WriteFile(file, garbage);
        (void)ReadProfileValue(file, kSection, kKey);
        ExpectAppendedAfter(file, garbage);
    }
}

TEST(BadContent, NulBytesAreBytesLikeAnyOther) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    // A NUL inside the key's name hides it; one inside the value ends it (as Wine reads).
    const std::string hidden("[Civilization Gold]\r\nSimul\0taneous=0\r\n", 38);
    WriteFile(file, hidden);
    EXPECT_EQ(ReadProfileValue(file, kSection, kKey), std::nullopt);
    const Status status = WriteProfileValue(file, kSection, kKey, "1");
    ASSERT_TRUE(status.ok()) << Reason(status);
    EXPECT_EQ(ReadFile(file), hidden + "Simultaneous=1\r\n");

    const std::string inValue("[Civilization Gold]\r\nSimultaneous=0\0zz\r\n\0\0\0", 43);
    WriteFile(file, inValue);
    EXPECT_EQ(ReadProfileValue(file, kSection, kKey), "0");
    ASSERT_TRUE(WriteProfileValue(file, kSection, kKey, "1").ok());
    EXPECT_EQ(ReadFile(file), std::string("[Civilization Gold]\r\nSimultaneous=1\r\n\0\0\0", 40));
}

TEST(BadContent, HundredMegabyteSingleLine) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    std::string line(100u << 20, 'x');
    line[line.size() / 2] = '=';
    WriteFile(file, line);
    EXPECT_EQ(ReadProfileValue(file, kSection, kKey), std::nullopt);
    ExpectAppendedAfter(file, line);
    // The line has no break, so ours is "\r\n" and the new section starts on a line of its own.
    EXPECT_EQ(ReadFile(file).substr(line.size()), "\r\n[Civilization Gold]\r\nSimultaneous=1\r\n");
}

// Each thing in civ.ini's place: reading gives nothing, writing fails with a reason that
// names the problem, and the thing itself is still there as it was.
TEST(NotAFile, FolderFifoLoopAndDanglingLinksGiveClearResults) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    const auto refused = [&](const char* what, const std::string& expected) {
        SCOPED_TRACE(what);
        EXPECT_EQ(ReadProfileFile(file), std::nullopt);
        EXPECT_EQ(ReadProfileValue(file, kSection, kKey), std::nullopt);
        const Status status = WriteProfileValue(file, kSection, kKey, "1");
        ASSERT_FALSE(status.ok());
        EXPECT_NE(Reason(status).find(expected), std::string::npos) << Reason(status);
        EXPECT_TRUE(Temporaries(dir.path()).empty());
    };

    fs::create_directory(file);
    refused("folder", "civ.ini is a folder");
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_TRUE(fs::is_empty(file));
    fs::remove(file);

    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
    refused("fifo", "civ.ini is not a regular file");  // and did not hang on opening it
    EXPECT_TRUE(fs::is_fifo(file));
    fs::remove(file);

    fs::create_symlink("civ.ini", file);
    refused("link to itself", "too many symbolic links");
    EXPECT_TRUE(fs::is_symlink(file));
    fs::remove(file);

    fs::create_symlink(dir / "gone" / "civ.ini", file);
    refused("link into a missing folder", "does not exist");
    EXPECT_FALSE(fs::exists(dir / "gone"));
    EXPECT_TRUE(fs::is_symlink(file));
    fs::remove(file);
}

// A link to a file that is not there yet is a dangling link we may follow: the file is
// made where it points, and the link stays.
TEST(NotAFile, DanglingLinkToAFileInAnExistingFolderCreatesTheTarget) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    fs::create_symlink("elsewhere.ini", file);
    EXPECT_EQ(ReadProfileValue(file, kSection, kKey), std::nullopt);
    const Status status = WriteProfileValue(file, kSection, kKey, "1");
    ASSERT_TRUE(status.ok()) << Reason(status);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(ReadFile(dir / "elsewhere.ini"), "[Civilization Gold]\r\nSimultaneous=1\r\n");
}

// A file we may not read. As root every mode is readable, so the reading is done by
// "nobody" in a child of its own.
TEST(NotAFile, UnreadableFileIsReportedAndLeftAlone) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    const std::string before = "[Civilization Gold]\r\nSimultaneous=0\r\n";
    WriteFile(file, before);
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    fs::permissions(dir.path(), fs::perms(0777));
    const std::string outcome = InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return std::string("setuid failed");
        std::string out = ReadProfileFile(file) ? "read" : "nothing";
        out += ReadProfileValue(file, kSection, kKey) ? " value" : " no-value";
        out += " | " + Reason(WriteProfileValue(file, kSection, kKey, "1"));
        return out;
    });
    EXPECT_EQ(outcome, "nothing no-value | civ.ini cannot be read: permission denied");

    ASSERT_EQ(::chmod(file.c_str(), 0200), 0);  // writable, still unreadable
    const std::string writeOnly = InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return std::string("setuid failed");
        return Reason(WriteProfileValue(file, kSection, kKey, "1"));
    });
    // Writable but unreadable: it cannot be copied, so it is not rewritten.
    EXPECT_EQ(writeOnly, "civ.ini cannot be read: permission denied");
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_TRUE(Temporaries(dir.path()).empty());
}

}  // namespace
}  // namespace quenbrook::faults
