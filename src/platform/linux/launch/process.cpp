#include "platform/linux/launch/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

extern char** environ;

namespace quenbrook {
namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What the child reports through the pipe when it could not become the program.
struct ChildFailure {
    int enteringFolder;
    int error;
};

[[noreturn]] void ReportAndExit(int pipeFd, bool enteringFolder, int error) {
    const ChildFailure failure{enteringFolder ? 1 : 0, error};
    // One write below PIPE_BUF arrives whole; there is nobody to tell if it fails.
    [[maybe_unused]] ssize_t written = write(pipeFd, &failure, sizeof failure);
    _exit(127);
}

void SetCloseOnExec(int fd) {
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// Descriptors that a library opened without close-on-exec would otherwise live on in
// the game for as long as it runs. Launchers raise the limit far (a million, for
// Wine's esync), so without close_range the open ones are listed rather than every
// number tried; getdents64 on a buffer of our own is safe between fork and exec.
void CloseOnExecAboveStandard() {
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    const int list = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list >= 0) {
        alignas(dirent64) char buffer[4096];
        long got;
        while ((got = syscall(SYS_getdents64, list, buffer, sizeof buffer)) > 0) {
            for (long at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
                int fd = entry->d_name[0] >= '0' && entry->d_name[0] <= '9' ? 0 : -1;
                for (const char* c = entry->d_name; *c && fd >= 0; ++c)
                    fd = *c >= '0' && *c <= '9' ? fd * 10 + (*c - '0') : -1;
                if (fd > 2 && fd != list) SetCloseOnExec(fd);
                at += entry->d_reclen;
            }
        }
        close(list);
        if (got == 0) return;
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return;
    for (rlim_t fd = 3; fd < limit.rlim_cur; ++fd) SetCloseOnExec(static_cast<int>(fd));
}

}  // namespace

std::vector<std::string> SplitWindowsCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();

    // The program: Windows paths are full of backslashes that mean nothing special.
    std::string program;
    if (i < n && line[i] == '"') {
        ++i;
        while (i < n && line[i] != '"') program.push_back(line[i++]);
        if (i < n) ++i;
    } else {
        while (i < n && !IsBlank(line[i])) program.push_back(line[i++]);
    }
    words.push_back(std::move(program));

    while (i < n && IsBlank(line[i])) ++i;
    if (i == n) return words;

    std::string word;
    std::size_t backslashes = 0;
    int quotes = 0;  // odd while inside quotes; counts a run of quotes the way Windows does
    while (i < n) {
        const char c = line[i];
        if (IsBlank(c) && quotes == 0) {
            words.push_back(std::move(word));
            word.clear();
            backslashes = 0;
            while (i < n && IsBlank(line[i])) ++i;
            if (i == n) return words;
        } else if (c == '\\') {
            word.push_back(c);
            ++backslashes;
            ++i;
        } else if (c == '"') {
            if (backslashes % 2 == 0) {
                // 2n backslashes and a quote: n backslashes, and the quote toggles quoting.
                word.resize(word.size() - backslashes / 2);
                ++quotes;
            } else {
                // 2n+1 backslashes and a quote: n backslashes and a literal quote.
                word.resize(word.size() - backslashes / 2 - 1);
                word.push_back('"');
            }
            ++i;
            backslashes = 0;
            // In a run of quotes every third one is literal, as CommandLineToArgvW reads it.
            while (i < n && line[i] == '"') {
                if (++quotes == 3) {
                    word.push_back('"');
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) quotes = 0;
        } else {
            word.push_back(c);
            backslashes = 0;
            ++i;
        }
    }
    words.push_back(std::move(word));
    return words;
}

std::optional<fs::path> FindInPath(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
    // execvp's own search when PATH is unset.
    const char* path = std::getenv("PATH");
    const std::string search = path ? path : "/bin:/usr/bin";
    std::size_t start = 0;
    while (true) {
        const std::size_t end = search.find(':', start);
        const std::string folder =
            search.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const fs::path candidate = (folder.empty() ? fs::path(".") : fs::path(folder)) / name;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos) return std::nullopt;
        start = end + 1;
    }
}

SpawnOutcome Spawn(const SpawnRequest& request) {
    // Everything the child touches is built here: between fork and exec it may only make
    // async-signal-safe calls, and so allocates nothing.
    const std::string program = request.program.string();
    const std::string folder = request.workingFolder.string();

    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [setName, value] : request.environment) replaced |= (name == setName);
        for (const std::string& unsetName : request.unset) replaced |= (name == unsetName);
        if (!replaced) environment.emplace_back(text);
    }
    for (const auto& [name, value] : request.environment) environment.push_back(name + "=" + value);

    std::vector<char*> argv;
    for (const std::string& argument : request.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    int nothing = -1;
    if (request.output >= 0 && (nothing = open("/dev/null", O_RDONLY | O_CLOEXEC)) < 0)
        return {-1, errno, false};
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        const int error = errno;
        if (nothing >= 0) close(nothing);
        return {-1, error, false};
    }

    // No handler of ours may run in the child before exec: block everything across fork.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);

    const pid_t pid = fork();
    if (pid == 0) {
        // The program gets the defaults a freshly started one expects, not what we
        // ignore (SIGPIPE) or block.
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int number = 1; number < NSIG; ++number) sigaction(number, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);

        setsid();
        if (request.output >= 0 &&
            (dup2(nothing, 0) < 0 || dup2(request.output, 1) < 0 || dup2(request.output, 2) < 0))
            ReportAndExit(report[1], false, errno);
        if (!folder.empty() && chdir(folder.c_str()) != 0) ReportAndExit(report[1], true, errno);
        CloseOnExecAboveStandard();
        execve(program.c_str(), argv.data(), envp.data());
        ReportAndExit(report[1], false, errno);
    }

    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    close(report[1]);
    if (nothing >= 0) close(nothing);
    if (pid < 0) {
        close(report[0]);
        return {-1, forkError, false};
    }

    // End of file means exec succeeded and closed the pipe; a report means it did not.
    ChildFailure failure{};
    ssize_t got = 0;
    do {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);

    if (got == static_cast<ssize_t>(sizeof failure)) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return {-1, failure.error, failure.enteringFolder != 0};
    }
    return {pid, 0, false};
}

Watched WaitAwhile(pid_t pid, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    bool ours = true;
    while (true) {
        int status = 0;
        const pid_t result = ours ? waitpid(pid, &status, WNOHANG) : 0;
        if (result == pid) return {true, status};
        // A parent that ignores SIGCHLD hands that to us, and the system then reaps our
        // children itself: one that is gone has ended, how is not known.
        if (result < 0 && errno == ECHILD) ours = false;
        if (!ours && kill(pid, 0) != 0 && errno == ESRCH) return {true, std::nullopt};
        if (std::chrono::steady_clock::now() >= until) return {false, std::nullopt};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void WaitInBackground(pid_t pid, std::chrono::milliseconds answerWithin,
                      std::function<void(Watched)> done) {
    auto wait = [pid, answerWithin, done = std::move(done)] {
        const Watched watched = WaitAwhile(pid, answerWithin);
        if (done) done(watched);
        if (watched.ended) return;
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    };
    try {
        std::thread(wait).detach();
    } catch (const std::system_error&) {
        // No thread to be had: waiting here is late but still tells the outcome.
        wait();
    }
}

}  // namespace quenbrook
