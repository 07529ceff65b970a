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

}  // namespace

bool HoldsCivIni(const fs::path& prefix) {
    std::error_code ec;
    return fs::is_regular_file(MapWindowsPath(prefix, "C:\\Windows\\civ.ini"), ec);
}

std::vector<LauncherPrefix> FindLauncherPrefixes(const fs::path& home) {
    std::vector<LauncherPrefix> all;
    const auto addEach = [&](const fs::path& folder, const wchar_t* launcher) {
        for (const fs::path& prefix : Subfolders(folder)) all.push_back({prefix, launcher});
    };
    addEach(home / "Games", L"Lutris");
    addEach(home / ".local/share/bottles/bottles", L"Bottles");
    addEach(home / ".var/app/com.usebottles.bottles/data/bottles/bottles", L"Bottles (Flatpak)");
    addEach(home / ".PlayOnLinux/wineprefix", L"PlayOnLinux");
    for (const fs::path& library : SteamLibraries(home))
        for (const fs::path& app : Subfolders(library / "steamapps/compatdata"))
            all.push_back({app / "pfx", L"Steam (Proton)"});
    // Heroic keeps prefixes in Prefixes/<game>, newer versions in Prefixes/default/<game>.
    addEach(home / "Games/Heroic/Prefixes", L"Heroic");
    addEach(home / "Games/Heroic/Prefixes/default", L"Heroic");

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
    return {standard, L"the default prefix; no prefix holds civ.ini", {}};
}

CivIniWhere DescribeChoice(const PrefixChoice& choice) {
    CivIniWhere where;
    where.found = L"Wine prefix: " + Shown(choice.prefix) + L" (" + choice.how + L")";
    std::error_code ec;
    if (!fs::is_directory(choice.prefix, ec))
        where.present = Status::Fail(L"there is no Wine prefix at " + Shown(choice.prefix));
    else if (!HoldsCivIni(choice.prefix))
        where.present = Status::Fail(L"there is no civ.ini in C:\\Windows of the prefix");
    return where;
}

std::wstring SeveralPrefixesMessage(const std::vector<LauncherPrefix>& candidates) {
    std::wstring text = L"several Wine prefixes hold civ.ini:\n";
    for (const LauncherPrefix& candidate : candidates)
        text += L"  " + Shown(candidate.path) + L" (" + candidate.launcher + L")\n";
    return text + L"Choose one with --prefix DIR, for example: quenbrook --prefix " +
           Shown(candidates.front().path) + L" --status\n";
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
