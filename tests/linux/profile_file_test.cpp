// Writing the game's file on disk: golden files byte for byte, then what must never
// happen to it (a torn file, a lost owner, a read-only file changed, a folder created).
#include "platform/linux/profile_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/profile_engine.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const fs::path kGolden = fs::path(QUENBROOK_TEST_DATA) / "profile";

// The golden cases; each sets Simultaneous=1 in [Civilization Gold] (see README.md there).
const char* const kCases[] = {
    "replace_crlf",
    "replace_lf",
    "replace_cr_only",
    "replace_no_final_break",
    "replace_keeps_spacing",
    "replace_quoted",
    "replace_empty_value",
    "replace_first_only",
    "append_section_after_broken_header",
    "insert_after_byte_order_mark",
    "append_section_after_bracket_in_name",
    "binary_bytes_kept",
    "insert_after_last_key",
    "insert_ignores_lines_before_sections",
    "insert_after_header",
    "insert_after_header_at_end",
    "insert_after_last_line_without_break",
    "insert_into_first_of_duplicates",
    "append_section_crlf",
    "append_section_no_final_break",
    "append_section_cr_only",
    "append_section_first_break_wins",
    "append_section_no_break_yet",
    "append_to_empty_file",
};
constexpr const char* kSection = "Civilization Gold";
constexpr const char* kKey = "Simultaneous";

std::string Reason(const Status& status) {
    return std::string(status.reason().begin(), status.reason().end());
}

// Names in folder that look like our temporary files.
std::vector<std::string> Temporaries(const fs::path& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".quenbrook-") != std::string::npos)
            found.push_back(entry.path().filename().string());
    return found;
}

struct stat Stat(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// ---------------------------------------------------------------- golden files

TEST(ProfileGolden, EachCaseGivesItsExpectedBytes) {
    TempDir dir;
    for (const char* name : kCases) {
        SCOPED_TRACE(name);
        const std::string before = ReadFile(kGolden / (std::string(name) + ".ini"));
        const std::string expected = ReadFile(kGolden / (std::string(name) + ".expected.ini"));
        ASSERT_NE(before, expected) << "a case must change something";

        const fs::path file = dir / (std::string(name) + ".ini");
        WriteFile(file, before);
        const Status status = WriteProfileValue(file, kSection, kKey, "1");
        ASSERT_TRUE(status.ok()) << Reason(status);
        EXPECT_EQ(ReadFile(file), expected);
        EXPECT_EQ(ReadProfileValue(file, kSection, kKey), "1");
    }
    EXPECT_TRUE(Temporaries(dir.path()).empty());
}

TEST(ProfileGolden, WritingTheCurrentValueTouchesNoByteNorTheFile) {
    TempDir dir;
    for (const char* name : kCases) {
        SCOPED_TRACE(name);
        const std::string expected = ReadFile(kGolden / (std::string(name) + ".expected.ini"));
        const fs::path file = dir / "civ.ini";
        WriteFile(file, expected);
        const timespec old[2] = {{946684800, 0}, {946684800, 0}};  // 2000-01-01
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
        const struct stat before = Stat(file);

        ASSERT_TRUE(WriteProfileValue(file, kSection, kKey, "1").ok());
        const struct stat after = Stat(file);
        EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec) << "the file was written";
        EXPECT_EQ(ReadFile(file), expected);
    }
}

TEST(ProfileGolden, WritingThenRestoringGivesTheOriginalBytes) {
    TempDir dir;
    int restored = 0;
    for (const char* name : kCases) {
        const std::string before = ReadFile(kGolden / (std::string(name) + ".ini"));
        const auto old = FindProfileValue(before, kSection, kKey);
        if (!old) continue;  // an inserted line has no old value to go back to
        SCOPED_TRACE(name);
        const fs::path file = dir / "civ.ini";
        WriteFile(file, before);
        ASSERT_TRUE(WriteProfileValue(file, kSection, kKey, "1").ok());
        ASSERT_TRUE(WriteProfileValue(file, kSection, kKey, *old).ok());
        EXPECT_EQ(ReadFile(file), before);
        ++restored;
    }
    EXPECT_GE(restored, 9);
}

TEST(ProfileGolden, MissingFileGetsTheTwoLinesWithUsualBits) {
    TempDir dir;
    const mode_t umaskBefore = ::umask(022);
    const Status status = WriteProfileValue(dir / "civ.ini", kSection, kKey, "1");
    ::umask(umaskBefore);
    ASSERT_TRUE(status.ok()) << Reason(status);
    EXPECT_EQ(ReadFile(dir / "civ.ini"), ReadFile(kGolden / "append_to_empty_file.expected.ini"));
    EXPECT_EQ(Stat(dir / "civ.ini").st_mode & 07777, 0644u);
}

// ---------------------------------------------------------------- reading

TEST(ProfileFileRead, WhatCannotBeReadGivesNothing) {
    ::alarm(10);  // a FIFO opened the blocking way would hang the test, not fail it
    TempDir dir;
    EXPECT_EQ(ReadProfileFile(dir / "missing.ini"), std::nullopt);
    fs::create_directory(dir / "folder.ini");
    EXPECT_EQ(ReadProfileFile(dir / "folder.ini"), std::nullopt);
    fs::create_symlink(dir / "nowhere.ini", dir / "dangling.ini");
    EXPECT_EQ(ReadProfileFile(dir / "dangling.ini"), std::nullopt);
    // A FIFO would block a plain open until someone writes to it.
    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0644), 0);
    EXPECT_EQ(ReadProfileFile(dir / "fifo.ini"), std::nullopt);
    EXPECT_EQ(ReadProfileValue(dir / "missing.ini", kSection, kKey), std::nullopt);

    WriteFile(dir / "real.ini", std::string("[S]\r\nk=v\0w\r\n", 12));
    fs::create_symlink("real.ini", dir / "link.ini");
    EXPECT_EQ(ReadProfileValue(dir / "link.ini", "S", "k"), "v");
    ::alarm(0);
}

// ---------------------------------------------------------------- refusals

TEST(ProfileRefusal, ReadOnlyFileIsRefusedEvenForRoot) {
    TempDir dir;
    const std::string before = "[Civilization Gold]\r\nSimultaneous=0\r\n";
    WriteFile(dir / "civ.ini", before);
    fs::permissions(dir / "civ.ini", fs::perms(0444));
    const Status status = WriteProfileValue(dir / "civ.ini", kSection, kKey, "1");
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(Reason(status), "civ.ini is read-only");
    EXPECT_EQ(ReadFile(dir / "civ.ini"), before);
    EXPECT_EQ(Stat(dir / "civ.ini").st_mode & 07777, 0444u);
    EXPECT_TRUE(Temporaries(dir.path()).empty());
}

TEST(ProfileRefusal, MissingFolderIsNotCreated) {
    TempDir dir;
    const Status status = WriteProfileValue(dir / "Civ2" / "civ.ini", kSection, kKey, "1");
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(Reason(status), "the folder " + (dir / "Civ2").string() + " does not exist");
    EXPECT_FALSE(fs::exists(dir / "Civ2"));
}

TEST(ProfileRefusal, FolderOrDeviceInPlaceOfTheFileIsLeftAlone) {
    ::alarm(10);  // as above
    TempDir dir;
    fs::create_directory(dir / "civ.ini");
    Status status = WriteProfileValue(dir / "civ.ini", kSection, kKey, "1");
    EXPECT_EQ(Reason(status), "civ.ini is a folder");
    EXPECT_TRUE(fs::is_directory(dir / "civ.ini"));
    EXPECT_TRUE(fs::is_empty(dir / "civ.ini"));

    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0644), 0);
    status = WriteProfileValue(dir / "fifo.ini", kSection, kKey, "1");
    EXPECT_EQ(Reason(status), "fifo.ini is not a regular file");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo.ini"));
    ::alarm(0);
}

TEST(ProfileRefusal, BadArgumentsLeaveTheFileUntouched) {
    TempDir dir;
    const std::string before = "[Civilization Gold]\r\nSimultaneous=0\r\n";
    WriteFile(dir / "civ.ini", before);
    const Status status = WriteProfileValue(dir / "civ.ini", kSection, kKey, "1\r\n[Evil]");
    EXPECT_FALSE(status.ok());
    EXPECT_NE(Reason(status).find("line break"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "civ.ini"), before);
}

// Runs body in a child process (for limits and identities the test itself must not
// take on) and returns what it printed.
template <typename Body>
std::string InChild(Body body) {
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const std::string out = body();
        (void)!::write(pipeFds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    return out;
}

TEST(ProfileRefusal, FileTooLargeForTheLimitFailsAndKeepsTheOldFile) {
    TempDir dir;
    const std::string before =
        "[Civilization Gold]\r\nSimultaneous=0\r\n" + std::string(256 << 10, 'x');
    WriteFile(dir / "civ.ini", before);
    const std::string reason = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 << 10, 64 << 10};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return Reason(WriteProfileValue(dir / "civ.ini", kSection, kKey, "1"));
    });
    EXPECT_EQ(reason, "civ.ini cannot be saved: the file is too large");
    EXPECT_EQ(ReadFile(dir / "civ.ini"), before);
    EXPECT_TRUE(Temporaries(dir.path()).empty());
}

TEST(ProfileRefusal, OtherUsersFileOrFolderIsPermissionDenied) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(0755));
    const std::string before = "[Civilization Gold]\r\nSimultaneous=0\r\n";
    WriteFile(dir / "civ.ini", before);
    fs::permissions(dir / "civ.ini", fs::perms(0644));
    const auto asNobody = [&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return std::string("setuid failed");
        return Reason(WriteProfileValue(dir / "civ.ini", kSection, kKey, "1"));
    };
    EXPECT_EQ(InChild(asNobody), "civ.ini cannot be changed: permission denied");

    // Writable file, but no right to create the new copy beside it.
    fs::permissions(dir / "civ.ini", fs::perms(0666));
    EXPECT_EQ(InChild(asNobody),
              "civ.ini cannot be saved in " + dir.path().string() + ": permission denied");
    EXPECT_EQ(ReadFile(dir / "civ.ini"), before);
    EXPECT_TRUE(Temporaries(dir.path()).empty());
}

// ---------------------------------------------------------------- what the file keeps

TEST(ProfileKeeps, PermissionBitsAndOwner) {
    TempDir dir;
    const bool root = ::geteuid() == 0;
    for (const mode_t mode : {0600u, 0640u, 0604u, 0664u}) {
        SCOPED_TRACE(mode);
        const fs::path file = dir / "civ.ini";
        fs::remove(file);
        WriteFile(file, "[Civilization Gold]\r\nSimultaneous=0\r\n");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        if (root) {
            ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
        }
        const ino_t inode = Stat(file).st_ino;

        const Status status = WriteProfileValue(file, kSection, kKey, "1");
        ASSERT_TRUE(status.ok()) << Reason(status);
        const struct stat after = Stat(file);
        EXPECT_NE(after.st_ino, inode) << "not replaced atomically";
        EXPECT_EQ(after.st_mode & 07777, mode);
        if (root) {
            EXPECT_EQ(after.st_uid, 4321u);
            EXPECT_EQ(after.st_gid, 4322u);
        }
        EXPECT_EQ(ReadProfileValue(file, kSection, kKey), "1");
    }
}

TEST(ProfileKeeps, SymlinksStayLinksAndTheTargetIsWritten) {
    TempDir dir;
    fs::create_directories(dir / "game");
    fs::create_directories(dir / "links");
    fs::create_directories(dir / "real");
    WriteFile(dir / "real" / "target.ini", "[Civilization Gold]\r\nSimultaneous=0\r\n");
    // game/civ.ini -> ../links/civ.ini (relative) -> <dir>/real/target.ini (absolute)
    fs::create_symlink("../links/civ.ini", dir / "game" / "civ.ini");
    fs::create_symlink(dir / "real" / "target.ini", dir / "links" / "civ.ini");

    const Status status = WriteProfileValue(dir / "game" / "civ.ini", kSection, kKey, "1");
    ASSERT_TRUE(status.ok()) << Reason(status);
    EXPECT_EQ(ReadFile(dir / "real" / "target.ini"), "[Civilization Gold]\r\nSimultaneous=1\r\n");
    ASSERT_TRUE(fs::is_symlink(dir / "game" / "civ.ini"));
    ASSERT_TRUE(fs::is_symlink(dir / "links" / "civ.ini"));
    EXPECT_EQ(fs::read_symlink(dir / "game" / "civ.ini"), "../links/civ.ini");
    EXPECT_EQ(fs::read_symlink(dir / "links" / "civ.ini"), dir / "real" / "target.ini");
    for (const char* folder : {"game", "links", "real"})
        EXPECT_TRUE(Temporaries(dir / folder).empty()) << folder;

    // A link to a file that does not exist yet creates the file, not a plain file in
    // place of the link.
    fs::create_symlink("fresh.ini", dir / "real" / "new.ini");
    ASSERT_TRUE(WriteProfileValue(dir / "real" / "new.ini", kSection, kKey, "1").ok());
    EXPECT_TRUE(fs::is_symlink(dir / "real" / "new.ini"));
    EXPECT_EQ(ReadFile(dir / "real" / "fresh.ini"), "[Civilization Gold]\r\nSimultaneous=1\r\n");
}

// Another writer's temporary file is locked while in use; only unlocked ones of this
// file are taken for abandoned.
TEST(ProfileKeeps, OnlyAbandonedTemporariesAreCleared) {
    TempDir dir;
    WriteFile(dir / "civ.ini", "[Civilization Gold]\r\nSimultaneous=0\r\n");
    const std::string abandoned = ".civ.ini.quenbrook-00000000000000a1.tmp";
    const std::string inUse = ".civ.ini.quenbrook-00000000000000b2.tmp";
    const std::string otherFile = ".game.ini.quenbrook-00000000000000c3.tmp";
    for (const std::string& name : {abandoned, inUse, otherFile, std::string("notes.tmp")})
        WriteFile(dir / name, "partial");
    const int held = ::open((dir / inUse).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_TRUE(WriteProfileValue(dir / "civ.ini", kSection, kKey, "1").ok());
    ::close(held);
    EXPECT_FALSE(fs::exists(dir / abandoned));
    EXPECT_TRUE(fs::exists(dir / inUse));
    EXPECT_TRUE(fs::exists(dir / otherFile));
    EXPECT_TRUE(fs::exists(dir / "notes.tmp"));
}

// Whether the kernel grants file leases in folder: they are what tells us that someone
// is writing a file, and some file systems have none.
bool LeasesWork(const fs::path& folder) {
    WriteFile(folder / "probe", "");
    const int probe = ::open((folder / "probe").c_str(), O_RDONLY | O_CLOEXEC);
    const bool granted = ::fcntl(probe, F_SETLEASE, F_RDLCK) == 0;
    ::close(probe);
    fs::remove(folder / "probe");
    return granted;
}

// The game saving civ.ini in place (truncate, then write) while we read it: we wait for
// the save to end instead of taking its first half for the whole file.
TEST(ProfileKeeps, AFileBeingSavedIsWaitedFor) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    const std::string saved = "[Game]\r\nA=1\r\n" + std::string(4096, ';') +
                              "\r\n[Civilization Gold]\r\nSimultaneous=0\r\n";
    if (!LeasesWork(dir.path())) GTEST_SKIP() << "no file leases here";
    WriteFile(file, "");
    const int game = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_GE(game, 0);
    ASSERT_EQ(::write(game, saved.data(), 100), 100);

    std::optional<std::string> read;
    std::thread reader([&] { read = ReadProfileValue(file, kSection, kKey); });
    Status status = Status::Fail(L"not run");
    std::thread writer([&] { status = WriteProfileValue(file, kSection, kKey, "1"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(::write(game, saved.data() + 100, saved.size() - 100),
              static_cast<ssize_t>(saved.size() - 100));
    ::close(game);
    reader.join();
    writer.join();

    EXPECT_EQ(read, "0");
    ASSERT_TRUE(status.ok()) << Reason(status);
    std::string expected = saved;
    expected.replace(expected.size() - 3, 1, "1");
    EXPECT_EQ(ReadFile(file), expected);
}

// A program that keeps civ.ini open for writing may write at any time: we neither read
// nor replace the file then, and say why.
TEST(ProfileKeeps, AFileKeptOpenForWritingIsNotReplaced) {
    TempDir dir;
    if (!LeasesWork(dir.path())) GTEST_SKIP() << "no file leases here";
    const fs::path file = dir / "civ.ini";
    const std::string before = "[Civilization Gold]\r\nSimultaneous=0\r\n";
    WriteFile(file, before);
    const int other = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(other, 0);
    const ino_t inode = Stat(file).st_ino;
    const Status status = WriteProfileValue(file, kSection, kKey, "1");
    ::close(other);
    EXPECT_EQ(Reason(status),
              "civ.ini is being written by another program (is the game saving it?); try again");
    EXPECT_EQ(Stat(file).st_ino, inode);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_TRUE(Temporaries(dir.path()).empty());
}

// A writer killed at any moment leaves the old file or the new one, never a torn one, and
// the next write clears what the killed one left behind.
TEST(ProfileKeeps, WriterKilledAtRandomMomentsNeverTearsTheFile) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    std::string filler;
    for (int i = 0; filler.size() < (2u << 20); ++i)
        filler += "[Section" + std::to_string(i) + "]\r\nKey=Value\r\n";
    const std::string versionA = "[Civilization Gold]\r\nSimultaneous=0\r\n" + filler;
    const std::string versionB = "[Civilization Gold]\r\nSimultaneous=10000\r\n" + filler;
    WriteFile(file, versionA);

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMicros(1000, 20000);
    int sawB = 0;
    int leftovers = 0;
    for (int round = 0; round < 50; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i)
                (void)WriteProfileValue(file, kSection, kKey, i % 2 ? "0" : "10000");
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        const std::string now = ReadFile(file);
        ASSERT_TRUE(now == versionA || now == versionB)
            << "torn file after round " << round << ": " << now.size() << " bytes";
        sawB += now == versionB;
        leftovers += !Temporaries(dir.path()).empty();
    }
    // Kills must have landed in the middle of writes, or this proved nothing.
    EXPECT_GT(leftovers, 0);
    EXPECT_GT(sawB, 0);

    ASSERT_TRUE(WriteProfileValue(file, kSection, kKey, "1").ok());
    EXPECT_TRUE(Temporaries(dir.path()).empty());
    EXPECT_EQ(ReadProfileValue(file, kSection, kKey), "1");
}

}  // namespace
}  // namespace quenbrook
