#pragma once
// launch/ owns starting programs: the game through Wine, watched for Wine's early failure,
// and the link opener. Here: starting programs without a shell, waiting for them off the
// caller's thread, and reading a Windows command line the way Windows itself splits one.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenbrook {

// The words of a Windows command line as CommandLineToArgvW gives them: the first word
// (the program) ends at its closing quote when it starts with one, else at a space or
// tab, and keeps backslashes as they are; the other words follow the quote and
// backslash rules. Leading blanks make an empty first word, as there.
std::vector<std::string> SplitWindowsCommandLine(std::string_view commandLine);

// The executable file that name leads to through $PATH, searched as execvp does (an
// empty entry is the current folder); nothing when there is none. Only bare names are
// searched: a name with a slash leads nowhere here.
std::optional<std::filesystem::path> FindInPath(std::string_view name);

struct SpawnRequest {
    std::filesystem::path program;       // the file to execute; relative to our folder
    std::vector<std::string> arguments;  // argv, argv[0] included
    std::vector<std::pair<std::string, std::string>> environment;  // set on top of ours
    std::vector<std::string> unset;                                 // left out of ours
    std::filesystem::path workingFolder;                           // empty: ours
    // When 0 or more: the program reads nothing and writes its output and errors here,
    // so it holds none of our standard descriptors (nor a caller's pipe) once started.
    int output = -1;
};

struct SpawnOutcome {
    pid_t pid = -1;               // the started process, or -1
    int error = 0;                // errno when it could not be started
    bool enteringFolder = false;  // the error came from entering workingFolder
};

// Starts the program in a session and process group of its own, so it outlives us and
// our terminal, never through a shell, with the standard descriptors and no other of
// ours. Returns once the program has replaced the child, or with the reason it could not.
SpawnOutcome Spawn(const SpawnRequest& request);

struct Watched {
    bool ended = false;            // false: still running when the time was up, and ours
    std::optional<int> status;     // its wait status, when it ended and that could be learned
};

// Waits up to limit for pid to end (it is reaped then). A pid the system reaps itself
// (SIGCHLD ignored) counts as ended once it is gone, never as running.
Watched WaitAwhile(pid_t pid, std::chrono::milliseconds limit);

// Waits for pid on a detached thread, so no zombie stays behind. done (when given) gets,
// there, how it ended, or that it runs on once answerWithin has passed; either way the
// thread then waits on for it.
void WaitInBackground(pid_t pid, std::chrono::milliseconds answerWithin,
                      std::function<void(Watched)> done);

}  // namespace quenbrook
