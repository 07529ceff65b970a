// What must never happen to the game's file: refused writes that change it anyway, content
// no game writes, a writer killed at any moment, no room, the game saving at the same time.
// One driver: a forked child (the writer, the game, a limited or other user) whose answer
// comes back as text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "platform/linux/profile_engine.h"
#include "platform/linux/profile_file.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string Reason(const Status& s) { return std::string(s.reason().begin(), s.reason().end()); }
std::string Write(const fs::path& file, const char* value = "1") {
    const Status s = WriteProfileValue(file, "Civilization Gold", "Simultaneous", value);
    return s.ok() ? "ok" : Reason(s);
}
bool NoTemporaries(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".quenbrook-") != std::string::npos) return false;
    return true;
}

// The driver: body runs in a child that dies with us. InChild waits and gives its answer
// ("signal N" when it died); Start leaves it running for Stop (SIGKILL) to end.
pid_t Start(const std::function<std::string()>& body, int* answer = nullptr) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const std::string out = body();
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    if (answer) *answer = fds[0]; else ::close(fds[0]);
    return child;
}
void Stop(pid_t child) { ::kill(child, SIGKILL); ::waitpid(child, nullptr, 0); }
std::string InChild(const std::function<std::string()>& body) {
    int fd = -1;
    const pid_t child = Start(body, &fd);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : out;
}
bool AsNobody() { return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0); }

// [Civilization Gold] with keyLine, then other sections until the file has size bytes.
std::string GameFile(const std::string& keyLine, std::size_t size, char tag = 'a') {
    std::string text = "[Civilization Gold]\r\n" + keyLine + "Sound=1\r\n";
    for (int i = 0; text.size() < size; ++i)
        text += "[Section" + std::string(1, tag) + std::to_string(i) + "]\r\nKey=Value\r\n";
    return text;
}

// ---------------------------------------------------------------- refusals
// Each row puts something in civ.ini's place (or limits the writer); the write fails with
// the reason, and whatever was there is left exactly as it was, with nothing beside it.
struct Refusal {
    const char* name;
    std::function<void(const fs::path& dir)> prepare;
    std::function<bool()> inChild;  // the writer's limits or identity
    std::string reason;             // "{dir}" stands for the folder
};
const std::string kGame = "[Civilization Gold]\r\nSimultaneous=0\r\n";
auto File(mode_t mode) {
    return [mode](const fs::path& dir) { WriteFile(dir / "civ.ini", kGame); ::chmod((dir / "civ.ini").c_str(), mode); };
}
bool Always() { return true; }
const Refusal kRefusals[] = {
    {"ReadOnlyEvenForRoot", File(0444), Always, "civ.ini is read-only"},
    {"Folder", [](const fs::path& d) { fs::create_directory(d / "civ.ini"); }, Always, "civ.ini is a folder"},
    {"Fifo", [](const fs::path& d) { ::mkfifo((d / "civ.ini").c_str(), 0644); }, Always,
     "civ.ini is not a regular file"},
    {"LinkToItself", [](const fs::path& d) { fs::create_symlink("civ.ini", d / "civ.ini"); }, Always,
     "civ.ini cannot be opened: the path has too many symbolic links"},
    {"LinkIntoMissingFolder", [](const fs::path& d) { fs::create_symlink(d / "gone" / "civ.ini", d / "civ.ini"); },
     Always, "the folder {dir}/gone does not exist"},
    {"FileTooLarge", File(0644), [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit limit{16, 16};
         return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
     }, "civ.ini cannot be saved: the file is too large"},
    {"OtherUsersFile", File(0644), AsNobody, "civ.ini cannot be changed: permission denied"},
    {"UnwritableFolder", File(0666), AsNobody, "civ.ini cannot be saved in {dir}: permission denied"},
    {"Unreadable", File(0), AsNobody, "civ.ini cannot be read: permission denied"},
};

void PrintTo(const Refusal& row, std::ostream* out) { *out << row.name; }
class Refused : public ::testing::TestWithParam<Refusal> {};
TEST_P(Refused, FailsWithItsReasonAndLeavesTheFile) {
    const Refusal& row = GetParam();
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(0755));
    row.prepare(dir.path());
    const auto snapshot = [&] {
        struct stat st {};
        ::lstat((dir / "civ.ini").c_str(), &st);
        return std::to_string(st.st_mode) + ":" + std::to_string(st.st_ino) + ":" +
               (S_ISREG(st.st_mode) ? ReadFile(dir / "civ.ini") : "");
    };
    const std::string before = snapshot();
    std::string reason = row.reason;
    if (const auto at = reason.find("{dir}"); at != std::string::npos) reason.replace(at, 5, dir.path().string());
    EXPECT_EQ(InChild([&] { return row.inChild() ? Write(dir / "civ.ini") : "setup failed"; }), reason);
    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(fs::exists(dir / "gone"));
    EXPECT_TRUE(NoTemporaries(dir.path()));
}
INSTANTIATE_TEST_SUITE_P(Rows, Refused, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Refused, LineBreakInValue) {
    TempDir dir;
    WriteFile(dir / "civ.ini", kGame);
    EXPECT_EQ(Write(dir / "civ.ini", "1\r\n[Evil]"), "the value contains a line break");
    EXPECT_EQ(ReadFile(dir / "civ.ini"), kGame);
}

// ---------------------------------------------------------------- content no game writes
// Every byte stays; our section goes after it (or the exact bytes given).
struct Content {
    const char* name;
    std::string before, after;  // after empty: before, a line break, our section
    std::optional<std::string> read;
};
const Content kContents[] = {
    {"NulHidesTheKey", std::string("[Civilization Gold]\r\nSimul\0taneous=0\r\n", 38),
     std::string("[Civilization Gold]\r\nSimul\0taneous=0\r\nSimultaneous=1\r\n", 54), std::nullopt},
    {"NulEndsTheValue", std::string("[Civilization Gold]\r\nSimultaneous=0\0zz\r\n\0\0\0", 43),
     std::string("[Civilization Gold]\r\nSimultaneous=1\r\n\0\0\0", 40), "0"},
    {"HundredMegabyteLine", std::string(50u << 20, 'x') + "=" + std::string(50u << 20, 'y'), "", std::nullopt},
};
void PrintTo(const Content& row, std::ostream* out) { *out << row.name; }
class BadContent : public ::testing::TestWithParam<Content> {};
TEST_P(BadContent, EveryOtherByteStays) {
    const Content& row = GetParam();
    TempDir dir;
    WriteFile(dir / "civ.ini", row.before);
    EXPECT_EQ(ReadProfileValue(dir / "civ.ini", "Civilization Gold", "Simultaneous"), row.read);
    ASSERT_EQ(Write(dir / "civ.ini"), "ok");
    const std::string after = ReadFile(dir / "civ.ini");
    EXPECT_TRUE(after == (row.after.empty() ? row.before + "\r\n[Civilization Gold]\r\nSimultaneous=1\r\n" : row.after))
        << after.size() << " bytes";
}
INSTANTIATE_TEST_SUITE_P(Rows, BadContent, ::testing::ValuesIn(kContents),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- killed, full, raced
// A writer killed at random moments: civ.ini is always the old file or the new one, and
// the next write clears what the killed one left.
TEST(Killed, WriterKilledAtRandomNeverTearsNorLosesTheFile) {
    TempDir dir;
    const fs::path folder = ::access("/dev/shm", W_OK) == 0
                                ? fs::path("/dev/shm") / ("quenbrook-kill-" + std::to_string(::getpid()))
                                : dir.path();
    fs::create_directories(folder);
    const fs::path file = folder / "civ.ini";
    const std::string versions[2] = {GameFile("Simultaneous=0\r\n", 256 << 10), GameFile("Simultaneous=10000\r\n", 256 << 10)};
    WriteFile(file, versions[0]);
    std::mt19937 random(std::random_device{}());
    int interrupted = 0, changed = 0;
    for (int round = 0; round < 200; ++round) {
        const pid_t writer = Start([&]() -> std::string {
            for (unsigned i = 0;; ++i) Write(file, i % 2 ? "0" : "10000");
        });
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
        Stop(writer);
        const std::string now = ReadFile(file);
        ASSERT_TRUE(now == versions[0] || now == versions[1]) << "torn: " << now.size() << " bytes";
        changed += now != versions[round % 2];
        interrupted += !NoTemporaries(folder);
        ASSERT_EQ(Write(file, round % 2 ? "10000" : "0"), "ok");
        ASSERT_TRUE(NoTemporaries(folder));
    }
    fs::remove_all(folder);
    EXPECT_GT(interrupted, 0) << "no kill landed inside a write";
    EXPECT_GT(changed, 0);
}

// A 64 KiB tmpfs filled to a different level on each try: a write succeeds whole or fails
// as "disk full" with the old file.
TEST(NoRoom, FullDiskFailsAndKeepsTheOldFile) {
    TempDir dir;
    fs::create_directories(dir / "small");
    const std::string before = GameFile("", 20000);
    const std::string after = std::string(before).insert(30, "Simultaneous=1\r\n");  // after Sound=1
    const std::string report = InChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", (dir / "small").c_str(), "tmpfs", 0, "size=64k") != 0)
            return "unavailable";
        std::set<std::string> outcomes;
        for (std::size_t filler = 0; filler <= (44u << 10); filler += 4096) {
            fs::remove(dir / "small" / "civ.ini");
            WriteFile(dir / "small" / "filler", std::string(filler, 'f'));
            WriteFile(dir / "small" / "civ.ini", before);
            const std::string result = Write(dir / "small" / "civ.ini");
            const std::string now = ReadFile(dir / "small" / "civ.ini");
            outcomes.insert(result + (now == before ? " old" : now == after ? " new" : " TORN") +
                            (NoTemporaries(dir / "small") ? "" : " LEFTOVERS") + "\n");
        }
        std::string out;
        for (const std::string& outcome : outcomes) out += outcome;
        return out;
    });
    if (report == "unavailable") GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(report, "civ.ini cannot be saved: the disk is full old\nok new\n");
}

// The game saving again and again, as a copy renamed over civ.ini or truncating it in
// place, while we write: after every write the file is one the game wrote or one of
// those with our key set, never a mix; and our writes get through.
class GameSavesToo : public ::testing::TestWithParam<bool> {};
TEST_P(GameSavesToo, NeverAMixNeverAPiece) {
    const bool inPlace = GetParam();
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    const std::string versions[2] = {GameFile("", 96 << 10, 'a'), GameFile("", 160 << 10, 'b')};
    std::set<std::string> allowed(versions, versions + 2);
    for (const std::string& v : versions)
        allowed.insert(ApplyProfileEdit(v, *PlanProfileWrite(v, "Civilization Gold", "Simultaneous", "1")));
    WriteFile(file, versions[0]);
    // Before each save the game looks at what the last finished write, its own or ours,
    // left; what it finds wrong it leaves in "bad".
    const pid_t game = Start([&]() -> std::string {
        for (unsigned i = 0;; ++i) {
            if (const std::string now = ReadFile(file); !allowed.contains(now)) WriteFile(dir / "bad", now);
            const fs::path target = inPlace ? file : dir / "civ.ini.game";
            const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            for (std::size_t at = 0; at < versions[i % 2].size(); at += 4096) {
                (void)!::write(fd, versions[i % 2].data() + at, std::min<std::size_t>(4096, versions[i % 2].size() - at));
                if (inPlace) std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
            ::close(fd);
            if (!inPlace) ::rename(target.c_str(), file.c_str());
            WriteFile(dir / "saves.new", std::to_string(i));
            fs::rename(dir / "saves.new", dir / "saves");
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
        }
    });
    // We write until the game has saved 60 times.
    int ours = 0;
    for (int saves = 0; saves < 60;) {
        ours += Write(file) == "ok";
        if (fs::exists(dir / "saves")) saves = std::stoi(ReadFile(dir / "saves"));
    }
    Stop(game);
    EXPECT_FALSE(fs::exists(dir / "bad")) << ReadFile(dir / "bad").size() << " bytes";
    EXPECT_GT(ours, 50);
    EXPECT_TRUE(allowed.contains(ReadFile(file)) || inPlace);
}
INSTANTIATE_TEST_SUITE_P(Rows, GameSavesToo, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "InPlace" : "Atomically"); });

}  // namespace
}  // namespace quenbrook
