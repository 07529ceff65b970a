#pragma once
// The console side of quenbrook.exe's command line: its arguments as UTF-8 for the
// shared parser, and text for the console or pipe that started it.
#include <string>
#include <vector>

namespace quenbrook {

// The process's arguments, without the program's name, in UTF-8.
std::vector<std::string> ArgumentsInUtf8();

// UTF-8 text, such as the shared parser's, as wide text.
std::wstring FromUtf8(const std::string& text);

// Writes text to standard output (or error): a console takes it as UTF-16, a pipe or
// file gets the ANSI code page; either way with Windows' line ends.
void WriteOut(const std::wstring& text);
void WriteErr(const std::wstring& text);

}  // namespace quenbrook
