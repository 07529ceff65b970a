#pragma once
// The command line of quenbrook.exe: the same options as on Linux, read from the
// process's own arguments and answered on the console or pipe that started it.
#include <string>
#include <vector>

#include "cli/cli.h"

namespace quenbrook {

struct ParsedArguments {
    CliRequest request;
    bool help = false;
    bool version = false;
    std::wstring error;  // not empty: the arguments are not understood
};

// What the arguments (without the program's name) ask for.
ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments);

// The --help text.
std::wstring UsageText();

// Carries out the arguments, writes to standard output and error, returns the exit code.
int RunCommandLine(const std::vector<std::wstring>& arguments, SystemCalls& system);

}  // namespace quenbrook
