#pragma once
// The encoding Wine uses for civ.ini: the one its byte-order mark names, else the ANSI
// code page of the prefix's Windows programs. Texts go into the file in that encoding and
// come out of it from that encoding, so the game, the Windows build and we read alike.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quenbrook {

// The value of "ACP" under System\CurrentControlSet\Control\Nls\CodePage in the text of
// a prefix's system.reg, or nothing when it is not there.
std::optional<unsigned> CodePageFromRegistry(std::string_view systemReg);

// The ANSI code page Wine derives from a locale name such as "de_DE.UTF-8" (its language
// and country); 1252 for C, POSIX and anything unknown.
unsigned CodePageFromLocale(std::string_view locale);

// The ANSI code page of prefix: its system.reg's, else the one Wine derives from the
// locale in the environment (LC_ALL, LC_CTYPE, LANG).
unsigned PrefixCodePage(const std::filesystem::path& prefix);

// The iconv name of the encoding Wine reads a file in, from the file's first bytes:
// "UTF-8" after a UTF-8 mark, "UTF-16LE" or "UTF-16BE" after theirs, else the code page.
std::string FileEncoding(std::string_view head, unsigned codePage);

// text in encoding, or nothing when some character has no place in it (never '?').
std::optional<std::string> Encode(std::wstring_view text, const std::string& encoding);

// bytes in encoding as text; a byte that does not decode is taken as Latin-1, as Wine
// maps the code page's holes, so any file still reads as something.
std::wstring Decode(std::string_view bytes, const std::string& encoding);

// A UTF-16 file (with its mark) as UTF-8 without one, read as Wine reads it: whole 16-bit
// units only (an odd last byte is left out), and a lone surrogate kept (in the three-byte
// form WTF-8 gives it) so that it goes back as it was.
std::string Utf16ToUtf8(std::string_view utf16);
// And back, with the mark of encoding ("UTF-16LE" or "UTF-16BE"); nothing when utf8 is
// not UTF-8 (lone surrogates allowed).
std::optional<std::string> Utf8ToUtf16(std::string_view utf8, const std::string& encoding);

}  // namespace quenbrook
