// The profile half of the Linux host: civ.ini inside the Wine prefix, read and written
// by our own engine with the results the profile calls give the game under Wine, in the
// encoding Wine reads the file in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/civ_ini/code_page.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/civ_ini/profile_engine.h"
#include "platform/linux/civ_ini/profile_file.h"
#include "platform/linux/wine_prefix/wine_paths.h"

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

// The prefix's ANSI code page, looked up once per prefix: system.reg is large.
unsigned CodePageOf(const fs::path& prefix) {
    static std::mutex mutex;
    static fs::path cachedPrefix;
    static unsigned cachedCodePage = 0;
    const std::lock_guard<std::mutex> lock(mutex);
    if (cachedCodePage == 0 || cachedPrefix != prefix) {
        cachedCodePage = PrefixCodePage(prefix);
        cachedPrefix = prefix;
    }
    return cachedCodePage;
}

// The encoding in which texts go into file and come out of it, as Wine has it: the one
// its byte-order mark names, else the prefix's code page. The engine sees a UTF-16 file
// as UTF-8, so texts for it are UTF-8.
std::string TextEncoding(const fs::path& file, unsigned codePage) {
    char head[3] = {};
    ssize_t n = 0;
    if (const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = ::read(fd, head, sizeof head);
        ::close(fd);
    }
    const std::string encoding = FileEncoding(std::string_view(head, n > 0 ? n : 0), codePage);
    return encoding.starts_with("UTF-16") ? "UTF-8" : encoding;
}

// The last write of ours, checked on disk as it was made. The read that confirms a write
// (the caller's read-back) is answered from it while the file is still that version: a
// second pass over a large file would tell nothing new.
struct LastWrite {
    fs::path file;
    FileVersion version;
    std::wstring section, key, value;
};
std::mutex lastWriteMutex;
std::optional<LastWrite> lastWrite;

// One argument of a write in encoding, or why it cannot be.
std::optional<std::string> EncodeArgument(const std::wstring& text, const wchar_t* what,
                                          const std::string& encoding, Status& failure) {
    if (text.find(L'\0') != std::wstring::npos) {
        failure = Status::Fail(std::wstring(what) + L" contains a NUL character");
        return std::nullopt;
    }
    std::optional<std::string> bytes = Encode(text, encoding);
    if (!bytes) {
        const std::wstring name = encoding.starts_with("CP")
                                      ? L"code page " + FromNarrow(encoding.substr(2))
                                      : FromNarrow(encoding);
        failure =
            Status::Fail(std::wstring(what) + L" holds a character that civ.ini's encoding (" +
                         name + L") cannot hold");
    }
    return bytes;
}

// WriteProfileValue, remembering a write that changed the file.
Status WriteRemembered(const fs::path& file, const std::string& s, const std::string& k,
                       const std::string& v, const std::wstring& section, const std::wstring& key,
                       const std::string& encoding) {
    WrittenFile written;
    const Status status = WriteProfileValue(file, s, k, v, &written);
    if (!status || written.version == FileVersion{}) return status;
    const std::lock_guard<std::mutex> lock(lastWriteMutex);
    lastWrite = LastWrite{file, written.version, section, key, Decode(written.value, encoding)};
    return Status::Ok();
}

}  // namespace

LinuxSystem::LinuxSystem(std::filesystem::path prefix, Post post)
    : prefix_(std::move(prefix)), post_(std::move(post)) {}

std::wstring LinuxSystem::HostPath(const std::wstring& windowsPath) {
    const std::optional<std::string> narrow = ToNarrow(windowsPath);
    if (!narrow || !IsWindowsPath(*narrow)) return windowsPath;
    std::string host = MapWindowsPath(prefix_, *narrow).native();
    // Messages name a file one way, through drive_c as players see the prefix, when drive
    // C is Wine's usual link to it; Wine itself reads through the link.
    const std::string driveC = (prefix_ / "dosdevices" / "c:").native();
    std::error_code ec;
    if (host.starts_with(driveC + "/") && fs::equivalent(driveC, prefix_ / "drive_c", ec))
        host = (prefix_ / "drive_c").native() + host.substr(driveC.size());
    return FromNarrow(host);
}

std::wstring LinuxSystem::GetProfileString(const std::wstring& section, const std::wstring& key,
                                           const std::wstring& fallback, const std::wstring& file) {
    const std::optional<fs::path> path = HostFile(prefix_, file);
    if (!path) return fallback;
    {
        const std::lock_guard<std::mutex> lock(lastWriteMutex);
        if (lastWrite && lastWrite->file == *path && lastWrite->section == section &&
            lastWrite->key == key && CurrentVersion(*path) == lastWrite->version)
            return lastWrite->value;
    }
    const std::string encoding = TextEncoding(*path, CodePageOf(prefix_));
    const std::optional<std::string> s = Encode(section, encoding);
    const std::optional<std::string> k = Encode(key, encoding);
    if (!s || !k) return fallback;
    const std::optional<std::string> value = ReadProfileValue(*path, *s, *k);
    return value ? Decode(*value, encoding) : fallback;
}

Status LinuxSystem::WriteProfileString(const std::wstring& section, const std::wstring& key,
                                       const std::wstring& value, const std::wstring& file) {
    const std::optional<std::string> narrowFile = ToNarrow(file);
    if (!narrowFile)
        return Status::Fail(L"the file name " + file +
                            L" cannot be written in this system's character encoding");
    const bool windowsPath = IsWindowsPath(*narrowFile);
    const fs::path target =
        windowsPath ? MapWindowsPath(prefix_, *narrowFile) : fs::path(*narrowFile);

    const std::string encoding = TextEncoding(target, CodePageOf(prefix_));
    Status failure = Status::Ok();
    const std::optional<std::string> s =
        EncodeArgument(section, L"the section name", encoding, failure);
    if (!s) return failure;
    const std::optional<std::string> k = EncodeArgument(key, L"the key name", encoding, failure);
    if (!k) return failure;
    const std::optional<std::string> v = EncodeArgument(value, L"the value", encoding, failure);
    if (!v) return failure;
    if (Status check = CheckProfileWrite(*s, *k, *v); !check) return check;
    if (!windowsPath) return WriteRemembered(target, *s, *k, *v, section, key, encoding);

    // Without the prefix every Windows path leads nowhere; say which prefix was looked
    // for, since a wrong WINEPREFIX is the usual cause.
    std::error_code ec;
    if (!fs::is_directory(prefix_, ec))
        return Status::Fail(L"there is no Wine prefix at " + FromNarrow(prefix_.native()) +
                            L" (set WINEPREFIX to the prefix the game uses)");
    return WriteRemembered(target, *s, *k, *v, section, key, encoding);
}

bool LinuxSystem::IsReadOnly(const std::wstring& file) {
    const std::optional<fs::path> path = HostFile(prefix_, file);
    struct stat st;
    if (!path || ::stat(path->c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace quenbrook
