#pragma once
// How a command line names the program it starts, the way CreateProcess reads it. Both
// hosts start the game through this, so a line means the same program on each.
#include <functional>
#include <string>

namespace quenbrook {

struct ProgramLine {
    std::string commandLine;  // what CreateProcess gets: the program quoted, then the rest
    std::string program;      // the executable it names (the meant one when none exists)
    std::string arguments;    // the text after the program, blanks before it dropped
    std::string folder;       // the program's folder; empty when it names none
    bool found = false;       // whether isFile accepted the program
};

// Reads commandLine as CreateProcess does: a quoted program ends at its closing quote,
// with ".exe" added when only that names a file and it has no extension; an unquoted line is tried at each blank in turn, shortest first, until the text
// before the blank (or it with ".exe" added, when it has no extension) names a file.
// When nothing does, the program is the longest such prefix ending in ".exe", else a
// bare first word (one to search for), else the whole line: a failure names the path
// that was meant, not its first word.
ProgramLine SplitProgramLine(const std::string& commandLine,
                             const std::function<bool(const std::string&)>& isFile);

}  // namespace quenbrook
