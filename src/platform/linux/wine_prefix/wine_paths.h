#pragma once
// wine_prefix/ owns the Wine prefix: where Windows paths lead under Wine (here: drive
// letters map into the prefix, each component matched whatever its letter case, as Wine
// does) and which prefix holds the player's civ.ini (prefix_discovery).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quenbrook {

// $WINEPREFIX when set and not empty, else ~/.wine.
std::filesystem::path WinePrefixFromEnvironment();

// Whether text is a Windows path ("C:\...", "c:/...", "\\...").
bool IsWindowsPath(std::string_view text);

// The host path that windowsPath (narrow, "X:\a\b") leads to in prefix. Drive C is the
// prefix's dosdevices/c: when present, else drive_c; other drives only through
// dosdevices. Each component that exists in some letter case is taken as it exists;
// the first one that does not is kept as written, with the rest. Nothing is created.
std::filesystem::path MapWindowsPath(const std::filesystem::path& prefix,
                                     std::string_view windowsPath);

// The Windows form of a host file, as `winepath -w` gives it: the drive whose
// dosdevices link leads to the deepest folder holding the file ("C:\\Games\\Civ2.exe",
// "Z:\\home\\me\\civ2.exe"), the first letter on a tie; drive_c as C: when the
// prefix has no dosdevices. Nothing when no drive holds it.
std::optional<std::string> WindowsFormOf(const std::filesystem::path& prefix,
                                         const std::filesystem::path& hostFile);

}  // namespace quenbrook
