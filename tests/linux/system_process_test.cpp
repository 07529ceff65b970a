// The Linux host's attributes and started programs, against real files in a scratch
// Wine prefix and a fake program (scripts/fake_program.sh) put in place of wine,
// xdg-open or a game, which records how it was started.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
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

bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

// A scratch prefix with a game in it, the fake as wine, xdg-open and a game on PATH, and
// the window's thread as a queue of posted callbacks.
class Host : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"WINE", "WINEPREFIX", "QUENBROOK_FAKE_EXIT", "QUENBROOK_FAKE_HOLD"}) unsetenv(name);
        path_ = getenv("PATH");
        setenv("PATH", (root_ + "/bin:/usr/bin:/bin").c_str(), 1);
        for (const char* file : {"prefix/drive_c/windows/civ.ini", "prefix/drive_c/Program Files/Civ2/civ2.exe",
                                 "games/civ2.EXE", "notes.txt"})
            Make(root_ + "/" + file, 0644);
        for (const std::string fake : {"bin/wine", "bin/xdg-open", "bin/fakegame", "own wine/mywine", kOdd})
            Fake(root_ + "/" + fake);
        WriteFile(root_ + "/broken", "#!/nowhere/interpreter\n");
        chmod((root_ + "/broken").c_str(), 0755);
        Next();
    }
    void TearDown() override { setenv("PATH", path_.c_str(), 1); }
    static void Make(const fs::path& file, mode_t mode) {
        fs::create_directories(file.parent_path());
        WriteFile(file, "[Civ2]\r\n");
        chmod(file.c_str(), mode);
    }
    static void Fake(const fs::path& as) {
        fs::create_directories(as.parent_path());
        fs::copy_file(QUENBROOK_TEST_DATA "/../linux/scripts/fake_program.sh", as);
        fs::permissions(as, fs::perms(0755));
    }
    void Next() { setenv("QUENBROOK_FAKE_RECORD", (record_ = root_ + "/record" + std::to_string(++starts_)).c_str(), 1); }
    // "{T}" is the scratch folder, "{CWD}" ours, "{S}" the script with an odd name.
    std::string Expand(std::string text) const {
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"{S}", root_ + "/" + kOdd},
                                       {"{T}", root_}, {"{CWD}", fs::current_path().string()}})
            for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
        return text;
    }
    // How the fake was started: program|folder|WINEPREFIX|arguments..., or "" if it never ran.
    std::string Recorded(bool withSession = false) {
        if (!WaitFor([&] { return fs::exists(record_); })) return "";
        std::string text = ReadFile(record_), out;
        int line = 0;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1, ++line)
            if (withSession || line < 3 || line > 4) out += (out.empty() ? "" : "|") + text.substr(at, end - at);
        return out;
    }
    void Post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        ready_.notify_all();
    }
    bool RunPosted() {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_for(lock, std::chrono::seconds(5), [&] { return !tasks_.empty(); })) return false;
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        return true;
    }

    static constexpr const char* kOdd = "odd 'dir' ; $(touch made1)/run me; `touch made2` &.sh";
    quenbrook::testing::TempDir temp_;
    std::string root_ = fs::canonical(temp_.path()).string(), path_, record_;
    int starts_ = 0;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
    LinuxSystem system_{root_ + "/prefix", [this](std::function<void()> t) { Post(std::move(t)); }};
};

// ---------------------------------------------------------------- attributes
struct Attributes {
    const char* name;
    unsigned attributes;
    mode_t before, mask, after;
    bool wineFlags;  // the file carries Wine's hidden and system flags first
};
void PrintTo(const Attributes& row, std::ostream* out) { *out << row.name; }
class SetAttributes : public Host, public ::testing::WithParamInterface<Attributes> {};
// The mode becomes what Wine reads as the attribute; Wine's own flags go either way.
TEST_P(SetAttributes, ModeAsWineReadsIt) {
    const Attributes& row = GetParam();
    const std::string file = root_ + "/prefix/drive_c/windows/civ.ini";
    chmod(file.c_str(), row.before);
    if (row.wineFlags && setxattr(file.c_str(), "user.DOSATTRIB", "0x6", 3, 0) != 0)
        GTEST_SKIP() << "no user xattrs here";
    const mode_t old = umask(row.mask);
    const Status status = system_.SetFileAttributes(L"C:\\WINDOWS\\Civ.INI", row.attributes);
    umask(old);
    ASSERT_TRUE(status.ok()) << status.reason();
    struct stat st {};
    stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, row.after);
    EXPECT_LT(getxattr(file.c_str(), "user.DOSATTRIB", nullptr, 0), 0);
}
INSTANTIATE_TEST_SUITE_P(Rows, SetAttributes, ::testing::Values(
    Attributes{"ReadOnlyDropsEveryWriteBit", 1, 0666, 022, 0444, false},
    Attributes{"ReadOnlyKeepsExecute", 1, 0754, 022, 0554, false},
    Attributes{"NormalWithinUmask", 128, 0444, 022, 0644, false},
    Attributes{"NormalGroupUmask", 128, 0440, 027, 0640, false},
    Attributes{"NormalFromNothing", 128, 0000, 022, 0600, false},
    Attributes{"NormalUmaskForbidsWrite", 128, 0444, 0222, 0444, false},
    Attributes{"NormalKeepsExecute", 128, 0555, 022, 0755, false},
    Attributes{"NormalDropsWineFlags", 128, 0444, 022, 0644, true},
    Attributes{"ReadOnlyAgainDropsWineFlags", 1, 0444, 022, 0444, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Host, AttributesFollowLinksAndFailuresSayWhichFileAndWhy) {
    Make(root_ + "/elsewhere/real civ.ini", 0666);
    fs::create_symlink(root_ + "/elsewhere/real civ.ini", root_ + "/prefix/drive_c/windows/link.ini");
    ASSERT_TRUE(system_.SetFileAttributes(L"c:\\windows\\LINK.ini", 1).ok());
    EXPECT_EQ(fs::status(root_ + "/elsewhere/real civ.ini").permissions(), fs::perms(0444));
    EXPECT_TRUE(fs::is_symlink(root_ + "/prefix/drive_c/windows/link.ini"));
    const std::pair<std::wstring, unsigned> refused[] = {
        {L"c:\\windows\\gone.ini", 1}, {L"c:\\windows", 1}, {L"c:\\windows\\civ.ini", 0},
        {L"c:\\windows\\civ.ini", 129}, {std::wstring(L"c:\\x\0y", 6), 128}};
    const std::wstring reasons[] = {L"\"c:\\windows\\gone.ini\" (" + FromNarrow(root_) + L"/prefix/drive_c/windows/gone.ini): no such file or directory", L"not a file", L"0", L"129", L""};
    for (int i = 0; i < 5; ++i) {
        const Status status = system_.SetFileAttributes(refused[i].first, refused[i].second);
        EXPECT_FALSE(status.ok()) << i;
        EXPECT_NE(status.reason().find(reasons[i]), std::wstring::npos) << status.reason();
    }
    const Status unprefixed = LinuxSystem(root_ + "/none", nullptr).SetFileAttributes(L"c:\\windows\\civ.ini", 1);
    EXPECT_NE(unprefixed.reason().find(L"no Wine prefix"), std::wstring::npos) << unprefixed.reason();
    EXPECT_EQ(fs::status(root_ + "/prefix/drive_c/windows/civ.ini").permissions(), fs::perms(0644));
}

// ---------------------------------------------------------------- command lines
TEST(SplitWindowsCommandLine, ReadsWordsAsCommandLineToArgvW) {
    const std::pair<std::string, Words> cases[] = {
        {"civ2.exe  -a\t-b  ", {"civ2.exe", "-a", "-b"}},
        // The program keeps its backslashes and ends at its closing quote.
        {R"("C:\Program Files\Civ2\civ2.exe" x)", {R"(C:\Program Files\Civ2\civ2.exe)", "x"}},
        {R"(C:\a\"b" c)", {R"(C:\a\"b")", "c"}},
        {R"("a b"c d)", {"a b", "c", "d"}},
        {" x", {"", "x"}},
        // Arguments: quotes group, backslashes count only before a quote.
        {R"(p "two words" "" x "open)", {"p", "two words", "", "x", "open"}},
        {R"(p a\\b c\d a\"b a\\"b c" a\\\"b)", {"p", R"(a\\b)", R"(c\d)", R"(a"b)", R"(a\b c)", R"(a\"b)"}},
        {R"(p "C:\dir\\" next)", {"p", R"(C:\dir\)", "next"}},
        // A doubled quote inside quotes is literal and ends the quoting (the old rules).
        {R"(p "a""b" c)", {"p", R"(a"b c)"}},
        {R"(p """)", {"p", R"(")"}},
    };
    for (const auto& [line, words] : cases) EXPECT_EQ(SplitWindowsCommandLine(line), words) << line;
}

// ---------------------------------------------------------------- starting programs
struct Start {
    const char* name;
    const char* wine;  // $WINE, or nullptr for unset
    std::string line;
    bool inProgramFolder;
    std::string expected;  // program|folder|WINEPREFIX|arguments, or "fails:" and a part of the reason
};
void PrintTo(const Start& row, std::ostream* out) { *out << row.name; }
class StartProgram : public Host, public ::testing::WithParamInterface<Start> {};
TEST_P(StartProgram, RunsAsRecordedOrSaysWhy) {
    const Start& row = GetParam();
    if (row.wine) setenv("WINE", Expand(row.wine).c_str(), 1);
    if (row.expected == "fails:Wine is not installed") setenv("PATH", (root_ + "/empty").c_str(), 1);
    const Status status = system_.StartProgram(FromNarrow(Expand(row.line)), kShowMaximized, row.inProgramFolder);
    if (row.expected.starts_with("fails:")) {
        EXPECT_NE(status.reason().find(FromNarrow(Expand(row.expected.substr(6)))), std::wstring::npos) << status.reason();
        EXPECT_FALSE(fs::exists(record_)) << "something ran after all";
    } else {
        ASSERT_TRUE(status.ok()) << status.reason();
        EXPECT_EQ(Recorded(), Expand(row.expected));
    }
    for (const char* marker : {"made1", "made2", "made5"}) EXPECT_FALSE(fs::exists(fs::current_path() / marker));
}
INSTANTIATE_TEST_SUITE_P(Rows, StartProgram, ::testing::Values(
    Start{"WindowsProgramInItsFolder", nullptr, R"("C:\program files\civ2\CIV2.EXE" -multi "two words")", true,
          "{T}/bin/wine|{T}/prefix/drive_c/Program Files/Civ2|{T}/prefix|{T}/prefix/drive_c/Program Files/Civ2/civ2.exe|-multi|two words"},
    Start{"WholeTextNamesAFileNotInItsFolder", nullptr, R"(C:\Program Files\Civ2\civ2.exe)", false,
          "{T}/bin/wine|{CWD}|{T}/prefix|{T}/prefix/drive_c/Program Files/Civ2/civ2.exe"},
    Start{"NameWineFindsGoesAsWrittenExtensionInAnyCase", nullptr, R"(setup.Bat C:\windows\civ.ini)", false,
          R"({T}/bin/wine|{CWD}|{T}/prefix|setup.Bat|C:\windows\civ.ini)"},
    Start{"WineVariableNamesTheLoader", "{T}/own wine/mywine", "{T}/games/civ2.EXE", false,
          "{T}/own wine/mywine|{CWD}|{T}/prefix|{T}/games/civ2.EXE"},
    Start{"EmptyWineVariableDoesNotCount", "", "{T}/games/civ2.EXE", false,
          "{T}/bin/wine|{CWD}|{T}/prefix|{T}/games/civ2.EXE"},
    Start{"NativeProgramLiterallyWithoutShell", nullptr, "{S}", true, "{S}|{T}/odd 'dir' ; $(touch made1)|(unset)"},
    Start{"NativeArgumentsAsWords", nullptr, "\"{S}\" 'a' \"b c\" $(touch made5) ;x", false,
          "{S}|{CWD}|(unset)|'a'|b c|$(touch|made5)|;x"},
    Start{"BareNameFromPath", nullptr, "fakegame one", true, "{T}/bin/fakegame|{T}/bin|(unset)|one"},
    Start{"MissingWindowsProgram", nullptr, R"(C:\nowhere\civ2.exe -x)", true, R"(fails:cannot start "C:\nowhere\civ2.exe" ({T}/prefix/drive_c/nowhere/civ2.exe): the file does not exist)"},
    Start{"MissingNativeProgram", nullptr, "/nowhere/game", true, R"(fails:cannot start "/nowhere/game": the file does not exist)"},
    Start{"NotOnPath", nullptr, "no-such-program-here", true, "fails:no-such-program-here"},
    Start{"NotExecutable", nullptr, "{T}/notes.txt", true, R"(fails:cannot start "{T}/notes.txt": the file is not executable)"},
    Start{"ExecFails", nullptr, "{T}/broken", true, "fails:no such file"},
    Start{"Folder", nullptr, "{T}/", true, "fails:not a file"},
    Start{"Empty", nullptr, "  ", true, "fails:empty"},
    Start{"WineVariableNamesNothing", "/nowhere/wine", R"(C:\Program Files\Civ2\civ2.exe)", true, "fails:/nowhere/wine"},
    Start{"NoWine", nullptr, R"(C:\Program Files\Civ2\civ2.exe)", true, "fails:Wine is not installed"}),
    [](const auto& info) { return std::string(info.param.name); });

// Detached in a session of its own, with no descriptor of ours, and reaped when it ends.
TEST_F(Host, StartedProgramIsDetachedAndReaped) {
    const int careless = open("/dev/null", O_RDONLY);  // as a library might, no CLOEXEC
    setenv("QUENBROOK_FAKE_HOLD", (root_ + "/release").c_str(), 1);
    ASSERT_TRUE(system_.StartProgram(L"fakegame", kShowMaximized, false).ok());
    ASSERT_TRUE(WaitFor([&] { return fs::exists(record_ + ".pid"); }));
    const std::string pid = std::to_string(std::stoi(ReadFile(record_ + ".pid")));
    for (const auto& entry : fs::directory_iterator("/proc/" + pid + "/fd")) {
        const int fd = std::stoi(entry.path().filename().string());  // a shell keeps its script at 10+
        EXPECT_TRUE(fd <= 2 || fd >= 10) << fd << " leaked: " << fs::read_symlink(entry.path());
    }
    close(careless);
    WriteFile(root_ + "/release", "");
    EXPECT_EQ(Recorded(true), root_ + "/bin/fakegame|" + fs::current_path().string() + "|(unset)|" + pid + "|" + pid);
    EXPECT_TRUE(WaitFor([&] { return !fs::exists("/proc/" + pid); })) << "zombie " << pid;
}

// The editor and links go through xdg-open as one word, off the caller's thread; the
// answer comes back on the window's thread, failures as Windows would tell them.
TEST_F(Host, EditorAndLinksAnswerOnTheWindowThread) {
    const std::wstring link = L"https://example.org/a b?x=1&y='2';$(touch made)";
    const struct { const char* exit; const wchar_t* editor; long result; unsigned long error; } rows[] = {
        {"0", L"", 33, 0}, {"3", L"status 3", 0, 3}, {"term", L"signal", 0, 128 + SIGTERM},
        {nullptr, L"xdg-open is not installed", 0, ENOENT}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.exit ? row.exit : "no xdg-open");
        if (row.exit) setenv("QUENBROOK_FAKE_EXIT", row.exit, 1); else setenv("PATH", "/nowhere", 1);
        std::optional<Status> edited;
        std::optional<ShellResult> opened;
        system_.OpenInEditor(L"C:\\Windows\\Civ.ini", [&](Status s) { edited = s; });
        ASSERT_TRUE(RunPosted());
        if (row.exit && std::string(row.exit) == "0") {
            EXPECT_EQ(Recorded(), root_ + "/bin/xdg-open|" + fs::current_path().string() + "|(unset)|" + root_ +
                                      "/prefix/drive_c/windows/civ.ini");
            Next();
        }
        // The first link waits for a release: ShellOpen is back, and nothing posted, meanwhile.
        if (row.result == 33) setenv("QUENBROOK_FAKE_HOLD", (root_ + "/release").c_str(), 1);
        system_.ShellOpen(link, [&](ShellResult r) { opened = r; });
        if (row.result == 33) {
            std::lock_guard lock(mutex_);
            EXPECT_TRUE(tasks_.empty());
            WriteFile(root_ + "/release", "");
        }
        ASSERT_TRUE(RunPosted());
        ASSERT_TRUE(edited && opened);
        EXPECT_EQ(edited->ok(), *row.editor == L'\0');
        EXPECT_NE(edited->reason().find(row.editor), std::wstring::npos) << edited->reason();
        EXPECT_EQ(opened->result, row.result);
        EXPECT_EQ(opened->lastError, row.error);
        if (row.result == 33) {
            EXPECT_EQ(Recorded().substr(Recorded().rfind('|') + 1), *ToNarrow(link));
        }
        Next();
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "made"));
}

}  // namespace
}  // namespace quenbrook
