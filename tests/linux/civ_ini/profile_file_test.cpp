// The game's file as the game under Wine reads it: the engine on bytes (reads, writes,
// refused arguments), then on disk: golden files byte for byte, what the file keeps, and
// the order that makes a crash leave the old file or the new one (data on disk first).
#include "platform/linux/civ_ini/profile_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <future>
#include <thread>
#include <vector>

#include "platform/linux/civ_ini/profile_engine.h"
#include "support/cases.h"
#include "support/temp_dir.h"

// Interposed for the whole test program: every fsync and rename, in order, by inode.
static std::vector<std::string> g_diskCalls;
extern "C" int fsync(int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    g_diskCalls.push_back("fsync " + std::to_string(st.st_ino));
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"))(fd);
}
// And a save of the game's that lands while a recovery copy is being flushed, or before a
// rename that the file system does not have.
static std::function<void()> g_onDataSync, g_onRename;
extern "C" int fdatasync(int fd) {
    if (auto hook = std::exchange(g_onDataSync, nullptr)) hook();
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fdatasync"))(fd);
}
extern "C" int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
    struct stat st {};
    ::fstatat(fromFolder, from, &st, AT_SYMLINK_NOFOLLOW);
    g_diskCalls.push_back("rename " + std::to_string(st.st_ino));
    if (auto hook = std::exchange(g_onRename, nullptr)) {
        hook();
        errno = EINVAL;
        return -1;
    }
    using Call = int (*)(int, const char*, int, const char*, unsigned);
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, "renameat2"))(fromFolder, from, toFolder, to, flags);
}

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ProfileRead : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProfileRead, AsTheGameReadsIt) {
    const auto& row = GetParam();
    const auto value = FindProfileValue(row[0], row[1], row[2]);
    EXPECT_EQ(value ? std::optional<std::string>(*value) : std::nullopt, row.at(3));
}
INSTANTIATE_CASES(ProfileRead, "profile_read");

class ProfileWrite : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProfileWrite, PlansTheEditOrSaysWhyNot) {
    const auto& row = GetParam();
    const Status check = CheckProfileWrite(row[1], row[2], row[3]);
    EXPECT_EQ(check.reason(), row.at(5) ? row.wide(5) : L"");
    if (!check.ok()) return;
    const auto edit = PlanProfileWrite(row[0], row[1], row[2], row[3]);
    EXPECT_EQ(edit ? std::optional(ApplyProfileEdit(row[0], *edit)) : std::nullopt, row.at(4));
}
INSTANTIATE_CASES(ProfileWrite, "profile_write");

const fs::path kGolden = fs::path(QUENBROOK_TEST_DATA) / "profile";
const std::string kGame = "[Civilization Gold]\r\nSimultaneous=0\r\n";

Status Enable(const fs::path& file) { return WriteProfileValue(file, "Civilization Gold", "Simultaneous", "1"); }
// What a folder holds: a temporary left beside civ.ini shows as one more.
auto Names(const fs::path& folder) { return std::distance(fs::directory_iterator(folder), {}); }
struct stat Stat(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Every NAME.ini beside a NAME.expected.ini is a row (the README beside them says what each shows).
std::set<std::string> GoldenCases() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(kGolden))
        if (entry.path().stem().extension() == ".expected") names.insert(entry.path().stem().stem().string());
    return names;
}

// The expected bytes in a new inode with the old mode and owner, its data on disk before
// it takes civ.ini's place and the folder after (a crash between the two must never leave
// an empty civ.ini); writing again touches nothing.
class ProfileGolden : public ::testing::TestWithParam<std::string> {};
TEST_P(ProfileGolden, WriteThenRewrite) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    WriteFile(file, ReadFile(kGolden / (GetParam() + ".ini")));
    ASSERT_EQ(::chmod(file.c_str(), 0660), 0);
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || ::chown(file.c_str(), 4321, 4322) == 0);
    const ino_t original = Stat(file).st_ino;
    g_diskCalls.clear();
    ASSERT_EQ(Enable(file).reason(), L"");
    EXPECT_EQ(ReadFile(file), ReadFile(kGolden / (GetParam() + ".expected.ini")));
    const struct stat written = Stat(file);
    EXPECT_NE(written.st_ino, original);
    EXPECT_EQ(written.st_mode & 07777, 0660u);
    EXPECT_TRUE(!root || (written.st_uid == 4321 && written.st_gid == 4322)) << written.st_uid;
    const std::string temporary = std::to_string(written.st_ino), folder = std::to_string(Stat(dir.path()).st_ino);
    EXPECT_EQ(g_diskCalls, (std::vector<std::string>{"fsync " + temporary, "rename " + temporary, "fsync " + folder}));

    const timespec old[2] = {{946684800, 0}, {946684800, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
    ASSERT_TRUE(Enable(file).ok());
    EXPECT_EQ(Stat(file).st_ino, written.st_ino);
    EXPECT_EQ(Stat(file).st_mtim.tv_sec, 946684800);
    EXPECT_EQ(Names(dir.path()), 1);
}
INSTANTIATE_TEST_SUITE_P(Files, ProfileGolden, ::testing::ValuesIn(GoldenCases()),
                         [](const auto& info) { return info.param; });

// Links stay links: game/civ.ini -> ../links/civ.ini -> real/target.ini writes the
// target, and clears its abandoned (unlocked) temporaries, not one in use; a link to a
// missing file creates the file it names, mode 0644.
TEST(ProfileKeeps, LinksAndTemporariesInUse) {
    TempDir dir;
    for (const char* folder : {"game", "links"}) fs::create_directories(dir / folder);
    WriteFile(dir / "real/target.ini", kGame);
    fs::create_symlink("../links/civ.ini", dir / "game/civ.ini");
    fs::create_symlink(dir / "real/target.ini", dir / "links/civ.ini");
    fs::create_symlink("fresh.ini", dir / "real/new.ini");
    const char* temporaries[] = {".target.ini.quenbrook-00000000000000a1.tmp", ".target.ini.quenbrook-00000000000000b2.tmp",
                                 ".game.ini.quenbrook-00000000000000c3.tmp", "notes.tmp"};
    for (const char* name : temporaries) WriteFile(dir / "real" / name, "partial");
    const int held = ::open((dir / "real" / temporaries[1]).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const mode_t mask = ::umask(022);
    for (const char* link : {"game/civ.ini", "real/new.ini"}) EXPECT_TRUE(Enable(dir / link).ok());
    ::umask(mask);
    ::close(held);
    EXPECT_EQ(Stat(dir / "real/fresh.ini").st_mode & 07777, 0644u);
    for (const char* target : {"real/target.ini", "real/fresh.ini"})
        EXPECT_EQ(ReadFile(dir / target), "[Civilization Gold]\r\nSimultaneous=1\r\n");
    EXPECT_EQ(fs::read_symlink(dir / "game/civ.ini"), "../links/civ.ini");
    EXPECT_EQ(fs::read_symlink(dir / "links/civ.ini"), dir / "real/target.ini");
    EXPECT_TRUE(fs::is_symlink(dir / "real/new.ini"));
    EXPECT_FALSE(fs::exists(dir / "real" / temporaries[0]));
    for (int i = 1; i < 4; ++i) EXPECT_TRUE(fs::exists(dir / "real" / temporaries[i])) << temporaries[i];
}

// The game saving in place (truncate, then write) while we read: we wait for the save to
// end; a file merely kept open for writing is left alone, with the reason.
TEST(ProfileKeeps, AnotherWriterIsWaitedForOrRefused) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    WriteFile(file, "");
    const int probe = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const bool leases = ::fcntl(probe, F_SETLEASE, F_RDLCK) == 0;
    ::close(probe);
    if (!leases) GTEST_SKIP() << "no file leases here";
    const std::string saved = "[Game]\r\nA=1\r\n" + std::string(4096, ';') + "\r\n" + kGame;
    int game = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    ASSERT_EQ(::write(game, saved.data(), 100), 100);
    auto reader = std::async(std::launch::async, [&] { return ReadProfileValue(file, "Civilization Gold", "Simultaneous"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(::write(game, saved.data() + 100, saved.size() - 100), static_cast<ssize_t>(saved.size() - 100));
    ::close(game);
    EXPECT_EQ(reader.get(), "0");

    game = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const Status status = Enable(file);
    ::close(game);
    EXPECT_EQ(status.reason(), L"civ.ini is being written by another program (is the game saving it?); try again");
    EXPECT_EQ(ReadFile(file), saved);
    EXPECT_EQ(Names(dir.path()), 1);
}

// A civ.ini with a second name is written in place, after a copy of it is flushed: a save
// of the game's in that moment is the file our key goes into, whole, under both names.
TEST(ProfileKeeps, SaveDuringAnInPlaceWriteIsKept) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    WriteFile(file, "[Civilization Gold]\r\nSave=old\r\n[More]\r\nA=1\r\n");
    fs::create_hard_link(file, dir / "other.ini");
    g_onDataSync = [&] { WriteFile(file, "[Civilization Gold]\r\nSave=the game's, longer\r\n[More]\r\nB=2\r\n"); };
    EXPECT_TRUE(Enable(file).ok());
    EXPECT_EQ(ReadFile(file), "[Civilization Gold]\r\nSave=the game's, longer\r\nSimultaneous=1\r\n[More]\r\nB=2\r\n");
    EXPECT_EQ(ReadFile(dir / "other.ini"), ReadFile(file));
    EXPECT_EQ(Names(dir.path()), 2);
}

// Where the file system has no RENAME_NOREPLACE, a civ.ini the game made meanwhile is
// still never replaced by ours: our key goes into it.
TEST(ProfileKeeps, FileMadeMeanwhileWithoutNoReplaceIsKept) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    g_onRename = [&] { WriteFile(file, "[Civ2]\r\nPath=C:\\CIV2\\CIV2.EXE\r\n"); };
    EXPECT_TRUE(Enable(file).ok());
    EXPECT_EQ(ReadFile(file), "[Civ2]\r\nPath=C:\\CIV2\\CIV2.EXE\r\n[Civilization Gold]\r\nSimultaneous=1\r\n");
    EXPECT_EQ(Names(dir.path()), 1);
}

}  // namespace
}  // namespace quenbrook
