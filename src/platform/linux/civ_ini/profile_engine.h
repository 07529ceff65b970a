#pragma once
// The profile calls (GetPrivateProfileStringA, WritePrivateProfileStringA) as the game
// sees them under Wine, worked on the raw bytes of an INI file: a UTF-8 byte-order mark,
// lines above the first header, ';' names and broken headers read as Wine reads them.
// Writing never reformats: it changes one span of bytes and leaves every other byte of
// the game's file as it was. Standard library only.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quenbrook {

// One change to a file's bytes: the `erase` bytes at `offset` give way to `insert`.
struct ProfileEdit {
    std::size_t offset = 0;
    std::size_t erase = 0;
    std::string insert;
    // Where the line of the key's section header begins, at or before offset. Everything
    // before it is unchanged, so reading from there shows what the game will read.
    std::size_t section = 0;
};

// The end of the line that edit leaves the key on, in the edited content.
std::size_t EditedLineEnd(std::string_view content, const ProfileEdit& edit);

// The line break that new lines in content take: the first one content has
// ("\r\n", "\n" or "\r"), or "\r\n" when it has none yet.
std::string_view ProfileLineBreak(std::string_view content);

// The value of key in section of content as the game reads it (trimmed, up to a NUL, one
// pair of matching quotes removed), or nothing when the section or the key is missing or
// the key's first line has no '='. section and key lose leading and trailing blanks.
std::optional<std::string_view> FindProfileValue(std::string_view content, std::string_view section,
                                                 std::string_view key);

// Ok when section, key and value can be written as one readable line each; otherwise
// the reason they would break the file (line breaks, NUL, '=' in a key, ...).
Status CheckProfileWrite(std::string_view section, std::string_view key, std::string_view value);

// The edit that makes key in section read as value, or nothing when it already does.
// The arguments must have passed CheckProfileWrite.
std::optional<ProfileEdit> PlanProfileWrite(std::string_view content, std::string_view section,
                                            std::string_view key, std::string_view value);

// content with edit made.
std::string ApplyProfileEdit(std::string_view content, const ProfileEdit& edit);

}  // namespace quenbrook
