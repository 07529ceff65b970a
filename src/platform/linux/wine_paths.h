#pragma once
// Where Windows paths lead under Wine: drive letters map into the prefix, and each
// component matches what exists there without regard to letter case, as Wine does.
#include <filesystem>
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

}  // namespace quenbrook
