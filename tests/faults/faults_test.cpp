// What must never happen to the game's file: a refused write that changes it anyway, bad
// content losing bytes, a writer killed at any moment, no room, the game saving meanwhile.
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <set>
#include <thread>

#include "platform/linux/civ_ini/profile_engine.h"
#include "platform/linux/civ_ini/profile_file.h"
#include "support/cases.h"
#include "support/temp_dir.h"

// An NFS or SMB home as the kernel shows it, for the writer "nfs": an NFS file system
// (fstatfs), and a read lease refused with EAGAIN (no delegation or oplock granted).
static bool g_nfs = false;
extern "C" int fcntl(int fd, int cmd, ...) {
    va_list args;
    va_start(args, cmd);
    const long argument = va_arg(args, long);
    va_end(args);
    if (g_nfs && cmd == F_SETLEASE && argument != F_UNLCK) return errno = EAGAIN, -1;
    return reinterpret_cast<int (*)(int, int, long)>(::dlsym(RTLD_NEXT, "fcntl"))(fd, cmd, argument);
}
extern "C" int fstatfs(int fd, struct statfs* info) {
    const int result = reinterpret_cast<int (*)(int, struct statfs*)>(::dlsym(RTLD_NEXT, "fstatfs"))(fd, info);
    if (g_nfs && result == 0) info->f_type = 0x6969;
    return result;
}

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using namespace testing;

std::string Write(const fs::path& file, const std::string& value = "1") {
    const Status s = WriteProfileValue(file, "Civilization Gold", "Simultaneous", value);
    return s.ok() ? "ok" : std::string(s.reason().begin(), s.reason().end());
}
// How many names folder holds: a temporary left beside civ.ini shows as one more.
auto Names(const fs::path& folder) { return std::distance(fs::directory_iterator(folder), {}); }
// [Civilization Gold] with keyLine, then other sections until the file has size bytes.
std::string GameFile(const std::string& keyLine, std::size_t size, char tag = 'a') {
    std::string text = "[Civilization Gold]\r\n" + keyLine + "Sound=1\r\n";
    for (int i = 0; text.size() < size; ++i)
        text += "[Section" + std::string(1, tag) + std::to_string(i) + "]\r\nKey=Value\r\n";
    return text;
}

// body runs in a child that dies with us: Start leaves it running for Stop (SIGKILL);
// InChild waits for its answer ("signal N" when it died of one).
pid_t Start(const std::function<void()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        body();
        ::_exit(0);
    }
    return child;
}
void Stop(pid_t child) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}
std::string InChild(const std::function<std::string()>& body) {
    auto* answer = static_cast<char*>(::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    int status = 0;
    ::waitpid(Start([&] { body().copy(answer, 4095); }), &status, 0);
    const std::string out = WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : answer;
    ::munmap(answer, 4096);
    return out;
}
// Makes this child the writer a row names: us, nobody (in the group users, 100), nfs (us
// on an NFS home), or small (files of 16 bytes at most).
bool Become(const std::string& writer) {
    const rlimit small{16, 16};
    const gid_t users = 100;
    g_nfs = writer == "nfs";
    if (writer == "small") return ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    return writer != "nobody" || ::geteuid() != 0 ||
           (::setgroups(1, &users) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
}
// What a file is besides its bytes: inode kind and mode, owner, group, links, every
// extended attribute (the ACL among them).
std::string Identity(const fs::path& file) {
    struct stat st {};
    ::lstat(file.c_str(), &st);
    std::string identity = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) +
                           " links " + std::to_string(st.st_nlink);
    char names[4096], value[4096];
    const ssize_t n = ::llistxattr(file.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        const ssize_t size = ::lgetxattr(file.c_str(), names + at, value, sizeof value);
        identity += std::string(" ") + (names + at) + "=" + std::string(value, size > 0 ? size : 0);
    }
    return identity;
}

class Faults : public ::testing::Test {
protected:
    testing::TempDir dir;
    const fs::path file = dir / "civ.ini";
    std::string Filled(std::string text) const {  // {dir} stands for the folder
        if (const auto at = text.find("{dir}"); at != std::string::npos) text.replace(at, 5, dir.path());
        return text;
    }
};

// A row of faults_write: what stands at civ.ini, who writes what, and what must follow;
// nothing is ever left beside the file, nor a missing folder made, and a written file
// keeps all it was besides its bytes.
class WriteTo : public Faults, public ::testing::WithParamInterface<testing::Case> {};
TEST_P(WriteTo, GivesItsResultAndChangesNothingElse) {
    const auto& row = GetParam();
    const std::string before = row.at(3) ? *row.at(3) : std::string(50u << 20, 'x') + "=" + std::string(50u << 20, 'y');
    const std::string what = row[0], argument = Filled(what.substr(what.find(' ') + 1));
    const bool hardLink = what.find(" hardlink") != std::string::npos;
    const bool leftover = what.find(" leftover") != std::string::npos;
    fs::permissions(dir.path(), fs::perms(what.find(" open") != std::string::npos ? 0777 : 0755));
    if (what == "folder") fs::create_directory(file);
    if (what == "fifo") ::mkfifo(file.c_str(), 0644);
    if (what.starts_with("link")) fs::create_symlink(argument, file);
    if (what.starts_with("file")) {
        WriteFile(file, before);
        ::chmod(file.c_str(), std::stoi(argument, nullptr, 8));
        if (const auto at = what.find(" owner "); at != std::string::npos) {
            ASSERT_EQ(::chown(file.c_str(), 0, std::stoi(what.substr(at + 7))), 0);
        }
        if (hardLink) fs::create_hard_link(file, dir / "other.ini");
        if (leftover) WriteFile(dir / "civ.ini.quenbrook-backup", "[Civilization Gold]\r\n");
        if (what.find(" acl") != std::string::npos) {
            ASSERT_EQ(std::system(("setfacl -m u:nobody:rw " + file.string()).c_str()), 0) << "setfacl (package acl)";
            ASSERT_EQ(::setxattr(file.c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0) << "no user.* attributes on " << dir.path();
        }
    }
    const std::string identity = Identity(file);
    const auto snapshot = [&] {
        struct stat st {};
        ::lstat(file.c_str(), &st);
        return std::to_string(st.st_mode) + ":" + std::to_string(st.st_ino) + ":" + (S_ISREG(st.st_mode) ? ReadFile(file) : "");
    };
    const std::string old = snapshot();
    EXPECT_EQ(InChild([&] { return Become(row[1]) ? Write(file, row[2]) : "cannot become " + row[1]; }), Filled(row[4]));
    const std::string after = row.at(5) ? (row.at(3) ? "" : before) + *row.at(5) : old;
    EXPECT_TRUE((row.at(5) ? ReadFile(file) : snapshot()) == after) << snapshot().substr(0, 200);
    EXPECT_EQ(Identity(file), identity);
    if (hardLink) {
        EXPECT_EQ(ReadFile(dir / "other.ini"), ReadFile(file));
    }
    EXPECT_EQ(Names(dir.path()), 1 + hardLink + leftover);
}
INSTANTIATE_CASES(WriteTo, "faults_write");

// A writer killed at random moments: civ.ini is always the old file or the new one, and
// the next write clears what the killed one left.
TEST_F(Faults, WriterKilledAtRandomNeverTearsNorLosesTheFile) {
    const std::string versions[2] = {GameFile("Simultaneous=0\r\n", 256 << 10), GameFile("Simultaneous=10000\r\n", 256 << 10)};
    WriteFile(file, versions[0]);
    int interrupted = 0, changed = 0;
    for (int round = 0; round < 200; ++round) {
        const pid_t writer = Start([&] {
            for (unsigned i = 0;; ++i) Write(file, i % 2 ? "0" : "10000");
        });
        std::this_thread::sleep_for(std::chrono::microseconds(::random() % 5000));
        ::kill(writer, SIGSTOP);  // a new file open, named or not yet, is a write under way
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(writer) + "/fd", ec)) {
            const std::string open = fs::read_symlink(fd, ec).string();
            interrupted += open.starts_with(dir.path().string()) && open != file.string();
        }
        Stop(writer);
        const std::string now = ReadFile(file);
        ASSERT_TRUE(now == versions[0] || now == versions[1]) << "torn: " << now.size() << " bytes";
        changed += now != versions[round % 2];
        ASSERT_EQ(Write(file, round % 2 ? "10000" : "0"), "ok");
        ASSERT_EQ(Names(dir.path()), 1);
    }
    EXPECT_GT(interrupted, 0) << "no kill landed inside a write";
    EXPECT_GT(changed, 0);
}

// A 64 KiB tmpfs filled to a different level on each try: a write succeeds whole or fails
// as "disk full" with the old file.
TEST_F(Faults, FullDiskFailsAndKeepsTheOldFile) {
    const std::string before = GameFile("", 20000);
    const std::string after = std::string(before).insert(30, "Simultaneous=1\r\n");  // after Sound=1
    const std::string outcomes = InChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0)
            return "unavailable";
        std::string seen;
        for (std::size_t filler = 0; filler <= (44u << 10); filler += 4096) {
            WriteFile(dir / "filler", std::string(filler, 'f'));
            WriteFile(file, before);
            const std::string result = Write(file), now = ReadFile(file);
            const std::string outcome = result + (now == before ? " old" : now == after ? " new" : " TORN") +
                                        (Names(dir.path()) == 2 ? "\n" : " LEFTOVERS\n");
            if (seen.find(outcome) == std::string::npos) seen += outcome;
            fs::remove(file);
        }
        return seen;
    });
    if (outcomes == "unavailable") GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(outcomes, "ok new\nciv.ini cannot be saved: the disk is full old\n");
}

// The game saving while we write, each round another way: by rename; as Wine's profile
// write opens the file (O_WRONLY | O_CREAT | O_TRUNC); cut short first with
// open(O_RDONLY | O_TRUNC), which no lease stops, under the file we may be reading; or
// another writer of ours setting another key. No save is lost, none is mixed with
// another or torn, and nothing crashes: civ.ini ends as the round's save, with our key
// or without it.
TEST(Race, RacingSavesAreNeverLost) {
    std::error_code ec;
    const TempDir dir(fs::is_directory("/dev/shm", ec) ? "/dev/shm" : fs::temp_directory_path());  // in memory: fast rounds
    const fs::path file = dir / "civ.ini";
#if defined(__SANITIZE_ADDRESS__)
    const int usual = 200;  // 10-50 times slower there
#else
    const int usual = 1000;
#endif
    const char* given = std::getenv("QUENBROOK_RACE_ROUNDS");
    const int rounds = given ? std::atoi(given) : usual;
    const std::string ways[] = {"rename", "wine", "truncate", "ours"};
    std::map<std::string, int> withOurKey;
    long writeMicros = 500;
    for (int round = 0; round < rounds; ++round) {
        const std::string& way = ways[round % 4];
        const std::string save = GameFile("Save=" + std::to_string(round) + "\r\n", 48 << 10);
        std::string saveWithKey = save;
        saveWithKey.insert(saveWithKey.find("Sound=1\r\n") + 9, "Simultaneous=1\r\n");
        WriteFile(file, GameFile("Save=old\r\n", 48 << 10));
        const auto start = std::chrono::steady_clock::now();
        std::atomic<long> took{0};  // our write alone, which the game's save is to land inside
        auto ours = std::async(std::launch::async, [&] {
            const std::string result = Write(file);
            took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
            return result;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(::random() % (std::min(2 * writeMicros, 5000L) + 1)));
        if (way == "ours") {
            ASSERT_EQ(WriteProfileValue(file, "Civilization Gold", "Save", std::to_string(round)).reason(), L"");
        } else {
            if (way == "truncate") ::close(::open(file.c_str(), O_RDONLY | O_TRUNC));
            const fs::path target = way == "rename" ? dir / "civ.ini.game" : file;
            const int fd = ::open(target.c_str(), way == "truncate" ? O_WRONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ASSERT_EQ(::write(fd, save.data(), save.size()), static_cast<ssize_t>(save.size()));
            ::close(fd);
            if (way == "rename") fs::rename(target, file);
        }
        ASSERT_EQ(ours.get(), "ok") << way << " round " << round;
        writeMicros = (writeMicros * 7 + took) / 8;
        const std::string now = ReadFile(file);
        if (way == "truncate") {
            // Its two opens may find two files, ours and the one it cut short: only our
            // write, and no crash, are asked of us.
        } else if (way == "ours") {
            EXPECT_EQ(ReadProfileValue(file, "Civilization Gold", "Save"), std::to_string(round)) << "round " << round;
            EXPECT_EQ(ReadProfileValue(file, "Civilization Gold", "Simultaneous"), "1") << "round " << round;
        } else {
            ASSERT_TRUE(now == save || now == saveWithKey) << way << " round " << round << ": " << now.substr(0, 60) << " ("
                                                           << now.size() << " bytes)";
        }
        withOurKey[way] += now == saveWithKey;
        ASSERT_EQ(Names(dir.path()), 1) << way << " round " << round;
    }
    // Both orders happened: the race was run, not one side always first.
    for (const std::string way : {"rename", "wine"})
        EXPECT_TRUE(rounds < 100 || (withOurKey[way] > 0 && withOurKey[way] < rounds / 4)) << way << " " << withOurKey[way];
}

}  // namespace
}  // namespace quenbrook
