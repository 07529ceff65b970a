// The game rewriting civ.ini while we read and write it. Whatever the order, the file is
// always one the game wrote or one of those with our key set: never a mix, never a piece.
#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <new>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "fault_support.h"
#include "platform/linux/profile_engine.h"
#include "platform/linux/profile_file.h"
#include "support/temp_dir.h"

namespace quenbrook::faults {
namespace {

namespace fs = std::filesystem;
using quenbrook::testing::ReadFile;
using quenbrook::testing::TempDir;
using quenbrook::testing::WriteFile;
using Clock = std::chrono::steady_clock;

enum class GameWrites { Atomically, InPlace };

// Shared between the stand-in game (a child process) and us.
struct Shared {
    pthread_mutex_t writing;  // held by the game while its in-place rewrite is under way
    std::atomic<bool> stop{false};
    std::atomic<unsigned> gameWrites{0};
};

// Robust, so that a game killed halfway through a rewrite does not leave it held forever.
void Lock(pthread_mutex_t& mutex) {
    if (pthread_mutex_lock(&mutex) == EOWNERDEAD) pthread_mutex_consistent(&mutex);
}

// The game saves its settings again and again, alternating two versions that both lack
// our key (the game drops it). In place means as the game does it: truncate, then write
// the lines; atomically means a copy renamed over the file.
[[noreturn]] void RunGame(Shared& shared, const fs::path& file, GameWrites how,
                          const std::string (&versions)[2]) {
    // A game that outlived a crashed test would rewrite the file forever.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::mt19937 random(static_cast<unsigned>(::getpid()));
    // Saves come close together, but with quiet moments between some of them, as a game
    // that saves now and then; a writer may wait for such a moment.
    std::uniform_int_distribution<int> pauseMicros(0, 40000);
    for (unsigned i = 0; !shared.stop; ++i) {
        const std::string& text = versions[i % 2];
        if (how == GameWrites::InPlace) {
            Lock(shared.writing);
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            // Many small writes with short waits, as a line-by-line save makes, so the file
            // spends a good while torn.
            for (std::size_t at = 0; fd >= 0 && at < text.size(); at += 4096) {
                (void)!::write(fd, text.data() + at, std::min<std::size_t>(4096, text.size() - at));
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
            ::close(fd);
            pthread_mutex_unlock(&shared.writing);
        } else {
            const fs::path copy = file.parent_path() / "civ.ini.game";
            const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            (void)!::write(fd, text.data(), text.size());
            ::close(fd);
            ::rename(copy.c_str(), file.c_str());
        }
        shared.gameWrites.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(pauseMicros(random)));
    }
    ::_exit(0);
}

std::string WithOurKey(const std::string& text) {
    const auto edit = PlanProfileWrite(text, kSection, kKey, "1");
    return edit ? ApplyProfileEdit(text, *edit) : text;
}

struct Tally {
    unsigned ourWrites = 0, failedWrites = 0, ourReads = 0, tornReads = 0, checks = 0, badChecks = 0;
    std::string bad;  // the first file that was neither the game's nor ours
    double slowestWriteSeconds = 0;
};

Tally Race(GameWrites how) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    const std::string versions[2] = {GameFile("", 96 << 10, 'a'), GameFile("", 160 << 10, 'b')};
    const std::set<std::string> allowed = {versions[0], versions[1], WithOurKey(versions[0]),
                                           WithOurKey(versions[1])};
    WriteFile(file, versions[0]);

    void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return Tally{.bad = "mmap failed"};
    auto* shared = new (memory) Shared;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&shared->writing, &attr);

    const pid_t game = ::fork();
    if (game == 0) RunGame(*shared, file, how, versions);

    Tally tally;
    std::atomic<bool> done{false};
    // Our reads, as the window and --status make them.
    std::thread reader([&] {
        while (!done) {
            const std::optional<std::string> text = ReadProfileFile(file);
            const std::optional<std::string> value = ReadProfileValue(file, kSection, kKey);
            ++tally.ourReads;
            if (!text || !allowed.contains(*text)) ++tally.tornReads;
            if (value && *value != "1") ++tally.tornReads;
        }
    });
    // A witness that reads only while the game is not halfway through a rewrite: what it
    // sees is whatever the last finished write, the game's or ours, left.
    std::thread witness([&] {
        while (!done) {
            Lock(shared->writing);
            const std::string now = ReadFile(file);
            pthread_mutex_unlock(&shared->writing);
            ++tally.checks;
            if (!allowed.contains(now)) {
                ++tally.badChecks;
                if (tally.bad.empty()) tally.bad = now;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < end) {
        const auto start = Clock::now();
        const Status status = WriteProfileValue(file, kSection, kKey, "1");
        tally.slowestWriteSeconds = std::max(
            tally.slowestWriteSeconds, std::chrono::duration<double>(Clock::now() - start).count());
        ++tally.ourWrites;
        tally.failedWrites += !status.ok();
    }
    done = true;
    reader.join();
    witness.join();
    shared->stop = true;
    ::waitpid(game, nullptr, 0);
    if (shared->gameWrites < 50) tally.bad = "the game wrote too seldom to race";
    if (!Temporaries(dir.path()).empty()) tally.bad = "temporary files left";
    pthread_mutex_destroy(&shared->writing);
    ::munmap(memory, sizeof(Shared));
    return tally;
}

void Report(const Tally& t) {
    ::testing::Test::RecordProperty("our_writes", static_cast<int>(t.ourWrites));
    ::testing::Test::RecordProperty("failed_writes", static_cast<int>(t.failedWrites));
    ::testing::Test::RecordProperty("our_reads", static_cast<int>(t.ourReads));
    ::testing::Test::RecordProperty("torn_reads", static_cast<int>(t.tornReads));
    ::testing::Test::RecordProperty("checks", static_cast<int>(t.checks));
    ::testing::Test::RecordProperty("bad_checks", static_cast<int>(t.badChecks));
}

TEST(GameWritesToo, AtomicRewritesNeverMeetATornFile) {
    const Tally t = Race(GameWrites::Atomically);
    Report(t);
    EXPECT_TRUE(t.bad.empty()) << "civ.ini was neither the game's nor ours in " << t.badChecks
                               << " of " << t.checks << " looks; the first: " << t.bad.size()
                               << " bytes: " << t.bad.substr(0, 80);
    EXPECT_EQ(t.tornReads, 0u) << "of " << t.ourReads << " reads";
    // A write may give up on a file that keeps changing (it says so), but most get through.
    EXPECT_GT(t.ourWrites - t.failedWrites, 50u);
    EXPECT_GT(t.checks, 50u);
    // A hang detector, not a speed target: one write never waits on the game.
    EXPECT_LT(t.slowestWriteSeconds, 2.0);
}

// The game truncates and rewrites the same file, with no lock we could take. Our reads may
// meet its half-written file (that is the game's doing); our writes must still never turn
// such a piece into the file the game finds next.
TEST(GameWritesToo, InPlaceRewritesAreNeverTurnedIntoAPiece) {
    const Tally t = Race(GameWrites::InPlace);
    Report(t);
    EXPECT_TRUE(t.bad.empty()) << "civ.ini was neither the game's nor ours in " << t.badChecks
                               << " of " << t.checks << " looks; the first: " << t.bad.size()
                               << " bytes: " << t.bad.substr(0, 80);
    EXPECT_GT(t.ourWrites - t.failedWrites, 50u);
    EXPECT_GT(t.checks, 50u);
    EXPECT_LT(t.slowestWriteSeconds, 2.0);
}

}  // namespace
}  // namespace quenbrook::faults
