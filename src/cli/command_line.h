#pragma once
// The Linux host of the command line, with the standard library only: `quenbrook
// --enable` in a launcher must not wait for the window toolkit to load.
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "platform/linux/wine_prefix/prefix_discovery.h"

namespace quenbrook {

// An environment variable's value; empty when it is not set.
const char* Environment(const char* name);

// Makes the C library convert wide text as UTF-8: the user's locale when its codeset
// is UTF-8, else C.UTF-8 (paths and civ.ini bytes go through wcrtomb and mbrtowc).
void UseUtf8Locale();

// Wide text as UTF-8 once UseUtf8Locale has run; a character that cannot be converted
// becomes "?".
std::string Narrowed(const std::wstring& text);

// Wide text on standard output or error, as Narrowed gives it.
void Print(std::ostream& stream, const std::wstring& text);

// The prefix for prefixOption (empty: none given), WINEPREFIX and the remembered answer
// under HOME or XDG_CONFIG_HOME, and where the window keeps a new answer.
struct FoundPrefix {
    PrefixChoice choice;
    std::filesystem::path rememberIn;
    std::filesystem::path home;
};
FoundPrefix FindPrefix(const std::string& prefixOption);

// Carries out a command-line request against the Wine prefix in the environment and
// prints what it has to say as UTF-8; what went to standard error also goes to errors.
// Returns the exit code.
int RunCommandLine(const CliRequest& request, const CivIniWhere& where, std::wstring& errors);

// The window module's entry for a failure the command line shows in a message window
// (text in UTF-8); returns once the window is closed.
using ShowFailureEntry = void (*)(int argc, char** argv, const char* text);
inline constexpr char kShowFailureEntry[] = "quenbrook_show_failure";

// The window module's one entry: opens the window, settling the prefix first, and
// returns the exit code. prefixOption as for FindPrefix.
using RunWindowEntry = int (*)(int argc, char** argv, const char* prefixOption);
inline constexpr char kRunWindowEntry[] = "quenbrook_run_window";

}  // namespace quenbrook
