// The Linux host's attributes and started programs, against real files in a scratch
// Wine prefix and a fake program (scripts/fake_program.sh) put in place of wine,
// xdg-open or a game, which records how it was started.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/process.h"
#include "support/temp_dir.h"

namespace quenbrook {
namespace {
namespace fs = std::filesystem;
using quenbrook::testing::ReadFile;
using quenbrook::testing::WriteFile;
using Words = std::vector<std::string>;

constexpr auto kPatience = std::chrono::seconds(5);

mode_t ModeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

void MakeFile(const fs::path& file, mode_t mode) {
    fs::create_directories(file.parent_path());
    WriteFile(file, "[Civ2]\r\n");
    chmod(file.c_str(), mode);
}

void InstallFake(const fs::path& as) {
    fs::create_directories(as.parent_path());
    fs::copy_file(QUENBROOK_TEST_DATA "/../linux/scripts/fake_program.sh", as,
                  fs::copy_options::overwrite_existing);
    fs::permissions(as, fs::perms(0755));
}

bool WaitFor(const std::function<bool()>& done) {
    for (const auto until = std::chrono::steady_clock::now() + kPatience;
         std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (done()) return true;
    return done();
}

bool Has(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

std::string Canonical(const fs::path& folder) { return fs::canonical(folder).string(); }

// How the fake was started, as it wrote it.
struct Record {
    std::string program, folder, prefix, group, session;
    Words args;
};

// The window's thread as the tests see it: posted callbacks wait here until run.
class PostQueue {
public:
    LinuxSystem::Post post() {
        return [this](std::function<void()> task) {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
            ready_.notify_all();
        };
    }
    // Runs the next posted callback here; false when none came in time.
    bool RunNext() {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_for(lock, kPatience, [&] { return !tasks_.empty(); })) return false;
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        return true;
    }
    bool empty() {
        std::lock_guard lock(mutex_);
        return tasks_.empty();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
};

class LinuxProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables)
            if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
        for (const char* name : kVariables) unsetenv(name);
        setenv("PATH", (bin_.string() + ":/usr/bin:/bin").c_str(), 1);
        fs::create_directories(prefix_ / "drive_c" / "windows");
        InstallFake(bin_ / "wine");
        InstallFake(bin_ / "xdg-open");
        NextRecord();
    }
    void TearDown() override {
        for (const char* name : kVariables) unsetenv(name);
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
    }

    // The next start records into a fresh file, so one test can start several.
    void NextRecord() {
        record_ = temp_ / ("record" + std::to_string(++starts_));
        setenv("QUENBROOK_FAKE_RECORD", record_.c_str(), 1);
    }

    Record AwaitRecord() {
        if (!WaitFor([&] { return fs::exists(record_); })) {
            ADD_FAILURE() << "the fake never ran: " << record_;
            return {};
        }
        Words lines;
        const std::string text = ReadFile(record_);
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
             at = end + 1)
            lines.push_back(text.substr(at, end - at));
        lines.resize(std::max<std::size_t>(lines.size(), 5));
        return {lines[0], lines[1], lines[2],
                lines[3], lines[4], Words(lines.begin() + 5, lines.end())};
    }

    // Starts commandLine, which must succeed, and tells how the fake was started.
    Record Start(const std::wstring& commandLine, bool inProgramFolder) {
        NextRecord();
        const Status status = system_.StartProgram(commandLine, kShowMaximized, inProgramFolder);
        EXPECT_TRUE(status.ok()) << status.reason();
        return status.ok() ? AwaitRecord() : Record{};
    }

    static constexpr const char* kVariables[] = {"PATH",
                                                 "WINE",
                                                 "WINEPREFIX",
                                                 "QUENBROOK_FAKE_RECORD",
                                                 "QUENBROOK_FAKE_EXIT",
                                                 "QUENBROOK_FAKE_HOLD"};
    std::vector<std::pair<std::string, std::string>> saved_;
    quenbrook::testing::TempDir temp_;
    fs::path prefix_ = temp_ / "prefix";
    fs::path civIni_ = prefix_ / "drive_c" / "windows" / "civ.ini";
    fs::path bin_ = temp_ / "bin";
    fs::path record_;
    int starts_ = 0;
    PostQueue queue_;
    LinuxSystem system_{prefix_, queue_.post()};
};

// --- File attributes ------------------------------------------------------------------

TEST_F(LinuxProcessTest, ModesBecomeWhatWineReadsAsTheAttributes) {
    struct Case {
        unsigned attributes;
        mode_t before, mask, after;
    };
    for (const Case& c : std::vector<Case>{
             // Read-only: every write bit goes, nothing else changes.
             {kAttributeReadOnly, 0666, 022, 0444},
             {kAttributeReadOnly, 0754, 022, 0554},
             {kAttributeReadOnly, 0620, 022, 0400},
             // Normal: owner read and write, write where there is read, within the umask.
             {kAttributeNormal, 0444, 022, 0644},
             {kAttributeNormal, 0444, 000, 0666},
             {kAttributeNormal, 0440, 027, 0640},
             {kAttributeNormal, 0004, 000, 0606},
             {kAttributeNormal, 0000, 022, 0600},
             {kAttributeNormal, 0444, 0222, 0444},
             {kAttributeNormal, 0555, 022, 0755}}) {
        MakeFile(civIni_, c.before);
        const mode_t old = umask(c.mask);
        // Letter case differs from the files on disk, as Windows paths may.
        const Status status = system_.SetFileAttributes(L"C:\\WINDOWS\\Civ.INI", c.attributes);
        umask(old);
        EXPECT_TRUE(status.ok()) << status.reason();
        EXPECT_EQ(ModeOf(civIni_), c.after)
            << std::oct << c.attributes << " from " << c.before << " with umask " << c.mask;
    }
}

TEST_F(LinuxProcessTest, AttributesGoToASymlinksTarget) {
    const fs::path target = temp_ / "elsewhere" / "real civ.ini";
    MakeFile(target, 0666);
    fs::create_symlink(target, civIni_);
    ASSERT_TRUE(system_.SetFileAttributes(L"c:\\windows\\civ.ini", kAttributeReadOnly).ok());
    EXPECT_EQ(ModeOf(target), 0444u);
    EXPECT_TRUE(fs::is_symlink(civIni_));
}

TEST_F(LinuxProcessTest, EitherStateDropsWinesHiddenAndSystemFlags) {
    const mode_t old = umask(022);
    struct Case {
        unsigned attributes;
        mode_t before, after;
    };
    // Also from read-only, where only a writer may drop them.
    for (const Case& c : std::vector<Case>{{kAttributeNormal, 0444, 0644},
                                           {kAttributeReadOnly, 0644, 0444},
                                           {kAttributeReadOnly, 0444, 0444}}) {
        MakeFile(civIni_, 0644);
        if (setxattr(civIni_.c_str(), "user.DOSATTRIB", "0x6", 3, 0) != 0) {
            umask(old);
            GTEST_SKIP() << "this filesystem keeps no user xattrs";
        }
        chmod(civIni_.c_str(), c.before);
        const Status status = system_.SetFileAttributes(L"c:\\windows\\civ.ini", c.attributes);
        EXPECT_TRUE(status.ok()) << status.reason();
        EXPECT_LT(getxattr(civIni_.c_str(), "user.DOSATTRIB", nullptr, 0), 0) << c.attributes;
        EXPECT_EQ(errno, ENODATA);
        EXPECT_EQ(ModeOf(civIni_), c.after) << std::oct << c.before << " to " << c.attributes;
    }
    umask(old);
}

TEST_F(LinuxProcessTest, AttributeFailuresSayWhichFileAndWhy) {
    MakeFile(civIni_, 0644);
    const Status missing = system_.SetFileAttributes(L"c:\\windows\\gone.ini", kAttributeReadOnly);
    EXPECT_TRUE(Has(missing.reason(), L"c:\\windows\\gone.ini") &&
                Has(missing.reason(), L"no such file"))
        << missing.reason();
    const Status folder = system_.SetFileAttributes(L"c:\\windows", kAttributeReadOnly);
    EXPECT_TRUE(Has(folder.reason(), L"not a file")) << folder.reason();
    const Status unprefixed = LinuxSystem(temp_ / "none", nullptr)
                                  .SetFileAttributes(L"c:\\windows\\civ.ini", kAttributeReadOnly);
    EXPECT_TRUE(Has(unprefixed.reason(), L"no Wine prefix") &&
                Has(unprefixed.reason(), L"c:\\windows\\civ.ini"))
        << unprefixed.reason();
    for (const unsigned other : {0u, 2u, 129u}) {
        const Status refused = system_.SetFileAttributes(L"c:\\windows\\civ.ini", other);
        EXPECT_TRUE(!refused.ok() && Has(refused.reason(), std::to_wstring(other))) << other;
    }
    EXPECT_FALSE(system_.SetFileAttributes(std::wstring(L"c:\\x\0y", 6), kAttributeNormal).ok());
    EXPECT_EQ(ModeOf(civIni_), 0644u);  // nothing refused touched it

    // Root may change any mode: permission is denied to nobody on a file root owns.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    for (fs::path p = civIni_.parent_path(); p != temp_.path().parent_path(); p = p.parent_path())
        chmod(p.c_str(), 0755);
    ASSERT_EQ(seteuid(65534), 0);
    const Status denied = system_.SetFileAttributes(L"c:\\windows\\civ.ini", kAttributeReadOnly);
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_TRUE(Has(denied.reason(), L"c:\\windows\\civ.ini") &&
                Has(denied.reason(), L"not permitted"))
        << denied.reason();
    EXPECT_EQ(ModeOf(civIni_), 0644u);
}

// --- Windows command lines ------------------------------------------------------------

TEST(SplitWindowsCommandLine, ReadsWordsAsCommandLineToArgvW) {
    const std::vector<std::pair<std::string, Words>> cases = {
        {"civ2.exe  -a\t-b  ", {"civ2.exe", "-a", "-b"}},
        // The program keeps its backslashes and ends at its closing quote.
        {R"("C:\Program Files\Civ2\civ2.exe" x)", {R"(C:\Program Files\Civ2\civ2.exe)", "x"}},
        {R"(C:\a\"b" c)", {R"(C:\a\"b")", "c"}},
        {R"("a b"c d)", {"a b", "c", "d"}},
        {" x", {"", "x"}},
        // Arguments: quotes group, backslashes count only before a quote.
        {R"(p "two words" three)", {"p", "two words", "three"}},
        {R"(p a\\b c\d)", {"p", R"(a\\b)", R"(c\d)"}},
        {R"(p a\"b a\\"b c" a\\\"b)", {"p", R"(a"b)", R"(a\b c)", R"(a\"b)"}},
        {R"(p "C:\dir\\" next)", {"p", R"(C:\dir\)", "next"}},
        {R"(p "" x "open)", {"p", "", "x", "open"}},
        // A doubled quote inside quotes is literal and ends the quoting, so the next
        // quote opens it again: the old rules CommandLineToArgvW keeps.
        {R"(p "a""b")", {"p", R"(a"b)"}},
        {R"(p "a""b" c)", {"p", R"(a"b c)"}},
        {R"(p """)", {"p", R"(")"}},
    };
    for (const auto& [line, words] : cases) EXPECT_EQ(SplitWindowsCommandLine(line), words) << line;
}

// --- Starting programs ----------------------------------------------------------------

TEST_F(LinuxProcessTest, WindowsProgramsStartThroughWineInThePrefix) {
    const fs::path exe = prefix_ / "drive_c" / "Program Files" / "Civ2" / "civ2.exe";
    MakeFile(exe, 0644);  // Wine needs no execute bit
    Record r = Start(LR"("C:\program files\civ2\CIV2.EXE" -multi "two words")", true);
    EXPECT_EQ(r.program, (bin_ / "wine").string());
    EXPECT_EQ(r.args, (Words{exe.string(), "-multi", "two words"}));
    EXPECT_EQ(r.prefix, prefix_.string());
    EXPECT_EQ(r.folder, Canonical(exe.parent_path()));

    // The whole text naming a file needs no quotes; not in its folder, in ours.
    r = Start(LR"(C:\Program Files\Civ2\civ2.exe)", false);
    EXPECT_EQ(r.args, Words{exe.string()});
    EXPECT_EQ(r.folder, Canonical(fs::current_path()));

    // A name Wine finds itself goes as written; the extension in any case.
    EXPECT_EQ(Start(L"notepad.exe C:\\windows\\civ.ini", true).args,
              (Words{"notepad.exe", "C:\\windows\\civ.ini"}));
    EXPECT_EQ(Start(L"setup.Bat /quiet", false).args, (Words{"setup.Bat", "/quiet"}));

    // $WINE names the loader, an empty one does not count; a Unix path goes as itself.
    const fs::path game = temp_ / "games" / "civ2.EXE";
    MakeFile(game, 0644);
    InstallFake(temp_ / "own wine" / "mywine");
    setenv("WINE", (temp_ / "own wine" / "mywine").c_str(), 1);
    r = Start(FromNarrow(game.string()), false);
    EXPECT_EQ(r.program, (temp_ / "own wine" / "mywine").string());
    EXPECT_EQ(r.args, Words{game.string()});
    setenv("WINE", "", 1);
    EXPECT_EQ(Start(FromNarrow(game.string()), false).program, (bin_ / "wine").string());
}

TEST_F(LinuxProcessTest, NativeProgramsStartDirectlyAndLiterally) {
    const fs::path folder = temp_ / "odd 'dir' ; $(touch made1) `touch made2`";
    const fs::path script = folder / "run me; $(touch made3) & `touch made4`.sh";
    InstallFake(script);
    Record r = Start(FromNarrow(script.string()), true);
    EXPECT_EQ(r.program, script.string());
    EXPECT_EQ(r.args, Words{});
    EXPECT_EQ(r.folder, Canonical(folder));
    EXPECT_EQ(r.prefix, "(unset)");

    r = Start(L"\"" + FromNarrow(script.string()) + L"\" 'a' \"b c\" $(touch made5) ;x", false);
    EXPECT_EQ(r.args, (Words{"'a'", "b c", "$(touch", "made5)", ";x"}));
    for (const fs::path& where : {folder, temp_.path(), fs::current_path()})
        for (const char* marker : {"made1", "made2", "made3", "made4", "made5"})
            EXPECT_FALSE(fs::exists(where / marker)) << "a shell ran: " << where / marker;

    // A bare name is looked up on PATH; its folder is where it was found.
    InstallFake(bin_ / "fakegame");
    r = Start(L"fakegame one", true);
    EXPECT_EQ(r.program, (bin_ / "fakegame").string());
    EXPECT_EQ(r.args, Words{"one"});
    EXPECT_EQ(r.folder, Canonical(bin_));
}

TEST_F(LinuxProcessTest, StartedProgramIsDetachedWithNothingOfOursAndIsReaped) {
    const int careless = open("/dev/null", O_RDONLY);  // as a library might, no CLOEXEC
    InstallFake(bin_ / "fakegame");
    setenv("QUENBROOK_FAKE_HOLD", (temp_ / "release").c_str(), 1);
    ASSERT_TRUE(system_.StartProgram(L"fakegame", kShowMaximized, false).ok());
    const fs::path pidFile = record_.string() + ".pid";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(pidFile); }));
    const std::string pid = std::to_string(std::stoi(ReadFile(pidFile)));

    // While it waits: 0-2 are the standard ones and a shell keeps its script at 10 and
    // above, so any other low descriptor came from us.
    for (const auto& entry : fs::directory_iterator("/proc/" + pid + "/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        EXPECT_TRUE(fd <= 2 || fd >= 10) << fd << " leaked: " << fs::read_symlink(entry.path());
        EXPECT_NE(fd, careless);
    }
    close(careless);
    WriteFile(temp_ / "release", "");
    const Record r = AwaitRecord();
    EXPECT_EQ(r.group, pid);
    EXPECT_EQ(r.session, pid);
    // Once it has ended, no zombie is left while we run.
    EXPECT_TRUE(WaitFor([&] { return !fs::exists("/proc/" + pid); })) << "zombie " << pid;
}

TEST_F(LinuxProcessTest, StartFailuresSayWhatAndWhy) {
    MakeFile(prefix_ / "drive_c" / "civ2" / "civ2.exe", 0644);
    MakeFile(temp_ / "notes.txt", 0644);
    WriteFile(temp_ / "broken", "#!/nowhere/interpreter\n");  // exec itself fails
    chmod((temp_ / "broken").c_str(), 0755);
    const std::wstring temp = FromNarrow(temp_.path().string());
    const auto fails = [&](const std::wstring& line, std::initializer_list<std::wstring> parts) {
        const Status status = system_.StartProgram(line, kShowMaximized, true);
        EXPECT_FALSE(status.ok()) << line;
        for (const std::wstring& part : parts)
            EXPECT_TRUE(Has(status.reason(), part)) << status.reason() << " lacks " << part;
    };
    fails(L"C:\\nowhere\\civ2.exe -x", {L"C:\\nowhere\\civ2.exe", L"does not exist"});
    fails(L"/nowhere/game", {L"/nowhere/game", L"does not exist"});
    fails(L"no-such-program-here", {L"no-such-program-here", L"PATH"});
    fails(temp + L"/notes.txt", {temp + L"/notes.txt", L"not executable"});
    fails(temp + L"/broken", {temp + L"/broken", L"no such file"});
    fails(temp + L"/", {L"not a file"});
    fails(L"  ", {L"empty"});
    setenv("WINE", "/nowhere/wine", 1);
    fails(L"C:\\civ2\\civ2.exe",
          {L"Wine is not installed", L"/nowhere/wine", L"C:\\civ2\\civ2.exe"});
    unsetenv("WINE");
    setenv("PATH", (temp_ / "empty").c_str(), 1);
    fails(L"C:\\civ2\\civ2.exe", {L"Wine is not installed", L"C:\\civ2\\civ2.exe"});
    const Status unprefixed = LinuxSystem(temp_ / "none", nullptr)
                                  .StartProgram(L"C:\\civ2\\civ2.exe", kShowMaximized, true);
    EXPECT_TRUE(Has(unprefixed.reason(), L"no Wine prefix")) << unprefixed.reason();
    EXPECT_FALSE(fs::exists(record_)) << "something ran after all";
}

// --- Opening files and links ----------------------------------------------------------

TEST_F(LinuxProcessTest, EditorGetsTheHostFileAndTheAnswerComesOnTheWindowThread) {
    MakeFile(civIni_, 0644);
    std::optional<Status> outcome;
    system_.OpenInEditor(L"C:\\Windows\\Civ.ini", [&](Status s) { outcome = s; });
    const Record r = AwaitRecord();
    EXPECT_EQ(r.program, (bin_ / "xdg-open").string());
    EXPECT_EQ(r.args, Words{civIni_.string()});
    ASSERT_TRUE(queue_.RunNext());
    ASSERT_TRUE(outcome.has_value());
    EXPECT_TRUE(outcome->ok()) << outcome->reason();
}

TEST_F(LinuxProcessTest, LinkGoesAsOneWordWhileTheCallerGoesOn) {
    setenv("QUENBROOK_FAKE_HOLD", (temp_ / "release").c_str(), 1);
    const std::wstring link = L"https://example.org/a b?x=1&y='2';$(touch made)`touch made`";
    std::optional<ShellResult> result;
    system_.ShellOpen(link, [&](ShellResult r) { result = r; });
    // ShellOpen is back while xdg-open still waits.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(record_.string() + ".pid"); }));
    EXPECT_TRUE(queue_.empty());
    WriteFile(temp_ / "release", "");

    EXPECT_EQ(AwaitRecord().args, Words{*ToNarrow(link)});
    ASSERT_TRUE(queue_.RunNext());
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->result, 33);
    EXPECT_EQ(result->lastError, 0u);
    EXPECT_FALSE(fs::exists(fs::current_path() / "made"));
}

TEST_F(LinuxProcessTest, OpenerFailuresComeBackAsWindowsWouldTellThem) {
    std::optional<Status> edited;
    std::optional<ShellResult> opened;
    const auto open = [&] {
        edited.reset();
        opened.reset();
        system_.OpenInEditor(L"c:\\windows\\civ.ini", [&](Status s) { edited = s; });
        system_.ShellOpen(L"https://example.org/", [&](ShellResult r) { opened = r; });
        return queue_.RunNext() && queue_.RunNext() && edited && opened;
    };
    setenv("QUENBROOK_FAKE_EXIT", "3", 1);
    ASSERT_TRUE(open());
    EXPECT_TRUE(Has(edited->reason(), L"status 3") &&
                Has(edited->reason(), L"c:\\windows\\civ.ini"))
        << edited->reason();
    EXPECT_EQ(opened->result, 0);
    EXPECT_EQ(opened->lastError, 3u);

    setenv("QUENBROOK_FAKE_EXIT", "term", 1);
    ASSERT_TRUE(open());
    EXPECT_TRUE(Has(edited->reason(), L"signal")) << edited->reason();
    EXPECT_EQ(opened->result, 0);
    EXPECT_EQ(opened->lastError, 128u + SIGTERM);

    // No xdg-open at all: told through the same way.
    setenv("PATH", (temp_ / "empty").c_str(), 1);
    ASSERT_TRUE(open());
    EXPECT_TRUE(Has(edited->reason(), L"xdg-open is not installed")) << edited->reason();
    EXPECT_EQ(opened->result, 0);
    EXPECT_EQ(opened->lastError, static_cast<unsigned long>(ENOENT));
}

TEST_F(LinuxProcessTest, WithoutAWindowThreadTheWaiterAnswers) {
    auto answered = std::make_shared<std::promise<std::pair<std::thread::id, long>>>();
    auto future = answered->get_future();
    LinuxSystem(prefix_, nullptr).ShellOpen(L"https://example.org/", [answered](ShellResult r) {
        answered->set_value({std::this_thread::get_id(), r.result});
    });
    ASSERT_EQ(future.wait_for(kPatience), std::future_status::ready);
    const auto [thread, result] = future.get();
    EXPECT_NE(thread, std::this_thread::get_id());
    EXPECT_EQ(result, 33);
}

}  // namespace
}  // namespace quenbrook
