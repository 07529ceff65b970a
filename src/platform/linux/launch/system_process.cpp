// The Linux host's file attributes and started programs: attributes become the mode
// bits Wine reads them from, Windows programs start through Wine in our prefix, and
// files and links open through xdg-open.
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/linux/launch/process.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/state_folder.h"
#include "platform/linux/wine_prefix/wine_paths.h"
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

// A program's extension in lower case, with its dot; empty when it has none.
std::string ExtensionOf(const std::string& program) {
    const auto nameStart = program.find_last_of("/\\");
    const auto dot = program.rfind('.');
    if (dot == std::string::npos || (nameStart != std::string::npos && dot < nameStart)) return {};
    std::string extension = program.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

// Whether Windows must run this program: a Windows path, or a Windows program's extension.
bool IsWindowsProgram(const std::string& program) {
    if (IsWindowsPath(program)) return true;
    const std::string extension = ExtensionOf(program);
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

// How long a started program is watched: Wine that cannot run a game says so and ends
// within a second once its server is up; a caller waits no longer than this.
constexpr std::chrono::milliseconds kWatch{2000};

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
    // An opener that runs on past the watch (a browser outside a known desktop) has
    // handed over as far as the player can tell.
    WaitInBackground(started.pid, kWatch,
                     [done = std::move(done)](Watched watched) { done({false, 0, watched.status}); });
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

// What a program file is, from its headers, as far as starting it under Wine goes.
struct ProgramKind {
    std::wstring refusal;  // why Wine cannot run it; empty when it can
    bool is32Bit = false;  // it needs Wine's 32-bit side
};

unsigned Little(const unsigned char* bytes, int count) {
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// Reads the headers Windows' loader reads: "MZ", at 0x3c the offset of "PE\0\0", the
// machine, and the optional header's subsystem. A file that cannot be read is left to Wine.
ProgramKind KindOf(const fs::path& file, bool comFile) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    unsigned char dos[64] = {};
    unsigned char pe[24 + 72] = {};
    const ssize_t dosSize = pread(fd, dos, sizeof dos, 0);
    ssize_t peSize = 0;
    if (dosSize == static_cast<ssize_t>(sizeof dos))
        peSize = pread(fd, pe, sizeof pe, static_cast<off_t>(Little(dos + 60, 4)));
    close(fd);
    constexpr wchar_t kNotWindows[] = L"it is not a Windows program";
    constexpr wchar_t kDos[] = L"it is a DOS program: Wine needs DOSBox for it";
    // A .com without the header is a DOS program as it stands.
    if (dosSize < 2 || dos[0] != 'M' || dos[1] != 'Z') return {comFile ? kDos : kNotWindows};
    // Windows 3.x programs (NE) run in Wine's 32-bit side.
    if (peSize >= 2 && pe[0] == 'N' && pe[1] == 'E') return {L"", true};
    if (peSize < 4 || pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return {kDos};
    const unsigned machine = Little(pe + 4, 2);
#if defined(__aarch64__)
    const bool runs = machine == 0xaa64 || machine == 0x1c4;
#else
    const bool runs = machine == 0x14c || machine == 0x8664;
#endif
    if (!runs) {
        wchar_t code[8];
        swprintf(code, 8, L"0x%04x", machine);
        return {std::wstring(L"it is a Windows program for another kind of processor (machine ") +
                code + L"), which Wine does not run here"};
    }
    // The subsystem sits at the same place in the 32- and 64-bit optional headers; a
    // driver, an EFI image or one for Windows CE is no program Wine starts.
    const unsigned subsystem = peSize >= 24 + 70 ? Little(pe + 24 + 68, 2) : 0;
    if (subsystem != 2 && subsystem != 3) return {kNotWindows};
    return {L"", machine == 0x14c};
}

// Wine reads its command line in the charset of its LC_CTYPE. When that is not UTF-8 and
// the path we hand it has more than ASCII (our text is UTF-8 whatever the locale), it
// gets the same language's UTF-8 locale for LC_CTYPE, else C.UTF-8: the language is what
// Wine takes the game's code page from, so that stays. LC_ALL, which would override it,
// becomes LANG.
void GiveWineUtf8(const std::string& target, SpawnRequest& request) {
    if (std::all_of(target.begin(), target.end(), [](char c) { return (c & 0x80) == 0; })) return;
    const char* all = std::getenv("LC_ALL");
    std::string name = all && *all ? all : "";
    for (const char* variable : {"LC_CTYPE", "LANG"})
        if (const char* value = std::getenv(variable); name.empty() && value && *value) name = value;
    if (name.empty()) name = "C";
    auto isUtf8 = [](const std::string& locale) {
        const locale_t handle = newlocale(LC_CTYPE_MASK, locale.c_str(), locale_t{});
        if (!handle) return false;
        std::string codeset = nl_langinfo_l(CODESET, handle);
        freelocale(handle);
        std::erase(codeset, '-');
        for (char& c : codeset)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        return codeset == "UTF8";
    };
    if (isUtf8(name)) return;
    std::string utf8 = name.substr(0, name.find_first_of(".@")) + ".UTF-8";
    if (!isUtf8(utf8)) utf8 = "C.UTF-8";
    if (all && *all) {
        request.environment.emplace_back("LANG", all);
        request.unset.push_back("LC_ALL");
    }
    request.environment.emplace_back("LC_CTYPE", utf8);
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
// for each start; the one before is game.log.1. With no such folder, an unnamed file
// that goes when the game ends.
int OpenGameLog() {
    if (const fs::path state = StateFolder(); !state.empty()) {
        // A game still running writes on into its own log, now game.log.1.
        const fs::path log = state / "game.log";
        rename(log.c_str(), (log.string() + ".1").c_str());
        const int fd = open(log.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
    }
    const int unnamed = open("/tmp", O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    // Never our own output: a launcher reading it would wait for as long as the game runs.
    return unnamed >= 0 ? unnamed : open("/dev/null", O_RDWR | O_CLOEXEC);
}

enum class Line { Words, Error, Noise };

// Wine's debug-channel notes ("0048:err:winediag:...", "fixme:ntdll:..." without the
// thread): errors, and the fixme, warn and trace noise of every run.
Line KindOfLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        line.substr(0, colon).find_first_not_of("0123456789abcdef") == std::string_view::npos)
        line.remove_prefix(colon + 1);
    if (line.starts_with("err:")) return Line::Error;
    if (line.starts_with("fixme:") || line.starts_with("warn:") || line.starts_with("trace:"))
        return Line::Noise;
    return Line::Words;
}

// The last lines the program wrote before it gave up, from the end of its log: its words,
// or Wine's errors when it said nothing else. The noise never counts.
std::string WhatItSaid(int log) {
    constexpr off_t kTail = 16384;
    struct stat info {};
    if (fstat(log, &info) != 0 || info.st_size == 0) return {};
    const off_t from = info.st_size > kTail ? info.st_size - kTail : 0;
    char buffer[kTail];
    const ssize_t got = pread(log, buffer, sizeof buffer, from);
    if (got <= 0) return {};
    std::string_view text(buffer, static_cast<std::size_t>(got));
    // Begun inside a line: that line is cut, and left out.
    if (from > 0) text.remove_prefix(std::min(text.find('\n'), text.size()));
    std::vector<std::string> words, errors;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string lineText = Trimmed(text.substr(0, end));
        if (!lineText.empty() && lineText.back() == '\r') lineText.pop_back();
        // Shown in a terminal or a message box: no control sequence gets through.
        for (char& c : lineText)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) c = '?';
        const Line kind = KindOfLine(lineText);
        if (!lineText.empty() && kind != Line::Noise)
            (kind == Line::Words ? words : errors).push_back(lineText);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    const std::vector<std::string>& lines = words.empty() ? errors : words;
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
    // The player's prefix, for Wine and for a script that calls Wine itself; absolute, as
    // Wine takes a relative one from its own folder, which is the game's.
    if (!prefix_.empty()) request.environment = {{"WINEPREFIX", Absolute(prefix_).string()}};
    fs::path folder;  // the executable's host folder, when it has one
    bool byHostPath = false;  // Wine gets the file by its host path (/unix)
    std::wstring through;
    if (IsWindowsProgram(program)) {
        if (NeedsMissingPrefix(prefix_, program))
            return Status::Fail(L"cannot start " + name + L": " + NoPrefix(prefix_));
        const fs::path host = HostFile(prefix_, program);
        // Wine gets the file by its Windows path when a drive holds it, which no locale
        // can garble (a host path it decodes in the locale's charset), and then prints
        // its failures instead of showing them in a dialog; else by its host path. A bare
        // name it looks up in its own folders.
        std::string target = program;
        ProgramKind kind;
        if (IsRegularFile(host)) {
            const fs::path absolute = Absolute(host);
            const auto windows = WindowsFormOf(prefix_, absolute);
            target = windows ? *windows : absolute.string();
            byHostPath = !windows;
            folder = absolute.parent_path();
            const std::string extension = ExtensionOf(program);
            if (extension != ".bat" && extension != ".cmd") kind = KindOf(host, extension == ".com");
            if (!kind.refusal.empty())
                return Status::Fail(L"cannot start " + name + L": " + kind.refusal);
        } else if (hasPath) {
            return Status::Fail(L"cannot start " + Naming(FromNarrow(program), host) +
                                L": the file does not exist");
        }
        const WineLookup wine = FindWine();
        if (!wine.loader)
            return Status::Fail(L"Wine is not installed: " + wine.whyMissing + L", so " + name +
                                L" could not be started");
        if (kind.is32Bit && !WineHas32BitSide(*wine.loader))
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
        if (byHostPath) request.arguments.push_back("/unix");
        request.arguments.push_back(target);
        GiveWineUtf8(target, request);
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
    const Watched watched = WaitAwhile(started.pid, kWatch);
    const std::string said = log >= 0 ? WhatItSaid(log) : std::string();
    if (log >= 0) close(log);
    if (!watched.ended) {
        WaitInBackground(started.pid, std::chrono::milliseconds(0), nullptr);
        return Status::Ok();
    }
    const std::optional<int> ended = watched.status;
    if (ended && WIFEXITED(*ended) && WEXITSTATUS(*ended) == 0) return Status::Ok();
    std::wstring why = !ended ? std::wstring(L"it ended at once")
                       : WIFEXITED(*ended)
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
