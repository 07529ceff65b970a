#pragma once
// Which Wine prefix holds the player's civ.ini. Launchers keep their prefixes in folders
// of their own, so besides an explicit prefix and ~/.wine we look there. A plain function
// over a home folder: tests hand in a temporary one. Standard library only.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/request.h"
#include "platform/status.h"

namespace quenbrook {

// A prefix a launcher made, with the launcher's name as players know it.
struct LauncherPrefix {
    std::filesystem::path path;
    std::wstring launcher;  // "Lutris", "Bottles", "Steam (Proton)", ...
};

// The prefixes in the launchers' folders under home whose C:\Windows\civ.ini exists in
// any letter case, each once, sorted by path.
std::vector<LauncherPrefix> FindLauncherPrefixes(const std::filesystem::path& home);

// The prefix to use and how it was found; with several candidates and no earlier
// answer, no prefix: the player has to choose.
struct PrefixChoice {
    std::filesystem::path prefix;  // empty: several candidates, none chosen
    std::wstring how;              // for --status, e.g. "set with --prefix"
    std::vector<LauncherPrefix> candidates;
    bool guessed = false;  // no prefix holds civ.ini: ~/.wine, as a last guess
};

// Where the prefix is looked for, in order: option (--prefix), environment (WINEPREFIX),
// ~/.wine when it holds civ.ini, the launchers' prefixes holding civ.ini (one: that one;
// several: the remembered answer when it is one of them, else none), ~/.wine. Empty
// strings stand for "not given".
PrefixChoice ChoosePrefix(const std::filesystem::path& home, const std::string& option,
                          const std::string& environment,
                          const std::optional<std::filesystem::path>& remembered);

// For the command line: the prefix in use and how it was found, whether it and its
// civ.ini are there, and, when it was only guessed, where else we looked.
CivIniWhere DescribeChoice(const PrefixChoice& choice, const std::filesystem::path& home);

// The places a prefix holding civ.ini is looked for under home, and how to name one.
std::wstring SearchedPlaces(const std::filesystem::path& home);

// What the command line says when several prefixes hold civ.ini: each one with its
// launcher, and how to pick one.
std::wstring SeveralPrefixesMessage(const std::vector<LauncherPrefix>& candidates);

// Whether C:\Windows\civ.ini exists in prefix (any letter case).
bool HoldsCivIni(const std::filesystem::path& prefix);

// The one file that keeps the window's answer: quenbrook/prefix in the XDG config
// folder (xdgConfigHome when set and absolute, else home/.config).
std::filesystem::path RememberedPrefixFile(const std::filesystem::path& home,
                                           const std::string& xdgConfigHome);

// The prefix kept in file, or nothing when there is none.
std::optional<std::filesystem::path> ReadRememberedPrefix(const std::filesystem::path& file);

// Keeps prefix in file, creating its folder.
Status RememberPrefix(const std::filesystem::path& file, const std::filesystem::path& prefix);

}  // namespace quenbrook
