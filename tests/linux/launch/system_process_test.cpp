// The Linux host's attributes and started programs, against a scratch Wine prefix and a
// fake (scripts/fake_program.sh) as wine, xdg-open or a game, which records how it was
// started; and command lines read as Windows reads them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/launch/process.h"
#include "platform/program_line.h"
#include "support/cases.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {
namespace fs = std::filesystem;
using quenbrook::testing::ReadFile;
using quenbrook::testing::WriteFile;

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

// A scratch prefix with a game in it, the fake as wine, xdg-open and a game on PATH, and
// the window's thread as a queue of posted callbacks.
class Host : public ::testing::TestWithParam<testing::Case> {
protected:
    void SetUp() override {
        for (const char* name : {"WINE", "WINEPREFIX", "QUENBROOK_FAKE_EXIT", "QUENBROOK_FAKE_HOLD"}) unsetenv(name);
        setenv("PATH", (root_ + "/bin:/usr/bin:/bin").c_str(), 1);
        for (const char* file : {"prefix/drive_c/windows/civ.ini", "notes.txt", "elsewhere/real civ.ini",
                                 "w64/lib/wine/wine64", "w6432/lib/wine/wine64", "w6432/lib/wine/wine"})
            WriteFile(root_ + "/" + file, "[Civ2]\r\n");
        // A 64-bit x86 Windows program's headers: MZ, PE at 64, machine 0x8664, GUI subsystem.
        std::string program = "MZ" + std::string(58, '\0') + std::string("\x40\0\0\0PE\0\0\x64\x86", 10) + std::string(96, '\0');
        program[64 + 24 + 68] = 2;
        for (const char* file : {"prefix/drive_c/Program Files/Civ2/civ2.exe", "games/civ2.EXE"}) WriteFile(root_ + "/" + file, program);
        fs::create_symlink(root_ + "/elsewhere/real civ.ini", root_ + "/prefix/drive_c/windows/link.ini");
        // And a 32-bit one, machine 0x14c.
        WriteFile(root_ + "/games/civ32.exe", program.replace(68, 2, "\x4c\x01"));
        const std::string fake = ReadFile(QUENBROOK_TEST_DATA "/../linux/launch/fake_program.sh");
        for (const std::string program : {"bin/wine", "bin/xdg-open", "bin/fakegame", "own wine/mywine", kOdd,
                                          "w64/bin/wine", "w6432/bin/wine", "broken"}) {
            WriteFile(root_ + "/" + program, program == "broken" ? "#!/nowhere/interpreter\n" : fake);
            fs::permissions(root_ + "/" + program, fs::perms(0755));
        }
        Next();
    }
    void Next() { setenv("QUENBROOK_FAKE_RECORD", (record_ = root_ + "/record" + std::to_string(++starts_)).c_str(), 1); }
    // "{T}" is the scratch folder, "{CWD}" ours.
    std::string Expand(std::string text) const {
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"{T}", root_}, {"{CWD}", fs::current_path().string()}})
            for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
        return text;
    }
    // How the fake was started: program|folder|WINEPREFIX|arguments..., or "" if it never ran.
    std::string Recorded() {
        if (!WaitFor([&] { return fs::exists(record_); })) return "";
        const std::string text = ReadFile(record_);
        return text.substr(0, text.size() - 1);
    }
    void Post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    std::size_t Posted() {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }
    // The window's thread: runs the oldest posted callback, once there is one.
    bool RunPosted() {
        if (!WaitFor([&] { return Posted() > 0; })) return false;
        std::unique_lock lock(mutex_);
        auto task = std::move(tasks_.front());
        tasks_.erase(tasks_.begin());
        lock.unlock();
        task();
        return true;
    }

    static constexpr const char* kOdd = "odd 'dir' ; $(touch made1)/run me; `touch made2` &.sh";
    quenbrook::testing::TempDir temp_;
    std::string root_ = fs::canonical(temp_.path()).string(), record_;
    int starts_ = 0;
    std::mutex mutex_;
    std::vector<std::function<void()>> tasks_;
    LinuxSystem system_{root_ + "/prefix", [this](std::function<void()> t) { Post(std::move(t)); }};
};

// The mode becomes what Wine reads as the attribute, through links; Wine's own flags go
// either way; a refusal says which file and why, and leaves the mode.
class SetAttributes : public Host {};
TEST_P(SetAttributes, ModeAsWineReadsItOrSaysWhy) {
    const auto& row = GetParam();
    LinuxSystem system(root_ + "/" + row[8], nullptr);
    const std::string file = ToNarrow(system.HostPath(row.wide(0))).value_or("");
    if (row.at(2)) chmod(file.c_str(), static_cast<mode_t>(std::stoi(row[2], nullptr, 8)));
    if (row[5] == "yes" && setxattr(file.c_str(), "user.DOSATTRIB", "0x6", 3, 0) != 0)
        GTEST_SKIP() << "no user xattrs here";
    const mode_t old = umask(static_cast<mode_t>(std::stoi(row[3], nullptr, 8)));
    const Status status = system.SetFileAttributes(row.wide(0), static_cast<unsigned>(std::stoul(row[1])));
    umask(old);
    EXPECT_EQ(status.reason(), row.at(6) ? FromNarrow(Expand(row[6])) : L"");
    struct stat st {};
    EXPECT_EQ(stat(file.c_str(), &st) == 0 ? std::optional(st.st_mode & 07777) : std::nullopt,
              row.at(4) ? std::optional(std::stoul(row[4], nullptr, 8)) : std::nullopt);
    EXPECT_LT(getxattr(file.c_str(), "user.DOSATTRIB", nullptr, 0), 0);
    EXPECT_EQ(system.IsReadOnly(row.wide(0)) ? "yes" : "no", row[7]);
    EXPECT_TRUE(fs::is_symlink(root_ + "/prefix/drive_c/windows/link.ini"));
}
INSTANTIATE_CASES(SetAttributes, "set_attributes");

// A program line's words, as the game under Wine gets them.
class CommandLineWords : public ::testing::TestWithParam<testing::Case> {};
TEST_P(CommandLineWords, AsCommandLineToArgvW) {
    std::vector<std::string> words;
    for (std::size_t i = 1; i < GetParam().fields.size(); ++i) words.push_back(GetParam()[i]);
    EXPECT_EQ(SplitWindowsCommandLine(GetParam()[0]), words);
}
INSTANTIATE_CASES(CommandLineWords, "command_line_words");

class StartProgram : public Host {};
TEST_P(StartProgram, RunsAsRecordedOrSaysWhy) {
    const auto& row = GetParam();
    if (row.at(0)) setenv(row[0].c_str(), Expand(row[1]).c_str(), 1);
    const Status status = system_.StartProgram(FromNarrow(Expand(row[2])), kShowMaximized, row[3] == "yes");
    if (row[4].starts_with("fails:")) {
        EXPECT_EQ(status.reason(), FromNarrow(Expand(row[4].substr(6))));
        EXPECT_FALSE(fs::exists(record_)) << "something ran after all";
    } else {
        ASSERT_TRUE(status.ok()) << status.reason();
        EXPECT_EQ(Recorded(), Expand(row[4]));
    }
}
INSTANTIATE_CASES(StartProgram, "start_program");

// Detached in a session of its own, with no descriptor of ours, and reaped when it ends.
TEST_F(Host, StartedProgramIsDetachedAndReaped) {
    const int careless = open("/dev/null", O_RDONLY);  // as a library might, no CLOEXEC
    setenv("QUENBROOK_FAKE_HOLD", (root_ + "/release").c_str(), 1);
    ASSERT_TRUE(system_.StartProgram(L"fakegame", kShowMaximized, false).ok());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(record_ + ".pid"); }));
    const std::string held = ReadFile(record_ + ".pid"), pid = held.substr(0, held.find('\n'));
    EXPECT_EQ(held, pid + "\n" + pid + "\n" + pid + "\n") << "pid, process group and session";
    EXPECT_FALSE(fs::exists("/proc/" + pid + "/fd/" + std::to_string(careless))) << "our descriptor leaked";
    close(careless);
    WriteFile(root_ + "/release", "");
    EXPECT_TRUE(WaitFor([&] { return !fs::exists("/proc/" + pid); })) << "zombie " << pid;
}

// The editor and links go through xdg-open as one word, off the caller's thread; the
// answer comes back on the window's thread, failures as Windows would tell them.
class ShellOpen : public Host {};
TEST_P(ShellOpen, EditorAndLinksAnswerOnTheWindowThread) {
    const auto& row = GetParam();
    row.at(0) ? setenv("QUENBROOK_FAKE_EXIT", row[0].c_str(), 1) : setenv("PATH", "/nowhere", 1);
    std::optional<Status> edited;
    system_.OpenInEditor(L"C:\\Windows\\Civ.ini", [&](Status s) { edited = s; });
    ASSERT_TRUE(RunPosted() && edited);
    EXPECT_EQ(edited->reason(), row.at(1) ? FromNarrow(Expand(*row.at(1))) : L"");
    EXPECT_EQ(row.at(4) ? Recorded() : "", Expand(row.at(4).value_or("")));
    Next();
    // xdg-open waits for a release: ShellOpen is back, and nothing posted, meanwhile.
    std::optional<ShellResult> opened;
    setenv("QUENBROOK_FAKE_HOLD", (root_ + "/release").c_str(), 1);
    system_.ShellOpen(L"https://example.org/a b?x=1&y='2';$(touch made)", [&](ShellResult r) { opened = r; });
    EXPECT_TRUE(Posted() == 0 || !row.at(0));
    WriteFile(root_ + "/release", "");
    ASSERT_TRUE(RunPosted() && opened);
    EXPECT_EQ(std::to_string(opened->result) + " " + std::to_string(opened->lastError), row[2] + " " + row[3]);
    EXPECT_EQ(row.at(5) ? Recorded() : "", Expand(row.at(5).value_or("")));
}
INSTANTIATE_CASES(ShellOpen, "shell_open");

// Outside a known desktop xdg-open runs the browser in the foreground: once the watch is
// past, the link counts as handed over (the busy pointer ends) while xdg-open runs on.
TEST_F(Host, OpenerStillRunningAfterTheWatchHasHandedOver) {
    setenv("QUENBROOK_FAKE_HOLD", (root_ + "/release").c_str(), 1);  // the fake then runs 5 s
    std::optional<ShellResult> opened;
    system_.ShellOpen(L"https://example.org/", [&](ShellResult r) { opened = r; });
    ASSERT_TRUE(RunPosted() && opened);
    EXPECT_EQ(std::to_string(opened->result) + " " + std::to_string(opened->lastError), "33 0");
    EXPECT_FALSE(fs::exists(record_)) << "answered only once xdg-open had ended";
    WriteFile(root_ + "/release", "");
    EXPECT_NE(Recorded(), "");
}

// A command line as CreateProcess reads it: program, arguments, folder, the line given on.
class ProgramLineRead : public ::testing::TestWithParam<testing::Case> {};
TEST_P(ProgramLineRead, AsCreateProcessReadsIt) {
    const auto& row = GetParam();
    const ProgramLine line =
        SplitProgramLine(row[0], [&](const std::string& file) { return row[1].find("|" + file + "|") != std::string::npos; });
    EXPECT_EQ((std::vector<std::string>{line.program, line.arguments, line.folder, line.commandLine, line.found ? "yes" : "no"}),
              (std::vector<std::string>{row[2], row[3], row[4], row[5], row[6]}));
}
INSTANTIATE_CASES(ProgramLineRead, "program_line");

}  // namespace
}  // namespace quenbrook
