#pragma once
// The program's arguments, its help and its usage errors: one parser and one set of
// words for both builds. Standard library only; the hosts print what it returns.
#include <string>
#include <vector>

#include "platform/request.h"

namespace quenbrook {

inline constexpr char kVersion[] = "1.00";

struct Arguments {
    enum class Mode { Window, Cli, Help, Version, Usage };
    Mode mode = Mode::Window;
    CliRequest request;
    std::string prefix;  // the Wine prefix chosen with --prefix, as given; empty: none chosen
    std::string error;   // Usage: what is wrong with the arguments
};

// arguments: without the program's name, in UTF-8 (Windows) or the locale's bytes
// (Linux). --name=value or --name value, several one-letter options in one word ("-hv"),
// "--" ends the options, "/?" asks for help as Windows programs do. winePrefix: the host
// runs the game under Wine, so --prefix means something.
Arguments ParseArguments(const std::vector<std::string>& arguments, bool winePrefix);

// The --help text.
extern const char kHelpText[];

// What follows a usage error.
extern const char kTryHelp[];

}  // namespace quenbrook
