// The profile half of the Linux host: civ.ini inside the Wine prefix, read and written
// by our own engine with the results the Windows profile calls would give.
#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/profile_engine.h"
#include "platform/linux/profile_file.h"
#include "platform/linux/wine_paths.h"

namespace quenbrook {
namespace fs = std::filesystem;

namespace {

// The host file a path names: a Windows path leads into the prefix, anything else is
// taken as a host path already. Nothing when the path has no narrow form.
std::optional<fs::path> HostFile(const fs::path& prefix, const std::wstring& file) {
    std::optional<std::string> narrow = ToNarrow(file);
    if (!narrow) return std::nullopt;
    if (!IsWindowsPath(*narrow)) return fs::path(std::move(*narrow));
    return MapWindowsPath(prefix, *narrow);
}

// The narrow form of one argument of a write, or why there is none.
std::optional<std::string> NarrowArgument(const std::wstring& text, const wchar_t* what,
                                          Status& failure) {
    std::optional<std::string> narrow = ToNarrow(text);
    if (!narrow) {
        // ToNarrow refuses NUL as well; that one deserves its own words.
        failure = Status::Fail(std::wstring(what) +
                               (text.find(L'\0') != std::wstring::npos
                                    ? L" contains a NUL character"
                                    : L" cannot be written in this system's character encoding"));
    }
    return narrow;
}

}  // namespace

LinuxSystem::LinuxSystem(std::filesystem::path prefix, Post post)
    : prefix_(std::move(prefix)), post_(std::move(post)) {}

std::wstring LinuxSystem::HostPath(const std::wstring& windowsPath) {
    const std::optional<std::string> narrow = ToNarrow(windowsPath);
    if (!narrow || !IsWindowsPath(*narrow)) return windowsPath;
    return FromNarrow(MapWindowsPath(prefix_, *narrow).native());
}

std::wstring LinuxSystem::GetProfileString(const std::wstring& section, const std::wstring& key,
                                           const std::wstring& fallback, const std::wstring& file) {
    const std::optional<fs::path> path = HostFile(prefix_, file);
    const std::optional<std::string> narrowSection = ToNarrow(section);
    const std::optional<std::string> narrowKey = ToNarrow(key);
    if (!path || !narrowSection || !narrowKey) return fallback;
    const std::optional<std::string> value = ReadProfileValue(*path, *narrowSection, *narrowKey);
    return value ? FromNarrow(*value) : fallback;
}

Status LinuxSystem::WriteProfileString(const std::wstring& section, const std::wstring& key,
                                       const std::wstring& value, const std::wstring& file) {
    Status failure = Status::Ok();
    const std::optional<std::string> s = NarrowArgument(section, L"the section name", failure);
    if (!s) return failure;
    const std::optional<std::string> k = NarrowArgument(key, L"the key name", failure);
    if (!k) return failure;
    const std::optional<std::string> v = NarrowArgument(value, L"the value", failure);
    if (!v) return failure;
    if (Status check = CheckProfileWrite(*s, *k, *v); !check) return check;

    const std::optional<std::string> narrowFile = ToNarrow(file);
    if (!narrowFile)
        return Status::Fail(L"the file name " + file +
                            L" cannot be written in this system's character encoding");
    if (!IsWindowsPath(*narrowFile)) return WriteProfileValue(*narrowFile, *s, *k, *v);

    // Without the prefix every Windows path leads nowhere; say which prefix was looked
    // for, since a wrong WINEPREFIX is the usual cause.
    std::error_code ec;
    if (!fs::is_directory(prefix_, ec))
        return Status::Fail(L"there is no Wine prefix at " + FromNarrow(prefix_.native()) +
                            L" (set WINEPREFIX to the prefix the game uses)");
    return WriteProfileValue(MapWindowsPath(prefix_, *narrowFile), *s, *k, *v);
}

bool LinuxSystem::IsReadOnly(const std::wstring& file) {
    const std::optional<fs::path> path = HostFile(prefix_, file);
    struct stat st;
    if (!path || ::stat(path->c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace quenbrook
