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

int RunWindow(int argc, char* argv[], const std::string& prefixOption) {
    // Without a display Qt aborts with advice about reinstalling; say what is wrong.
    if (!*quenbrook::Environment("QT_QPA_PLATFORM") && !*quenbrook::Environment("DISPLAY") &&
        !*quenbrook::Environment("WAYLAND_DISPLAY")) {
        std::cerr << "quenbrook: no display to show the window on (DISPLAY and WAYLAND_DISPLAY "
                     "are not set); the command line works without one, see 'quenbrook --help'\n";
        return quenbrook::kExitFailed;
    }
    const std::filesystem::path module = WindowModule();
    if (module.empty()) {
        std::cerr << "quenbrook: cannot find the window module: the program's own folder is "
                     "unknown (/proc/self/exe); the command line works without it\n";
        return quenbrook::kExitFailed;
    }
    // Never closed: Qt's exit handlers run from it after the window returns.
    void* handle = dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
    const auto run = handle ? reinterpret_cast<quenbrook::RunWindowEntry>(
                                  dlsym(handle, quenbrook::kRunWindowEntry))
                            : nullptr;
    if (!run) {
        std::cerr << "quenbrook: cannot load the window from " << module.string() << ": "
                  << dlerror() << "; the command line works without it, see 'quenbrook --help'\n";
        return quenbrook::kExitFailed;
    }
    return run(argc, argv, prefixOption.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
    // A parent that ignores SIGCHLD passes that on, and the system would then reap the
    // game before our watch could learn how it ended.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &defaults, nullptr);
    using Mode = quenbrook::Arguments::Mode;
    const quenbrook::Arguments parsed =
        quenbrook::ParseArguments(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));

    switch (parsed.mode) {
    case Mode::Window:
        return RunWindow(argc, argv, parsed.prefix);
    case Mode::Cli: {
        quenbrook::UseUtf8Locale();
        // Before anything reads it, so that the command line and the game see the same
        // prefix. The command line does not guess between prefixes: it names them.
        const quenbrook::PrefixChoice choice = quenbrook::FindPrefix(parsed.prefix).choice;
        if (choice.prefix.empty()) {
            quenbrook::Print(std::cerr,
                             L"quenbrook: " + quenbrook::SeveralPrefixesMessage(choice.candidates));
            return quenbrook::kExitFailed;
        }
        setenv("WINEPREFIX", choice.prefix.c_str(), 1);
        return quenbrook::RunCommandLine(parsed.request, quenbrook::DescribeChoice(choice));
    }
    case Mode::Help:
        std::cout << quenbrook::kHelpText;
        return quenbrook::kExitDone;
    case Mode::Version:
        std::cout << "quenbrook " << quenbrook::kVersion << '\n';
        return quenbrook::kExitDone;
    case Mode::Usage:
        std::cerr << "quenbrook: " << parsed.error
                  << "\nTry 'quenbrook --help' for the options.\n";
        return quenbrook::kExitUsage;
    }
    return quenbrook::kExitFailed;
}
