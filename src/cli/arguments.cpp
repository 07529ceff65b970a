#include "cli/arguments.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace quenbrook {

const char kHelpText[] =
    "Usage: quenbrook [options]\n"
    "Sets simultaneous turns for Civ 2 multiplayer in the game's civ.ini\n"
    "(C:\\Windows\\civ.ini; on Linux, in the Wine prefix the game is in).\n"
    "Without options, opens the window.\n"
    "\n"
    "Options:\n"
    "  -h, --help      Print this help and exit.\n"
    "  -v, --version   Print the version and exit.\n"
    "  --status        Print where civ.ini is (on Linux, in which Wine prefix, and\n"
    "                  how that was found), whether it holds Simultaneous=1, whether\n"
    "                  it is read-only, and the stored game path; exit 1 when the\n"
    "                  prefix or civ.ini is missing.\n"
    "  --enable        Write Simultaneous=1 into civ.ini. Silent when it succeeds.\n"
    "  --lock          With --enable: then make civ.ini read-only, so that the game\n"
    "                  cannot drop the option when it quits. Silent when it\n"
    "                  succeeds.\n"
    "  --unlock        Make civ.ini writable again. Runs before --enable, so\n"
    "                  '--unlock --enable' also works on a locked civ.ini.\n"
    "  --launch        Start the stored game in its folder. On Linux, watch it for\n"
    "                  2 seconds and return, exit 1 with the reason when it fails at\n"
    "                  once; the game's output goes to\n"
    "                  $XDG_STATE_HOME/quenbrook/game.log.\n"
    "  --show-failure  Also show a failure in a message window, for menus and\n"
    "                  launchers that have no terminal.\n"
    "  --prefix <dir>  On Linux: use the Wine prefix in <dir> instead of\n"
    "                  $WINEPREFIX, ~/.wine or a launcher's; the window too.\n"
    "\n"
    "The actions run in the order --unlock, --enable, --lock, --launch, --status;\n"
    "the first that fails ends the run.\n"
    "Exit status: 0 done, 1 failed, 2 wrong options.\n"
    "\n"
    "On Linux, when civ.ini must be written in place (it has a second name, another\n"
    "owner, or a folder closed to you), a copy named civ.ini.quenbrook-backup stays\n"
    "beside it, or in $XDG_STATE_HOME/quenbrook, until the new text is on disk; one\n"
    "left after a crash holds civ.ini as it was.\n";

const char kTryHelp[] = "Try 'quenbrook --help' for the options.";

namespace {

// Every name an option answers to; only --prefix takes a value. --help-all is what Qt's
// parser offered once: scripts may still pass it, so it stays, unlisted, as --help.
constexpr std::array<std::string_view, 12> kNames = {"h",       "help",   "help-all",     "v",
                                                     "version", "status", "enable",       "lock",
                                                     "unlock",  "launch", "show-failure", "prefix"};

bool Known(std::string_view name) {
    return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted.append(text);
    quoted += '\'';
    return quoted;
}

// What was on the command line, before its meaning is looked at.
struct Scan {
    std::vector<std::string> found;     // option names, in order
    std::vector<std::string> prefixes;  // the values given to --prefix, in order
    std::string error;                  // the first thing wrong
    void Fail(const std::string& why) {
        if (error.empty()) error = why;
    }
};

// name (known) as written in argument: takes its value from "=..." or the next argument.
void TakeValue(Scan& scan, const std::string& name, const std::string& argument, std::size_t& next,
               const std::vector<std::string>& arguments) {
    const std::size_t assign = argument.find('=');
    if (name != "prefix") {
        if (assign != std::string::npos)
            scan.Fail(Quoted(argument.substr(0, assign)) + " takes no value");
        return;
    }
    if (assign != std::string::npos) {
        scan.prefixes.push_back(argument.substr(assign + 1));
    } else if (next < arguments.size()) {
        scan.prefixes.push_back(arguments[next++]);
    } else {
        scan.prefixes.emplace_back();
    }
}

Scan ScanArguments(const std::vector<std::string>& arguments) {
    Scan scan;
    bool onlyPositional = false;
    std::size_t next = 0;
    while (next < arguments.size()) {
        const std::string& argument = arguments[next++];
        if (!onlyPositional && argument == "/?") {
            scan.found.push_back("help");
        } else if (onlyPositional || argument.size() < 2 || argument[0] != '-') {
            scan.Fail(Quoted(argument) + " is not an option");
        } else if (argument == "--") {
            onlyPositional = true;
        } else if (argument.starts_with("--")) {
            const std::string name = argument.substr(2, argument.find('=') - 2);
            if (!Known(name)) {
                scan.Fail(Quoted(argument.substr(0, argument.find('='))) + " is not an option");
                continue;
            }
            scan.found.push_back(name);
            TakeValue(scan, name, argument, next, arguments);
        } else {
            // Several one-letter options in one word, "-hv"; none takes a value.
            for (std::size_t i = 1; i < argument.size(); ++i) {
                const std::string name = argument.substr(i, 1);
                if (!Known(name)) {
                    scan.Fail(Quoted(argument.substr(0, 1) + name) + " is not an option");
                    break;
                }
                scan.found.push_back(name);
                if (i + 1 < argument.size() && argument[i + 1] == '=') {
                    TakeValue(scan, name, argument.substr(0, 1).append(argument, i), next,
                              arguments);
                    break;
                }
            }
        }
    }
    return scan;
}

}  // namespace

Arguments ParseArguments(const std::vector<std::string>& arguments, bool winePrefix) {
    Arguments result;
    auto usage = [&](const std::string& error) {
        result.mode = Arguments::Mode::Usage;
        result.error = error;
        return result;
    };
    const Scan scan = ScanArguments(arguments);
    const auto given = [&](std::string_view a, std::string_view b = {}) {
        return std::any_of(scan.found.begin(), scan.found.end(),
                           [&](const std::string& name) { return name == a || name == b; });
    };
    if (!scan.error.empty()) return usage(scan.error);
    // Help and version answer whatever else is there, as they did under Qt's parser.
    if (given("h", "help") || given("help-all")) {
        result.mode = Arguments::Mode::Help;
        return result;
    }
    if (given("v", "version")) {
        result.mode = Arguments::Mode::Version;
        return result;
    }
    if (!scan.prefixes.empty()) {
        if (!winePrefix)
            return usage(
                "'--prefix' chooses a Wine prefix on Linux; this program uses the "
                "civ.ini of the Windows it runs on");
        // The last one given wins, as with most programs.
        result.prefix = scan.prefixes.back();
        if (result.prefix.empty()) return usage("'--prefix' needs a folder");
    }
    CliRequest& request = result.request;
    request.status = given("status");
    request.enable = given("enable");
    request.lock = given("lock");
    request.unlock = given("unlock");
    request.launch = given("launch");
    request.showFailure = given("show-failure");
    if (request.lock && !request.enable) return usage("'--lock' goes with '--enable'");
    if (request.lock && request.unlock)
        return usage("'--lock' and '--unlock' contradict each other");
    if (request.any()) result.mode = Arguments::Mode::Cli;
    return result;
}

}  // namespace quenbrook
