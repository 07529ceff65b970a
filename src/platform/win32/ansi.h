#pragma once
// Texts between the program (UTF-16) and the ANSI calls of Windows, which take the
// system's ANSI code page. Win32 headers stay inside the .cpp.
#include <optional>
#include <string>
#include <string_view>

namespace quenbrook {

// text in the ANSI code page, or nothing when the code page cannot represent all of it
// (no best-fit substitutes, no '?').
std::optional<std::string> ToAnsi(std::wstring_view text);

// text in the ANSI code page for display only: what cannot be represented becomes '?'.
std::string ToAnsiForDisplay(std::wstring_view text);

// ANSI code page bytes back to UTF-16.
std::wstring FromAnsi(std::string_view text);

// The system's own sentence for an error code, without the trailing line break and with
// insert in place of its "%1" (some sentences name the file they are about that way);
// "error N" when the system has none.
std::wstring ErrorText(unsigned long code, const std::wstring& insert = std::wstring());

// The reason used when a text does not fit the ANSI code page.
inline constexpr const wchar_t* kNotInCodePage =
    L"it contains characters that this system's ANSI code page cannot represent";

}  // namespace quenbrook
