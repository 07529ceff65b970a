#pragma once
// civ_ini/ owns civ.ini on disk: the engine (profile_engine) reads it as Wine does and
// plans each write as one changed span, code_page says how its texts are encoded, and this
// file reads the bytes and writes them. A write replaces the file only when the new one can
// carry its owner, mode, ACL and attributes and it has no other name; otherwise it goes in
// place, with a recovery copy. Either way a save of the game's that races ours is not lost.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quenbrook {

// Every byte of file, following symbolic links; nothing when it is missing, a folder,
// not a regular file, unreadable or too large to hold in memory.
std::optional<std::string> ReadProfileFile(const std::filesystem::path& file);

// The value of key in section of file (see FindProfileValue); nothing when the key or
// the section is missing or the file cannot be read (as for ReadProfileFile).
std::optional<std::string> ReadProfileValue(const std::filesystem::path& file,
                                            std::string_view section, std::string_view key);

// A version of a file as stat shows it: same version, same bytes.
struct FileVersion {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modified = 0, changed = 0;  // nanoseconds
    bool operator==(const FileVersion&) const = default;
};

// What a write left on disk: the new file's version, and the value the game reads there.
struct WrittenFile {
    FileVersion version;
    std::string value;
};

// The version of file now (following links), or nothing when it cannot be looked at.
std::optional<FileVersion> CurrentVersion(const std::filesystem::path& file);

// Sets key in section of file to value, creating the section or the file when missing
// (never the folder). The file is replaced atomically and keeps its permission bits and
// owner; a symbolic link is written through to its target and stays a link. When the
// value is already there, nothing is touched. On failure the old file is left whole and
// the reason says why. The changed span is read back from the new file, and must hold
// the bytes planned, before the new file takes the old one's place; written, when given,
// then tells what is on disk (it stays untouched when nothing had to change).
Status WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                         std::string_view key, std::string_view value,
                         WrittenFile* written = nullptr);

}  // namespace quenbrook
