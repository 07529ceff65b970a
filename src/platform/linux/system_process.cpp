// The Linux host's file attributes and started programs: attributes become the mode
// bits Wine reads them from, Windows programs start through Wine in our prefix, and
// files and links open through xdg-open.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/process.h"
#include "platform/linux/wine_paths.h"
#include "platform/program_line.h"

namespace quenbrook {
namespace fs = std::filesystem;

namespace {

// Where Wine keeps a file's hidden and system flags (Samba's format).
constexpr char kDosAttributes[] = "user.DOSATTRIB";

// ShellExecute's answer for success: anything above 32.
constexpr long kShellSuccess = 33;

constexpr wchar_t kUnrepresentable[] = L"the text cannot be represented in this system's encoding";

std::wstring Quoted(std::wstring_view text) { return L"\"" + std::wstring(text) + L"\""; }
std::wstring Quoted(std::string_view text) { return Quoted(FromNarrow(text)); }

// The name as the user gave it, and where it leads when that is somewhere else.
std::wstring Naming(const std::wstring& given, const fs::path& host) {
    const std::wstring hostText = FromNarrow(host.native());
    return hostText == given ? Quoted(given) : Quoted(given) + L" (" + hostText + L")";
}

// The system's words for an errno, to follow a colon.
std::wstring ErrorText(int error) {
    std::wstring text = FromNarrow(std::generic_category().message(error));
    if (!text.empty() && text[0] >= L'A' && text[0] <= L'Z') text[0] = text[0] - L'A' + L'a';
    return text;
}

std::wstring NoPrefix(const fs::path& prefix) {
    return L"there is no Wine prefix at " + FromNarrow(prefix.native());
}

// A Windows path leads into the prefix; any other text is a host path already.
fs::path HostFile(const fs::path& prefix, const std::string& text) {
    return IsWindowsPath(text) ? MapWindowsPath(prefix, text) : fs::path(text);
}

bool NeedsMissingPrefix(const fs::path& prefix, const std::string& text) {
    std::error_code ec;
    return IsWindowsPath(text) && !fs::is_directory(prefix, ec);
}

// The path from the root; as given when our own folder is gone.
fs::path Absolute(const fs::path& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute;
}

bool IsRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// The process umask, read where reading it changes nothing: setting it to learn it
// would, for that moment, give files another thread creates the wrong mode.
mode_t CurrentUmask() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buffer[4096];
        std::size_t size = 0;
        while (size < sizeof buffer) {
            const ssize_t got = read(fd, buffer + size, sizeof buffer - size);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            size += static_cast<std::size_t>(got);
        }
        close(fd);
        const std::string_view status(buffer, size);
        if (auto at = status.find("\nUmask:"); at != std::string_view::npos) {
            at += 7;
            while (at < size && (status[at] == ' ' || status[at] == '\t')) ++at;
            mode_t mask = 0;
            bool digits = false;
            for (; at < size && status[at] >= '0' && status[at] <= '7'; ++at, digits = true)
                mask = static_cast<mode_t>(mask * 8 + static_cast<mode_t>(status[at] - '0'));
            if (digits) return mask;
        }
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// Whether Windows must run this program: a Windows path, or a Windows program's extension.
bool IsWindowsProgram(const std::string& program) {
    if (IsWindowsPath(program)) return true;
    const auto nameStart = program.find_last_of("/\\");
    const auto dot = program.rfind('.');
    if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart))
        return false;
    std::string extension = program.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension == ".exe" || extension == ".com" || extension == ".bat";
}

struct WineLookup {
    std::optional<fs::path> loader;
    std::wstring whyMissing;
};

// The Wine loader: $WINE when set and not empty, else wine on PATH.
WineLookup FindWine() {
    const char* chosen = std::getenv("WINE");
    if (chosen && *chosen) {
        const std::string name = chosen;
        if (name.find('/') == std::string::npos) {
            if (auto found = FindInPath(name)) return {Absolute(*found), {}};
            return {std::nullopt,
                    L"$WINE names " + Quoted(name) + L", which was not found on PATH"};
        }
        if (IsRegularFile(name) && access(name.c_str(), X_OK) == 0) return {Absolute(name), {}};
        return {std::nullopt,
                L"$WINE names " + Quoted(name) + L", which is not an executable file"};
    }
    if (auto found = FindInPath("wine")) return {Absolute(*found), {}};
    return {std::nullopt, L"wine was not found on PATH"};
}

struct OpenerOutcome {
    bool missing = false;           // no xdg-open on PATH
    int startError = 0;             // errno when it could not be started
    std::optional<int> waitStatus;  // how it ended, when that could be learned
};

// Runs xdg-open on target and hands done the outcome: at once when it could not start,
// else on a waiting thread once it has ended.
void RunOpener(const std::string& target, std::function<void(OpenerOutcome)> done) {
    const auto opener = FindInPath("xdg-open");
    if (!opener) return done({true, ENOENT, std::nullopt});
    SpawnRequest request;
    request.program = Absolute(*opener);
    request.arguments = {"xdg-open", target};
    const SpawnOutcome started = Spawn(request);
    if (started.pid < 0) return done({false, started.error, std::nullopt});
    WaitInBackground(started.pid, [done = std::move(done)](std::optional<int> status) {
        done({false, 0, status});
    });
}

// What xdg-open's exit codes stand for.
std::wstring OpenerExitMeaning(int code) {
    switch (code) {
    case 1:
        return L" (it did not accept its arguments)";
    case 2:
        return L" (the file does not exist)";
    case 3:
        return L" (a program it needs was not found)";
    case 4:
        return L" (the program that opens it failed)";
    default:
        return {};
    }
}

// How long a started program is watched: Wine that cannot run a game says so and ends
// within a second once its server is up; a caller waits no longer than this.
constexpr std::chrono::milliseconds kWatch{2000};

// Whether file is a Windows program for 32-bit x86 (PE machine 0x14c), as Civ 2 is.
bool IsWindows32BitProgram(const fs::path& file) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char dos[64] = {};
    unsigned char pe[6] = {};
    bool is32 = false;
    if (pread(fd, dos, sizeof dos, 0) == static_cast<ssize_t>(sizeof dos) && dos[0] == 'M' &&
        dos[1] == 'Z') {
        const off_t at = static_cast<off_t>(dos[60] | dos[61] << 8 | dos[62] << 16 |
                                            static_cast<unsigned>(dos[63]) << 24);
        is32 = pread(fd, pe, sizeof pe, at) == static_cast<ssize_t>(sizeof pe) && pe[0] == 'P' &&
               pe[1] == 'E' && pe[2] == 0 && pe[3] == 0 && pe[4] == 0x4c && pe[5] == 0x01;
    }
    close(fd);
    return is32;
}

// Whether this Wine can run 32-bit programs. Only the split install Debian makes is
// known to lack them: its wine64 loader beside no 32-bit one. Anything else may, and
// Wine itself says so at the start when it cannot.
bool WineHas32BitSide(const fs::path& loader) {
    std::error_code ec;
    const fs::path real = fs::canonical(loader, ec);
    const fs::path lib = (ec ? loader : real).parent_path().parent_path() / "lib" / "wine";
    return !fs::exists(lib / "wine64", ec) || fs::exists(lib / "wine", ec);
}

// The log the game's output goes to: quenbrook/game.log in the XDG state folder, anew
// for each start. With no such folder, an unnamed file that goes when the game ends.
int OpenGameLog() {
    fs::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        state = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        state = fs::path(home) / ".local" / "state";
    if (!state.empty()) {
        std::error_code ec;
        fs::create_directories(state / "quenbrook", ec);
        const int fd = open((state / "quenbrook" / "game.log").c_str(),
                            O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
    }
    return open("/tmp", O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
}

// Whether a line is one of Wine's debug-channel notes ("0048:err:winediag:...").
bool IsWineNote(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos ||
        line.substr(0, colon).find_first_not_of("0123456789abcdef") != std::string_view::npos)
        return false;
    const std::string_view rest = line.substr(colon + 1);
    return rest.starts_with("err:") || rest.starts_with("warn:") || rest.starts_with("fixme:") ||
           rest.starts_with("trace:");
}

// What the program wrote while watched: its last lines. Wine's debug-channel notes are
// left out when it also said something in words, which is then the reason.
std::string WhatItSaid(int log) {
    char buffer[16384];
    const ssize_t got = pread(log, buffer, sizeof buffer, 0);
    if (got <= 0) return {};
    std::vector<std::string> lines, words;
    std::string_view text(buffer, static_cast<std::size_t>(got));
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string lineText = Trimmed(text.substr(0, end));
        if (!lineText.empty() && lineText.back() == '\r') lineText.pop_back();
        if (!lineText.empty()) (IsWineNote(lineText) ? lines : words).push_back(lineText);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    if (!words.empty()) lines = std::move(words);
    constexpr std::size_t kLast = 6;
    std::string said;
    for (std::size_t i = lines.size() > kLast ? lines.size() - kLast : 0; i < lines.size(); ++i)
        said += (said.empty() ? "" : "\n") + lines[i];
    return said;
}

// Runs task on the window's thread when there is a way there, else where we are.
void Deliver(const LinuxSystem::Post& post, std::function<void()> task) {
    if (post)
        post(std::move(task));
    else
        task();
}

}  // namespace

Status LinuxSystem::SetFileAttributes(const std::wstring& file, unsigned attributes) {
    if (attributes != kAttributeReadOnly && attributes != kAttributeNormal)
        return Status::Fail(L"cannot give " + Quoted(file) + L" the attributes " +
                            std::to_wstring(attributes) +
                            L": only read-only (1) and normal (128) can be set here");
    const auto narrow = ToNarrow(file);
    if (!narrow)
        return Status::Fail(L"cannot change the attributes of " + Quoted(file) + L": " +
                            kUnrepresentable);
    if (NeedsMissingPrefix(prefix_, *narrow))
        return Status::Fail(L"cannot change the attributes of " + Quoted(file) + L": " +
                            NoPrefix(prefix_));

    const fs::path host = HostFile(prefix_, *narrow);
    const std::wstring failing = L"cannot change the attributes of " + Naming(file, host) + L": ";
    struct stat info {};
    if (stat(host.c_str(), &info) != 0) return Status::Fail(failing + ErrorText(errno));
    if (!S_ISREG(info.st_mode)) return Status::Fail(failing + L"it is not a file");

    const mode_t before = info.st_mode & 07777;
    // Read-only takes every write bit away; normal gives write where there is read,
    // within the umask, as Wine makes a file normal.
    const mode_t wanted = attributes == kAttributeReadOnly
                              ? before & ~mode_t{0222}
                              : before | ((0600 | ((before & 0044) >> 1)) & ~CurrentUmask());
    mode_t now = before;

    // Hidden and system go in either state, as the whole set is replaced. Only a writer
    // may remove them, so the owner may write for that moment.
    if (getxattr(host.c_str(), kDosAttributes, nullptr, 0) >= 0) {
        if (!(now & 0200) && chmod(host.c_str(), now | 0200) != 0)
            return Status::Fail(failing + ErrorText(errno));
        const bool removed = removexattr(host.c_str(), kDosAttributes) == 0 || errno == ENODATA;
        const int error = errno;
        if (!removed) {
            chmod(host.c_str(), before);
            return Status::Fail(L"cannot clear the hidden and system flags of " +
                                Naming(file, host) + L": " + ErrorText(error));
        }
        now |= 0200;
    }

    // A file that is already right is left alone: no needless failure on one we do not own.
    if (wanted != now && chmod(host.c_str(), wanted) != 0)
        return Status::Fail(failing + ErrorText(errno));
    return Status::Ok();
}

Status LinuxSystem::StartProgram(const std::wstring& commandLine, int windowStyle,
                                 bool inProgramFolder) {
    const auto narrow = ToNarrow(commandLine);
    if (!narrow)
        return Status::Fail(L"cannot start " + Quoted(commandLine) + L": " + kUnrepresentable);
    const std::string text = Trimmed(*narrow);
    if (text.empty())
        return Status::Fail(L"there is no program to start: the command line is empty");

    // The line reads as Windows reads it. Bare names never match a file in our folder:
    // they are looked up on PATH (or by Wine) below.
    const ProgramLine line = SplitProgramLine(text, [&](const std::string& candidate) {
        return (IsWindowsPath(candidate) || candidate.find('/') != std::string::npos) &&
               IsRegularFile(HostFile(prefix_, candidate));
    });
    std::string program = line.program;
    std::vector<std::string> arguments;
    if (!line.arguments.empty()) {
        arguments = SplitWindowsCommandLine("program " + line.arguments);
        arguments.erase(arguments.begin());
    }
    const std::wstring name = Quoted(program);
    if (program.empty())
        return Status::Fail(L"cannot start " + Quoted(commandLine) + L": it names no program");
    const bool hasPath = IsWindowsPath(program) || program.find('/') != std::string::npos;

    SpawnRequest request;
    fs::path folder;  // the executable's host folder, when it has one
    std::wstring through;
    if (IsWindowsProgram(program)) {
        if (NeedsMissingPrefix(prefix_, program))
            return Status::Fail(L"cannot start " + name + L": " + NoPrefix(prefix_));
        const fs::path host = HostFile(prefix_, program);
        // Wine gets the file by its host path; a bare name it looks up in its own folders.
        std::string target = program;
        if (IsRegularFile(host)) {
            const fs::path absolute = Absolute(host);
            target = absolute.string();
            folder = absolute.parent_path();
        } else if (hasPath) {
            return Status::Fail(L"cannot start " + Naming(FromNarrow(program), host) +
                                L": the file does not exist");
        }
        const WineLookup wine = FindWine();
        if (!wine.loader)
            return Status::Fail(L"Wine is not installed: " + wine.whyMissing + L", so " + name +
                                L" could not be started");
        if (!folder.empty() && IsWindows32BitProgram(host) && !WineHas32BitSide(*wine.loader))
            return Status::Fail(
                L"cannot start " + name + L": it is a 32-bit Windows program and this Wine (" +
                FromNarrow(wine.loader->native()) +
                L") runs only 64-bit ones. Install wine32; on Debian, as root: "
                L"dpkg --add-architecture i386 && apt-get update && apt-get install wine32:i386");
        request.program = *wine.loader;
        // Through Wine's start, which hands the window style to the game (Launch asks for
        // maximized, as on Windows); /wait keeps the game's exit status ours to watch.
        request.arguments = {wine.loader->string(), "start", "/wait"};
        if (windowStyle == kShowMaximized) request.arguments.push_back("/max");
        if (!folder.empty()) request.arguments.push_back("/unix");
        request.arguments.push_back(target);
        // Wine takes a relative prefix from its own folder, which is the game's.
        request.environment = {{"WINEPREFIX", Absolute(prefix_).string()}};
        through = L" through Wine (" + FromNarrow(wine.loader->native()) + L")";
    } else {
        fs::path executable;
        if (hasPath) {
            executable = Absolute(program);
            std::error_code ec;
            if (!fs::exists(executable, ec))
                return Status::Fail(L"cannot start " + name + L": the file does not exist");
            if (!IsRegularFile(executable))
                return Status::Fail(L"cannot start " + name + L": it is not a file");
            if (access(executable.c_str(), X_OK) != 0)
                return Status::Fail(L"cannot start " + name + L": the file is not executable");
            request.arguments = {executable.string()};
        } else {
            const auto found = FindInPath(program);
            if (!found)
                return Status::Fail(L"cannot start " + name +
                                    L": no program of that name was found on PATH");
            executable = Absolute(*found);
            request.arguments = {program};
        }
        request.program = executable;
        folder = executable.parent_path();
    }
    request.arguments.insert(request.arguments.end(), std::make_move_iterator(arguments.begin()),
                             std::make_move_iterator(arguments.end()));
    if (inProgramFolder) request.workingFolder = folder;

    // The program's output goes to the log, never to whoever reads ours: a launcher
    // that captures our output would otherwise wait for as long as the game runs.
    const int log = OpenGameLog();
    request.output = log;
    const SpawnOutcome started = Spawn(request);
    if (started.pid < 0) {
        if (log >= 0) close(log);
        if (started.enteringFolder)
            return Status::Fail(L"cannot start " + name + L" in its folder " +
                                Quoted(folder.native()) + L": " + ErrorText(started.error));
        return Status::Fail(L"cannot start " + name + through + L": " + ErrorText(started.error));
    }

    // Wine starts whatever it is given; whether it could run it shows only in how soon
    // and how it ends.
    const std::optional<int> ended = WaitAwhile(started.pid, kWatch);
    const std::string said = log >= 0 ? WhatItSaid(log) : std::string();
    if (log >= 0) close(log);
    if (!ended) {
        WaitInBackground(started.pid, nullptr);
        return Status::Ok();
    }
    if (WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0) return Status::Ok();
    std::wstring why = WIFEXITED(*ended)
                           ? L"it ended at once with status " + std::to_wstring(WEXITSTATUS(*ended))
                           : L"it was ended at once by signal " + std::to_wstring(WTERMSIG(*ended));
    if (!said.empty()) why += L", saying:\n" + FromNarrow(said);
    return Status::Fail(L"cannot start " + name + through + L": " + why);
}

void LinuxSystem::OpenInEditor(const std::wstring& file, std::function<void(Status)> done) {
    auto finish = [post = post_, done = std::move(done)](Status status) {
        if (done) Deliver(post, [done, status] { done(status); });
    };
    const auto narrow = ToNarrow(file);
    if (!narrow)
        return finish(Status::Fail(L"cannot open " + Quoted(file) + L": " + kUnrepresentable));
    const fs::path host = HostFile(prefix_, *narrow);
    const std::wstring named = Naming(file, host);

    RunOpener(host.string(), [finish, named](OpenerOutcome outcome) {
        if (outcome.missing)
            return finish(Status::Fail(L"xdg-open is not installed, so " + named +
                                       L" could not be opened in an editor"));
        if (outcome.startError != 0)
            return finish(Status::Fail(L"cannot start xdg-open to open " + named + L": " +
                                       ErrorText(outcome.startError)));
        // xdg-open started and we cannot learn how it ended: it is doing its work.
        if (!outcome.waitStatus) return finish(Status::Ok());
        const int status = *outcome.waitStatus;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return finish(Status::Ok());
        if (WIFEXITED(status))
            return finish(Status::Fail(
                L"xdg-open could not open " + named + L": it exited with status " +
                std::to_wstring(WEXITSTATUS(status)) + OpenerExitMeaning(WEXITSTATUS(status))));
        finish(Status::Fail(L"xdg-open could not open " + named + L": it was ended by signal " +
                            std::to_wstring(WTERMSIG(status))));
    });
}

void LinuxSystem::ShellOpen(const std::wstring& link, std::function<void(ShellResult)> done) {
    auto finish = [post = post_, done = std::move(done)](long result, unsigned long lastError) {
        if (done)
            Deliver(post, [done, result, lastError] { done(ShellResult{result, lastError}); });
    };
    const auto narrow = ToNarrow(link);
    if (!narrow) return finish(0, EILSEQ);

    RunOpener(*narrow, [finish](OpenerOutcome outcome) {
        if (outcome.startError != 0)
            return finish(0, static_cast<unsigned long>(outcome.startError));
        if (!outcome.waitStatus) return finish(kShellSuccess, 0);
        const int status = *outcome.waitStatus;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return finish(kShellSuccess, 0);
        if (WIFEXITED(status)) return finish(0, static_cast<unsigned long>(WEXITSTATUS(status)));
        finish(0, 128UL + static_cast<unsigned long>(WTERMSIG(status)));
    });
}

}  // namespace quenbrook
