#include "cli/command_line.h"

#include <langinfo.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string_view>

#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/wine_prefix/wine_paths.h"

namespace quenbrook {

const char kHelpText[] =
    "Usage: quenbrook [options]\n"
    "Sets simultaneous turns for Civ 2 multiplayer in the game's civ.ini (C:\\Windows\\civ.ini "
    "in the Wine prefix).\n"
    "Without options, opens the window.\n"
    "Exit status: 0 done, 1 failed, 2 wrong arguments.\n"
    "\n"
    "Options:\n"
    "  -h, --help      Displays help on commandline options.\n"
    "  --help-all      The same as --help.\n"
    "  -v, --version   Displays version information.\n"
    "  --status        Print the Wine prefix and how it was found, civ.ini's path,\n"
    "                  whether it holds Simultaneous=1, whether it is read-only, and\n"
    "                  the stored game path; exit 1 when the prefix or civ.ini is\n"
    "                  missing.\n"
    "  --enable        Write Simultaneous=1 into civ.ini.\n"
    "  --lock          With --enable: then make civ.ini read-only, so the game\n"
    "                  cannot drop the option when it quits.\n"
    "  --unlock        Make civ.ini writable again.\n"
    "  --launch        Start the stored game in its folder through Wine, watch it\n"
    "                  for 2 seconds and return: exit 1 with Wine's words when it\n"
    "                  fails at once. The game's output goes to\n"
    "                  $XDG_STATE_HOME/quenbrook/game.log.\n"
    "  --prefix <dir>  Use the Wine prefix in <dir> instead of $WINEPREFIX, ~/.wine\n"
    "                  or a launcher's; the window too.\n";

namespace {

// Every name an option answers to; only --prefix takes a value.
constexpr std::array<std::string_view, 11> kNames = {
    "h", "help", "help-all", "v", "version", "status", "enable", "lock", "unlock", "launch",
    "prefix"};

bool Known(std::string_view name) {
    return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

bool IsUtf8(const char* codeset) {
    return codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0);
}

// What was on the command line, before its meaning is looked at.
struct Scan {
    std::vector<std::string> found;      // option names, in order
    std::vector<std::string> prefixes;   // the values given to --prefix, in order
    std::vector<std::string> unknown;    // names no option has
    std::vector<std::string> positional;
    std::string error;                   // a value missing or not wanted; the last one counts
};

// name (known) as written in argument: takes its value from "=..." or the next argument.
void TakeValue(Scan& scan, const std::string& name, const std::string& argument,
               std::size_t& next, const std::vector<std::string>& arguments) {
    const std::size_t assign = argument.find('=');
    if (name != "prefix") {
        if (assign != std::string::npos)
            scan.error = "Unexpected value after '" + argument.substr(0, assign) + "'.";
        return;
    }
    if (assign != std::string::npos) {
        scan.prefixes.push_back(argument.substr(assign + 1));
    } else if (next < arguments.size()) {
        scan.prefixes.push_back(arguments[next++]);
    } else {
        scan.error = "Missing value after '" + argument + "'.";
    }
}

Scan ScanArguments(const std::vector<std::string>& arguments) {
    Scan scan;
    bool onlyPositional = false;
    std::size_t next = 0;
    while (next < arguments.size()) {
        const std::string& argument = arguments[next++];
        if (onlyPositional || argument.size() < 2 || argument[0] != '-') {
            scan.positional.push_back(argument);
        } else if (argument == "--") {
            onlyPositional = true;
        } else if (argument.starts_with("--")) {
            const std::string name = argument.substr(2, argument.find('=') - 2);
            if (!Known(name)) {
                scan.unknown.push_back(name);
                continue;
            }
            scan.found.push_back(name);
            TakeValue(scan, name, argument, next, arguments);
        } else {
            // Several one-letter options in one word, "-hv"; none takes a value.
            std::string name;
            for (std::size_t i = 1; i < argument.size(); ++i) {
                name = argument.substr(i, 1);
                if (!Known(name)) {
                    scan.unknown.push_back(name);
                    continue;
                }
                scan.found.push_back(name);
                if (i + 1 < argument.size() && argument[i + 1] == '=') break;
            }
            if (Known(name)) TakeValue(scan, name, argument, next, arguments);
        }
    }
    return scan;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

Arguments ParseArguments(const std::vector<std::string>& arguments) {
    Arguments result;
    auto usage = [&](const std::string& error) {
        result.mode = Arguments::Mode::Usage;
        result.error = error;
        return result;
    };
    const Scan scan = ScanArguments(arguments);
    if (!scan.error.empty()) return usage(scan.error);
    if (scan.unknown.size() == 1) return usage("Unknown option '" + scan.unknown[0] + "'.");
    if (scan.unknown.size() > 1) return usage("Unknown options: " + Joined(scan.unknown) + ".");
    if (!scan.positional.empty())
        return usage("unexpected argument '" + scan.positional[0] + "'");
    const auto given = [&](std::string_view a, std::string_view b = {}) {
        return std::any_of(scan.found.begin(), scan.found.end(),
                           [&](const std::string& name) { return name == a || name == b; });
    };
    // --help-all too: there are no toolkit options to add to it.
    if (given("h", "help") || given("help-all")) {
        result.mode = Arguments::Mode::Help;
        return result;
    }
    if (given("v", "version")) {
        result.mode = Arguments::Mode::Version;
        return result;
    }
    if (!scan.prefixes.empty()) {
        // The last one given wins, as with most programs.
        const std::string& dir = scan.prefixes.back();
        if (dir.empty()) return usage("--prefix needs a folder");
        // Absolute, because the game starts in its own folder with this prefix.
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
        result.prefix = ec ? dir : absolute.string();
    }
    result.request.status = given("status");
    result.request.enable = given("enable");
    result.request.lock = given("lock");
    result.request.unlock = given("unlock");
    result.request.launch = given("launch");
    if (result.request.any()) {
        // The reasons are ASCII, which converts in any locale.
        if (const std::wstring why = CheckRequest(result.request); !why.empty())
            return usage(ToNarrow(why).value_or("the options do not go together"));
        result.mode = Arguments::Mode::Cli;
    }
    return result;
}

void UseUtf8Locale() {
    std::setlocale(LC_ALL, "");
    if (IsUtf8(nl_langinfo(CODESET))) return;
    // Only the character conversions need it; messages and numbers keep the user's choice.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C.utf8");
}

void Print(std::ostream& stream, const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    // Character by character, so that one that cannot be written (a lone surrogate)
    // costs only itself.
    for (const wchar_t c : text) bytes += ToNarrow(std::wstring_view(&c, 1)).value_or("?");
    stream << bytes << std::flush;
}

FoundPrefix FindPrefix(const std::string& prefixOption) {
    const std::filesystem::path home = *Environment("HOME") ? Environment("HOME") : "/";
    FoundPrefix found;
    found.rememberIn = RememberedPrefixFile(home, Environment("XDG_CONFIG_HOME"));
    found.choice = ChoosePrefix(home, prefixOption, Environment("WINEPREFIX"),
                                ReadRememberedPrefix(found.rememberIn));
    return found;
}

int RunCommandLine(const CliRequest& request, const CivIniWhere& where) {
    // No window thread: callbacks run where they are posted.
    LinuxSystem system(WinePrefixFromEnvironment(), nullptr);
    std::wostringstream out;
    std::wostringstream err;
    const int code = RunCli(request, system, out, err, where);
    Print(std::cout, out.str());
    Print(std::cerr, err.str());
    return code;
}

}  // namespace quenbrook
