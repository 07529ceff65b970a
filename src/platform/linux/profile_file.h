#pragma once
// The game's INI file on disk: read whole, and replaced only atomically, so that a
// crash, a kill or a full disk at any moment leaves either the old file or the new one.
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

// Sets key in section of file to value, creating the section or the file when missing
// (never the folder). The file is replaced atomically and keeps its permission bits and
// owner; a symbolic link is written through to its target and stays a link. When the
// value is already there, nothing is touched. On failure the old file is left whole and
// the reason says why.
Status WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                         std::string_view key, std::string_view value);

}  // namespace quenbrook
