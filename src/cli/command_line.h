#pragma once
// The Linux program's arguments and its command line, with the standard library only:
// `quenbrook --enable` in a launcher must not wait for the window toolkit to load.
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/linux/wine_prefix/prefix_discovery.h"

namespace quenbrook {

inline constexpr char kVersion[] = "1.00";

struct Arguments {
    enum class Mode { Window, Cli, Help, Version, Usage };
    Mode mode = Mode::Window;
    CliRequest request;
    std::string prefix;  // the Wine prefix chosen with --prefix, absolute; empty: none chosen
    std::string error;   // Usage: what is wrong with the arguments
};

// arguments: argv without the program's name. Reads them as Qt's QCommandLineParser
// did, whose wording scripts have seen: --name=value or --name value, -hv, "--" ends
// the options.
Arguments ParseArguments(const std::vector<std::string>& arguments);

// An environment variable's value; empty when it is not set.
const char* Environment(const char* name);

// The --help text.
extern const char kHelpText[];

// Makes the C library convert wide text as UTF-8: the user's locale when its codeset
// is UTF-8, else C.UTF-8 (paths and civ.ini bytes go through wcrtomb and mbrtowc).
void UseUtf8Locale();

// Wide text on standard output or error, as UTF-8 once UseUtf8Locale has run.
void Print(std::ostream& stream, const std::wstring& text);

// The prefix for prefixOption (empty: none given), WINEPREFIX and the remembered answer
// under HOME or XDG_CONFIG_HOME, and where the window keeps a new answer.
struct FoundPrefix {
    PrefixChoice choice;
    std::filesystem::path rememberIn;
};
FoundPrefix FindPrefix(const std::string& prefixOption);

// Carries out a command-line request against the Wine prefix in the environment and
// prints what it has to say as UTF-8. Returns the exit code.
int RunCommandLine(const CliRequest& request, const CivIniWhere& where = {});

// The window module's one entry: opens the window, settling the prefix first, and
// returns the exit code. prefixOption as for FindPrefix.
using RunWindowEntry = int (*)(int argc, char** argv, const char* prefixOption);
inline constexpr char kRunWindowEntry[] = "quenbrook_run_window";

}  // namespace quenbrook
