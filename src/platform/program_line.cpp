#include "platform/program_line.h"

#include <string_view>

namespace quenbrook {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string FolderOf(const std::string& program) {
    const std::size_t slash = program.find_last_of("\\/");
    if (slash == std::string::npos) {
        // "C:civ2.exe" is relative to drive C's current folder; keep the drive.
        if (program.size() >= 2 && program[1] == ':') return program.substr(0, 2);
        return std::string();
    }
    std::string folder = program.substr(0, slash);
    // "C:\civ2.exe" lives in the root "C:\", not in the drive-relative "C:".
    if (folder.empty() || (folder.size() == 2 && folder[1] == ':')) folder += '\\';
    return folder;
}

bool HasExtension(std::string_view program) {
    const std::size_t dot = program.rfind('.');
    return dot != std::string_view::npos && program.find_first_of("\\/", dot) == std::string_view::npos;
}

bool EndsInExe(std::string_view program) {
    if (program.size() < 4) return false;
    std::string tail(program.substr(program.size() - 4));
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return tail == ".exe";
}

std::string RestAfter(const std::string& line, std::size_t at) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    return at < line.size() ? line.substr(at) : std::string();
}

}  // namespace

ProgramLine SplitProgramLine(const std::string& commandLine,
                             const std::function<bool(const std::string&)>& isFile) {
    ProgramLine line;
    if (commandLine.empty()) return line;
    if (commandLine.front() == '"') {
        const std::size_t close = commandLine.find('"', 1);
        line.program = commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        line.arguments = close == std::string::npos ? std::string() : RestAfter(commandLine, close + 1);
        line.found = isFile(line.program);
        // CreateProcess tries ".exe" on a quoted name too.
        if (!line.found && !HasExtension(line.program) && isFile(line.program + ".exe")) {
            line.program += ".exe";
            line.found = true;
        }
    } else {
        std::size_t end = 0;
        std::string meant;
        std::size_t meantEnd = std::string::npos;
        while (true) {
            end = commandLine.find_first_of(" \t", end);
            const std::string candidate = commandLine.substr(0, end);
            if (isFile(candidate)) {
                line.program = candidate;
                line.found = true;
            } else if (!HasExtension(candidate) && isFile(candidate + ".exe")) {
                line.program = candidate + ".exe";
                line.found = true;
            } else if (EndsInExe(candidate)) {
                meant = candidate;
                meantEnd = end;
            }
            if (line.found || end == std::string::npos) break;
            while (end < commandLine.size() && IsBlank(commandLine[end])) ++end;
        }
        if (!line.found && meant.empty()) {
            // A bare name is one word, to be searched for; a path may hold blanks.
            const std::size_t blank = commandLine.find_first_of(" \t");
            const std::string first = commandLine.substr(0, blank);
            if (first.find_first_of("\\/:") == std::string::npos) {
                meant = first;
                meantEnd = blank;
            } else {
                meant = commandLine;
            }
        }
        if (!line.found) {
            line.program = meant;
            end = meantEnd;
        }
        line.arguments = end == std::string::npos ? std::string() : RestAfter(commandLine, end);
    }
    line.commandLine = '"' + line.program + '"';
    if (!line.arguments.empty()) line.commandLine += ' ' + line.arguments;
    line.folder = FolderOf(line.program);
    return line;
}

}  // namespace quenbrook
