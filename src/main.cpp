// Quenbrook: sets simultaneous turns for Civ 2 multiplayer in the game's civ.ini.
// Without arguments it is the window; with options it is a command for launchers and
// scripts, which needs no display. This program links no window toolkit: the window is
// a module loaded only when it is wanted, so the command line starts in a millisecond
// instead of waiting for Qt's forty libraries to bind.
#include <dlfcn.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace {

// Beside the program in the build folder; installed, QUENBROOK_MODULE_DIR from the
// program's folder (../lib/<triplet>/quenbrook), so the installed tree can move. Nothing
// when the program's folder is unknown: a path relative to the working folder could load
// anyone's code.
std::filesystem::path WindowModule() {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !program.is_absolute()) return {};
    const std::filesystem::path folder = program.parent_path();
    const std::filesystem::path beside = folder / QUENBROOK_WINDOW_MODULE;
    if (std::filesystem::exists(beside, ec)) return beside;
    return (folder / QUENBROOK_MODULE_DIR / QUENBROOK_WINDOW_MODULE).lexically_normal();
}

// The window module's entry named entry, with why it cannot be had on failure.
void* WindowEntry(const char* entry, std::string& why) {
    // Without a display Qt aborts with advice about reinstalling; say what is wrong.
    if (!*quenbrook::Environment("QT_QPA_PLATFORM") && !*quenbrook::Environment("DISPLAY") &&
        !*quenbrook::Environment("WAYLAND_DISPLAY")) {
        why = "no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set)";
        return nullptr;
    }
    const std::filesystem::path module = WindowModule();
    if (module.empty()) {
        why = "cannot find the window module: the program's own folder is unknown "
              "(/proc/self/exe)";
        return nullptr;
    }
    // Never closed: Qt's exit handlers run from it after the window returns.
    void* handle = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    void* found = handle ? dlsym(handle, entry) : nullptr;
    if (!found) why = "cannot load the window from " + module.string() + ": " + dlerror();
    return found;
}

int RunWindow(int argc, char* argv[], const std::string& prefixOption) {
    std::string why;
    const auto run = reinterpret_cast<quenbrook::RunWindowEntry>(
        WindowEntry(quenbrook::kRunWindowEntry, why));
    if (!run) {
        std::cerr << "quenbrook: " << why
                  << "; the command line works without it, see 'quenbrook --help'\n";
        return quenbrook::kExitFailed;
    }
    return run(argc, argv, prefixOption.c_str());
}

// A menu's action has no terminal: its failure shows in a message window too, when
// there is a display to show it on. The text has already gone to standard error.
void ShowFailure(int argc, char* argv[], const std::wstring& text) {
    std::string why;
    const auto show = reinterpret_cast<quenbrook::ShowFailureEntry>(
        WindowEntry(quenbrook::kShowFailureEntry, why));
    if (show)
        show(argc, argv, quenbrook::Narrowed(quenbrook::ForAWindow(text)).c_str());
    else
        std::cerr << "quenbrook: the failure cannot be shown in a window: " << why << '\n';
}

// The command line on the prefix the player's civ.ini is in.
int RunCommandLine(int argc, char* argv[], const quenbrook::Arguments& parsed) {
    quenbrook::UseUtf8Locale();
    // Before anything reads it, so that the command line and the game see the same
    // prefix. The command line does not guess between prefixes: it names them.
    const quenbrook::FoundPrefix found = quenbrook::FindPrefix(parsed.prefix);
    std::wstring errors;
    int code = quenbrook::kExitFailed;
    if (found.choice.prefix.empty()) {
        errors = L"quenbrook: " + quenbrook::SeveralPrefixesMessage(found.choice.candidates);
        quenbrook::Print(std::cerr, errors);
    } else {
        setenv("WINEPREFIX", found.choice.prefix.c_str(), 1);
        code = quenbrook::RunCommandLine(parsed.request,
                                         quenbrook::DescribeChoice(found.choice, found.home), errors);
    }
    if (code != quenbrook::kExitDone && parsed.request.showFailure) ShowFailure(argc, argv, errors);
    return code;
}

}  // namespace

int main(int argc, char* argv[]) {
    // A parent that ignores SIGCHLD passes that on, and the system would then reap the
    // game before our watch could learn how it ended.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &defaults, nullptr);
    using Mode = quenbrook::Arguments::Mode;
    const quenbrook::Arguments parsed = quenbrook::ParseArguments(
        std::vector<std::string>(argv + std::min(argc, 1), argv + argc), /*winePrefix=*/true);

    switch (parsed.mode) {
    case Mode::Window:
        return RunWindow(argc, argv, parsed.prefix);
    case Mode::Cli:
        return RunCommandLine(argc, argv, parsed);
    case Mode::Help:
        std::cout << quenbrook::kHelpText;
        return quenbrook::kExitDone;
    case Mode::Version:
        std::cout << "quenbrook " << quenbrook::kVersion << '\n';
        return quenbrook::kExitDone;
    case Mode::Usage:
        std::cerr << "quenbrook: " << parsed.error << '\n' << quenbrook::kTryHelp << '\n';
        return quenbrook::kExitUsage;
    }
    return quenbrook::kExitFailed;
}
