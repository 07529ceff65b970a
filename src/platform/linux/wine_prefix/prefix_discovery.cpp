#include "platform/linux/wine_prefix/prefix_discovery.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>

#include "platform/linux/narrow.h"
#include "platform/linux/wine_prefix/wine_paths.h"

namespace quenbrook {
namespace fs = std::filesystem;

namespace {

// The folders of folder, in name order.
std::vector<fs::path> Subfolders(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec)) found.push_back(it->path());
    std::sort(found.begin(), found.end());
    return found;
}

// Steam's libraries: its own folder and every "path" in steamapps/libraryfolders.vdf.
std::vector<fs::path> SteamLibraries(const fs::path& home) {
    std::vector<fs::path> libraries;
    for (const char* root : {".steam/steam", ".local/share/Steam",
                             ".var/app/com.valvesoftware.Steam/.local/share/Steam"}) {
        const fs::path steam = home / root;
        libraries.push_back(steam);
        std::ifstream vdf(steam / "steamapps" / "libraryfolders.vdf");
        std::string line;
        while (std::getline(vdf, line)) {
            // A line such as:  "path"  "/mnt/games/SteamLibrary"
            const std::size_t key = line.find("\"path\"");
            if (key == std::string::npos) continue;
            const std::size_t open = line.find('"', key + 6);
            const std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
            if (close != std::string::npos)
                libraries.emplace_back(line.substr(open + 1, close - open - 1));
        }
    }
    return libraries;
}

std::wstring Shown(const fs::path& path) { return FromNarrow(path.native()); }

// Where a launcher keeps its prefixes: each folder of `folder`, or its `below` folder.
struct LauncherFolder {
    fs::path folder;
    const wchar_t* launcher;
    const char* below = "";
};

std::vector<LauncherFolder> LauncherFolders(const fs::path& home) {
    std::vector<LauncherFolder> folders = {
        {home / "Games", L"Lutris"},
        {home / ".local/share/bottles/bottles", L"Bottles"},
        {home / ".var/app/com.usebottles.bottles/data/bottles/bottles", L"Bottles (Flatpak)"},
        {home / ".PlayOnLinux/wineprefix", L"PlayOnLinux"},
    };
    for (const fs::path& library : SteamLibraries(home))
        folders.push_back({library / "steamapps/compatdata", L"Steam (Proton)", "pfx"});
    // Heroic keeps prefixes in Prefixes/<game>, newer versions in Prefixes/default/<game>.
    folders.push_back({home / "Games/Heroic/Prefixes", L"Heroic"});
    folders.push_back({home / "Games/Heroic/Prefixes/default", L"Heroic"});
    return folders;
}

// A path as the shell takes it back: quoted when it holds anything but plain characters.
std::wstring ForTheShell(const std::wstring& text) {
    const bool plain = !text.empty() && text.find_first_not_of(
        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-+=.,:/@%") ==
        std::wstring::npos;
    if (plain) return text;
    std::wstring quoted = L"'";
    for (const wchar_t c : text) quoted += c == L'\'' ? std::wstring(L"'\\''") : std::wstring(1, c);
    return quoted + L"'";
}

}  // namespace

bool HoldsCivIni(const fs::path& prefix) {
    std::error_code ec;
    return fs::is_regular_file(MapWindowsPath(prefix, "C:\\Windows\\civ.ini"), ec);
}

std::vector<LauncherPrefix> FindLauncherPrefixes(const fs::path& home) {
    std::vector<LauncherPrefix> all;
    for (const LauncherFolder& place : LauncherFolders(home))
        for (const fs::path& prefix : Subfolders(place.folder))
            all.push_back({*place.below ? prefix / place.below : prefix, place.launcher});

    std::vector<LauncherPrefix> found;
    std::set<fs::path> seen;  // a library reached by two paths (~/.steam/steam is a link)
    for (LauncherPrefix& candidate : all) {
        if (!HoldsCivIni(candidate.path)) continue;
        std::error_code ec;
        const fs::path real = fs::canonical(candidate.path, ec);
        if (!seen.insert(ec ? candidate.path : real).second) continue;
        found.push_back(std::move(candidate));
    }
    std::sort(found.begin(), found.end(),
              [](const LauncherPrefix& a, const LauncherPrefix& b) { return a.path < b.path; });
    return found;
}

PrefixChoice ChoosePrefix(const fs::path& home, const std::string& option,
                          const std::string& environment,
                          const std::optional<fs::path>& remembered) {
    if (!option.empty()) return {option, L"set with --prefix", {}};
    if (!environment.empty()) return {environment, L"set in WINEPREFIX", {}};
    const fs::path standard = home / ".wine";
    if (HoldsCivIni(standard)) return {standard, L"the default prefix, which holds civ.ini", {}};

    std::vector<LauncherPrefix> candidates = FindLauncherPrefixes(home);
    if (candidates.size() == 1)
        return {candidates.front().path,
                L"the only prefix holding civ.ini, made by " + candidates.front().launcher,
                std::move(candidates)};
    if (candidates.size() > 1) {
        for (const LauncherPrefix& candidate : candidates)
            if (remembered && candidate.path == *remembered)
                return {candidate.path,
                        L"chosen earlier in the window, one of " +
                            std::to_wstring(candidates.size()) + L" prefixes holding civ.ini",
                        std::move(candidates)};
        return {{}, L"", std::move(candidates)};
    }
    return {standard, L"the default prefix; no prefix holds civ.ini", {}, true};
}

CivIniWhere DescribeChoice(const PrefixChoice& choice, const fs::path& home) {
    CivIniWhere where;
    std::error_code ec;
    const bool there = fs::is_directory(choice.prefix, ec);
    where.found = L"Wine prefix: " + (there || !choice.guessed ? Shown(choice.prefix) + L" (" + choice.how + L")"
                                                               : std::wstring(L"none yet"));
    if (!there) where.noPrefix = L"there is no Wine prefix at " + Shown(choice.prefix);
    where.civIniMissing = !HoldsCivIni(choice.prefix);
    if (choice.guessed) where.searched = SearchedPlaces(home);
    return where;
}

std::wstring SearchedPlaces(const fs::path& home) {
    std::wstring text = L"No Wine prefix holds civ.ini yet; looked in:\n  " +
                        Shown(home / ".wine") + L"\n";
    for (const LauncherFolder& place : LauncherFolders(home))
        text += L"  " + Shown(*place.below ? place.folder / "*" / place.below : place.folder / "*") +
                L" (" + place.launcher + L")\n";
    return text + L"Install Civ 2 in a prefix and start it once, or name the prefix it is in: "
                  L"quenbrook --prefix '/path/to/prefix' --status\n";
}

std::wstring SeveralPrefixesMessage(const std::vector<LauncherPrefix>& candidates) {
    std::wstring text = L"several Wine prefixes hold civ.ini:\n";
    for (const LauncherPrefix& candidate : candidates)
        text += L"  " + Shown(candidate.path) + L" (" + candidate.launcher + L")\n";
    return text + L"Choose one with --prefix, for example: quenbrook --prefix " +
           ForTheShell(Shown(candidates.front().path)) + L" --status\n";
}

fs::path RememberedPrefixFile(const fs::path& home, const std::string& xdgConfigHome) {
    const fs::path config = !xdgConfigHome.empty() && fs::path(xdgConfigHome).is_absolute()
                                ? fs::path(xdgConfigHome)
                                : home / ".config";
    return config / "quenbrook" / "prefix";
}

std::optional<fs::path> ReadRememberedPrefix(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!std::getline(in, line) || line.empty()) return std::nullopt;
    return fs::path(line);
}

Status RememberPrefix(const fs::path& file, const fs::path& prefix) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::trunc);
    out << prefix.native() << '\n';
    out.close();
    if (ec || !out) return Status::Fail(L"the choice could not be kept in " + Shown(file));
    return Status::Ok();
}

}  // namespace quenbrook
