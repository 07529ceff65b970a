#include "platform/linux/wine_paths.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
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

    std::vector<std::string> parts;
    std::string part;
    for (char c : rest) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));

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

}  // namespace quenbrook
