#pragma once
// How a command line names the program it starts, the way CreateProcess reads it.
#include <functional>
#include <string>

namespace quenbrook {

struct ProgramLine {
    std::string commandLine;  // what CreateProcess gets
    std::string program;      // the executable it names
    std::string folder;       // the executable's folder; empty when it names none
};

// Splits commandLine: when the whole text names an existing file it is that program
// (quoted, since a path with blanks would otherwise end at the first blank); otherwise
// the program is the first word by Windows' rules (a quoted run, or up to a blank).
ProgramLine SplitProgramLine(const std::string& commandLine,
                             const std::function<bool(const std::string&)>& isFile);

}  // namespace quenbrook
