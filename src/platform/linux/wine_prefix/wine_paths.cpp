#include "platform/linux/wine_prefix/wine_paths.h"

#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/linux/ascii.h"

namespace quenbrook {
namespace fs = std::filesystem;

namespace {


// The entry of folder named name in some letter case: the exact name first, as Wine
// looks it up, then any other spelling.
std::optional<std::string> FindEntry(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(folder / name, ec))) return name;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (EqualsIgnoringAsciiCase(entry, name)) return entry;
    }
    return std::nullopt;
}

}  // namespace

fs::path WinePrefixFromEnvironment() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/") / ".wine";
}

bool IsWindowsPath(std::string_view text) {
    if (text.size() >= 2 && text[1] == ':' &&
        ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')))
        return true;
    return text.starts_with("\\\\");
}

fs::path MapWindowsPath(const fs::path& prefix, std::string_view windowsPath) {
    std::error_code ec;
    fs::path root;
    std::string_view rest = windowsPath;
    if (windowsPath.size() >= 2 && windowsPath[1] == ':') {
        const std::string drive{LowerAscii(windowsPath[0]), ':'};
        root = prefix / "dosdevices" / drive;
        if (drive == "c:" && !fs::exists(root, ec)) root = prefix / "drive_c";
        rest = windowsPath.substr(2);
    } else if (windowsPath.starts_with("\\\\")) {
        // Wine reaches network shares through dosdevices/unc/server/share.
        root = prefix / "dosdevices" / "unc";
        rest = windowsPath.substr(2);
    } else {
        root = prefix / "drive_c";
    }

    // "." and ".." go first, as Windows and Wine take them: ".." at the drive's root (or
    // a share's) stays there, so no path climbs out of the drive.
    std::vector<std::string> parts;
    const std::size_t fixed = windowsPath.starts_with("\\\\") ? 2 : 0;  // server, share
    const auto take = [&](std::string& part) {
        if (part == ".." && parts.size() > fixed)
            parts.pop_back();
        else if (part != "." && part != ".." && !part.empty())
            parts.push_back(std::move(part));
        part.clear();
    };
    std::string part;
    for (char c : rest) {
        if (c == '\\' || c == '/')
            take(part);
        else
            part.push_back(c);
    }
    take(part);

    fs::path path = root;
    bool matching = true;
    for (const std::string& p : parts) {
        if (matching) {
            if (auto found = FindEntry(path, p)) {
                path /= *found;
                continue;
            }
            matching = false;
        }
        path /= p;
    }
    return path;
}

std::optional<std::string> WindowsFormOf(const fs::path& prefix, const fs::path& hostFile) {
    std::error_code ec;
    const fs::path file = fs::weakly_canonical(fs::absolute(hostFile, ec), ec);
    if (ec) return std::nullopt;
    std::vector<std::pair<char, fs::path>> drives;  // letter, the root it leads to
    for (fs::directory_iterator it(prefix / "dosdevices", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // Wine names its drives in lower case: "c:", "z:".
        if (name.size() != 2 || name[1] != ':' || name[0] < 'a' || name[0] > 'z') continue;
        std::error_code rootError;
        const fs::path root = fs::canonical(it->path(), rootError);
        if (!rootError) drives.emplace_back(name[0], root);
    }
    if (drives.empty())
        if (const fs::path root = fs::canonical(prefix / "drive_c", ec); !ec)
            drives.emplace_back('c', root);

    std::optional<std::pair<char, fs::path>> best;  // the letter and the path below it
    std::size_t bestDepth = 0;
    for (const auto& [letter, root] : drives) {
        const fs::path below = file.lexically_relative(root);
        if (below.empty() || *below.begin() == "..") continue;
        const auto depth = static_cast<std::size_t>(std::distance(root.begin(), root.end()));
        if (!best || depth > bestDepth || (depth == bestDepth && letter < best->first)) {
            best.emplace(letter, below);
            bestDepth = depth;
        }
    }
    if (!best) return std::nullopt;
    std::string windows{static_cast<char>(best->first - 'a' + 'A'), ':', '\\'};
    if (best->second != ".") {
        std::string rest = best->second.generic_string();
        for (char& c : rest)
            if (c == '/') c = '\\';
        windows += rest;
    }
    return windows;
}

}  // namespace quenbrook
