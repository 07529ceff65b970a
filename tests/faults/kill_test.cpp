// A writer killed at any moment of a write: civ.ini is always the old file or the new one,
// never torn and never missing, and the next write clears what the killed one left.
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <random>
#include <string>
#include <thread>

#include "fault_support.h"
#include "platform/linux/profile_file.h"
#include "support/temp_dir.h"

namespace quenbrook::faults {
namespace {

namespace fs = std::filesystem;
using quenbrook::testing::ReadFile;
using quenbrook::testing::WriteFile;

// Counted in memory the child shares with us, so the count survives its SIGKILL.
struct Counters {
    std::atomic<unsigned> begun{0};
    std::atomic<unsigned> finished{0};
};

// A folder in memory when there is one: a kill, unlike a power cut, does not care whether
// the data reached the disk, and without waits for the disk a thousand writes take seconds
// even on a busy machine.
class MemoryDir {
public:
    MemoryDir() {
        std::string pattern =
            ((::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path()) /
             "quenbrook-kill-XXXXXX")
                .string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~MemoryDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(std::string_view name) const { return path_ / name; }

private:
    fs::path path_;
};

TEST(KilledWriter, AThousandWritesKilledAtRandomNeverTearNorLoseTheFile) {
    MemoryDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path file = dir / "civ.ini";
    // Large enough that a write spends real time in each step (copy, fsync, rename), and
    // the two values differ in length so a torn file cannot pass for either.
    const std::string oldFile = GameFile("Simultaneous=0", 256 << 10);
    const std::string newFile = GameFile("Simultaneous=10000", 256 << 10);
    WriteFile(file, oldFile);

    void* shared = ::mmap(nullptr, sizeof(Counters), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* counters = new (shared) Counters;

    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMicros(0, 5000);
    std::bernoulli_distribution coin;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    int rounds = 0, interrupted = 0, changedByChild = 0;
    std::string before = oldFile;
    while ((counters->begun < 1000 || rounds < 200) && std::chrono::steady_clock::now() < deadline) {
        ++rounds;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (unsigned i = 0;; ++i) {
                counters->begun.fetch_add(1);
                (void)WriteProfileValue(file, kSection, kKey, i % 2 ? "0" : "10000");
                counters->finished.fetch_add(1);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        struct stat st {};
        ASSERT_EQ(::lstat(file.c_str(), &st), 0) << "civ.ini missing after round " << rounds;
        ASSERT_TRUE(S_ISREG(st.st_mode));
        const std::string now = ReadFile(file);
        ASSERT_TRUE(now == oldFile || now == newFile)
            << "torn civ.ini after round " << rounds << ": " << now.size() << " bytes";
        changedByChild += now != before;
        interrupted += !Temporaries(dir.path()).empty();

        // The next write, whether it changes the value or finds it already there, takes
        // away what the killed writer left.
        const bool toNew = coin(random);
        const Status next = WriteProfileValue(file, kSection, kKey, toNew ? "10000" : "0");
        ASSERT_TRUE(next.ok()) << Reason(next);
        before = toNew ? newFile : oldFile;
        ASSERT_EQ(ReadFile(file), before);
        ASSERT_TRUE(Temporaries(dir.path()).empty()) << "left after round " << rounds;
    }
    const unsigned begun = counters->begun;
    ::munmap(shared, sizeof(Counters));
    RecordProperty("writes_attempted", static_cast<int>(begun));
    RecordProperty("kills", rounds);
    RecordProperty("kills_mid_write", interrupted);
    EXPECT_GE(begun, 1000u) << "too few writes before the deadline";
    // Kills must have landed inside writes, and the child's writes must have got through
    // too, or this proved nothing.
    EXPECT_GT(interrupted, 0);
    EXPECT_GT(changedByChild, 0);
}

}  // namespace
}  // namespace quenbrook::faults
