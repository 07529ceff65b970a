// No room for the new copy, whether the disk is full or the file size limit is reached:
// the write fails and says why, and the old civ.ini stays whole with nothing left beside it.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
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

// oldFile as the engine writes Simultaneous=1 into it: after the section's last key.
std::string WithKey(const std::string& oldFile) {
    std::string out = oldFile;
    out.insert(std::string_view("[Civilization Gold]\r\nSound=1\r\n").size(), "Simultaneous=1\r\n");
    return out;
}

// One write attempt in a corner: what came back and what the file is afterwards.
std::string Outcome(const fs::path& file, const std::string& oldFile, const std::string& newFile) {
    const Status status = WriteProfileValue(file, kSection, kKey, "1");
    const std::string after = ReadFile(file);
    std::string out = status.ok() ? "ok" : "fail:" + Reason(status);
    out += after == oldFile ? " old" : after == newFile ? " new" : " TORN";
    if (!Temporaries(file.parent_path()).empty()) out += " LEFTOVERS";
    return out;
}

// A 64 KiB tmpfs in a mount namespace of a child's own, filled to a different level on
// each try: every write either succeeds whole or fails as "disk full" with the old file.
TEST(NoRoom, FullDiskFailsWithItsReasonAndKeepsTheOldFile) {
    TempDir dir;
    const fs::path mountPoint = dir / "small";
    fs::create_directories(mountPoint);
    // The key is missing, so the new file is longer than the old one.
    const std::string oldFile = GameFile("", 20000);
    const std::string newFile = WithKey(oldFile);

    const std::string report = InChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0)
            return std::string("unavailable: unshare: ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
            return std::string("unavailable: mount: ") + std::strerror(errno);
        std::ostringstream out;
        const fs::path file = mountPoint / "civ.ini";
        for (std::size_t filler = 0; filler <= (44u << 10); filler += 4096) {
            fs::remove(mountPoint / "filler");
            fs::remove(file);
            WriteFile(file, oldFile);
            if (ReadFile(file) != oldFile) return "setup: civ.ini did not fit";
            const int fd = ::open((mountPoint / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
            const std::string block(filler, 'f');
            if (fd < 0 || ::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size()))
                return "setup: filler did not fit";
            ::close(fd);
            out << Outcome(file, oldFile, newFile) << "\n";
        }
        return out.str();
    });
    if (report.starts_with("unavailable")) GTEST_SKIP() << report << " (the size limit test covers this)";
    ASSERT_FALSE(report.starts_with("setup") || report.starts_with("child died")) << report;

    std::istringstream lines(report);
    int fits = 0, full = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == "ok new") {
            ++fits;
        } else {
            EXPECT_EQ(line, "fail:civ.ini cannot be saved: the disk is full old");
            ++full;
        }
    }
    // Both sides of the edge were reached, or the sweep proved nothing.
    EXPECT_GT(fits, 0) << report;
    EXPECT_GT(full, 0) << report;
}

// RLIMIT_FSIZE at and around the sizes that matter: the write succeeds exactly when the
// new file fits under the limit, and otherwise fails as "too large" with the old file whole.
TEST(NoRoom, FileSizeLimitFailsWithItsReasonAndKeepsTheOldFile) {
    TempDir dir;
    const fs::path file = dir / "civ.ini";
    const std::string oldFile = GameFile("", 20000);
    const std::string newFile = WithKey(oldFile);
    const rlim_t oldSize = oldFile.size(), newSize = newFile.size();

    for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, rlim_t{4096}, oldSize - 1, oldSize,
                               newSize - 1, newSize, newSize + 1, rlim_t{1} << 20}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        WriteFile(file, oldFile);
        const std::string outcome = InChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit r{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &r) != 0) return std::string("setrlimit failed");
            return Outcome(file, oldFile, newFile);
        });
        if (limit >= newSize)
            EXPECT_EQ(outcome, "ok new");
        else
            EXPECT_EQ(outcome, "fail:civ.ini cannot be saved: the file is too large old");
    }
}

}  // namespace
}  // namespace quenbrook::faults
