#include "platform/win32/program_line.h"

namespace quenbrook {

namespace {

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

}  // namespace

ProgramLine SplitProgramLine(const std::string& commandLine,
                             const std::function<bool(const std::string&)>& isFile) {
    ProgramLine line;
    if (commandLine.empty()) return line;
    const bool quoted = commandLine.front() == '"';
    if (!quoted && isFile(commandLine)) {
        line.program = commandLine;
        line.commandLine = '"' + commandLine + '"';
    } else if (quoted) {
        const std::size_t close = commandLine.find('"', 1);
        line.program = commandLine.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        line.commandLine = commandLine;
    } else {
        line.program = commandLine.substr(0, commandLine.find_first_of(" \t"));
        line.commandLine = commandLine;
    }
    line.folder = FolderOf(line.program);
    return line;
}

}  // namespace quenbrook
