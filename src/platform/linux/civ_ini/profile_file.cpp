#include "platform/linux/civ_ini/profile_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/civ_ini/code_page.h"
#include "platform/linux/civ_ini/profile_engine.h"
#include "platform/linux/narrow.h"
#include "platform/linux/state_folder.h"

namespace quenbrook {
namespace fs = std::filesystem;

namespace {

// Our temporary files are named ".<file>.quenbrook-<random>.tmp" beside the file, so a
// later write can find and remove those that a killed writer left behind.
constexpr std::string_view kTemporaryMark = ".quenbrook-";
constexpr std::string_view kTemporaryEnd = ".tmp";
constexpr int kMaxLinkHops = 40;  // as the kernel's own limit

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// The temporary file, removed unless it has been renamed into place. It has no name
// until it needs one (O_TMPFILE), and is locked before it gets one, so another writer
// of ours never takes it for one a killed writer left.
class Temporary {
public:
    ~Temporary() {
        fd.Close();
        if (!path.empty()) ::unlink(path.c_str());
    }
    void Keep() { path.clear(); }

    fs::path path;  // empty while it has no name
    Fd fd;
};

std::wstring Text(const fs::path& path) { return FromNarrow(path.native()); }

// errno in plain words, for the message a player sees.
std::wstring Describe(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return L"permission denied";
    case ENOSPC:
        return L"the disk is full";
    case EDQUOT:
        return L"the disk quota is used up";
    case EFBIG:
        return L"the file is too large";
    case EROFS:
        return L"the disk is mounted read-only";
    case EIO:
        return L"the disk reported an input/output error";
    case ENOENT:
        return L"it does not exist";
    case ENOTDIR:
        return L"a part of the path is not a folder";
    case EISDIR:
        return L"it is a folder";
    case ENAMETOOLONG:
        return L"the path is too long";
    case ELOOP:
        return L"the path has too many symbolic links";
    case EMFILE:
    case ENFILE:
        return L"too many files are open";
    case ENOMEM:
        return L"there is not enough memory";
    case EBUSY:
    case ETXTBSY:
        return L"the file is in use";
    default:
        return FromNarrow(std::strerror(err));
    }
}

Status Fail(const std::wstring& what, int err) {
    return Status::Fail(what + L": " + Describe(err));
}

// A file's bytes. Unlike std::string it does not zero its memory first: for a file of
// hundreds of MB that would double the cost of taking it in.
class FileBytes {
public:
    std::string_view view() const { return {data_.get(), size_}; }

    // Reads fd to the end, starting with room for sizeHint bytes (what fstat said), so a
    // whole file costs one allocation and one large read; a file that grew meanwhile is
    // still read whole. Returns 0 or errno.
    int ReadAll(int fd, std::size_t sizeHint) {
        size_ = 0;
        Reserve(sizeHint);
        for (;;) {
            if (size_ == capacity_) Reserve(capacity_ + capacity_ / 2 + 65536);
            const ssize_t n = ::read(fd, data_.get() + size_, capacity_ - size_);
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (n == 0) return 0;
            size_ += static_cast<std::size_t>(n);
        }
    }

private:
    void Reserve(std::size_t capacity) {
        // One byte more than asked, so that a file of exactly the expected size is known
        // to have ended by a read that returns nothing, not by a second allocation.
        std::unique_ptr<char[]> bigger(new char[capacity + 1]);
        if (size_) std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ = capacity + 1;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Mappings being read. A lease does not stop open(O_RDONLY | O_TRUNC), so a file can
// still be cut short under its mapping; touching a page past its new end raises SIGBUS.
// Inside one of these mappings the handler puts zero pages there and marks the mapping
// cut, and the reader, which looks at the mark (and at the file's version), reads again.
struct Guarded {
    std::atomic<char*> begin{nullptr};
    std::atomic<std::size_t> size{0};
    std::atomic<bool> cut{false};
};
Guarded g_guarded[16];
struct sigaction g_previousSigbus;

std::size_t g_pageSize;  // taken before the handler goes in: sysconf is not signal-safe

void OnSigbus(int signal, siginfo_t* info, void* context) {
    char* at = static_cast<char*>(info->si_addr);
    for (Guarded& g : g_guarded) {
        char* begin = g.begin.load();
        const std::size_t size = g.size.load();
        if (info->si_code <= 0 || !begin || at < begin || at >= begin + size) continue;
        char* from = begin + (static_cast<std::size_t>(at - begin) & ~(g_pageSize - 1));
        ::mmap(from, static_cast<std::size_t>(begin + size - from), PROT_READ,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        g.cut = true;
        return;
    }
    // Not ours: as it would have been without us.
    const struct sigaction& previous = g_previousSigbus;
    if (previous.sa_flags & SA_SIGINFO) return previous.sa_sigaction(signal, info, context);
    if (previous.sa_handler != SIG_IGN && previous.sa_handler != SIG_DFL)
        return previous.sa_handler(signal);
    const bool sent = info->si_code <= 0;  // by kill(), not by a faulting access
    if (sent && previous.sa_handler == SIG_IGN) return;
    // A faulting access runs again on return and now ends the program, as it would have
    // without us: an ignored SIGBUS cannot stop a fault, it would only loop.
    ::signal(SIGBUS, SIG_DFL);
    if (sent) ::raise(SIGBUS);
}

// A read-only view of a file's pages in the page cache. Scanning it costs no copy and no
// fresh memory, which for a large civ.ini is most of the price of a read. Only taken
// under a read lease, so no one writes the file under the view; one cut short under it
// reads as zeros past the cut, and Cut() says so.
class Mapping {
public:
    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() {
        if (guard_) {
            guard_->size = 0;
            guard_->begin = nullptr;
        }
        if (data_) ::munmap(data_, size_);
    }
    bool Map(int fd, std::size_t size) {
        static std::once_flag installed;
        std::call_once(installed, [] {
            g_pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
            struct sigaction action {};
            action.sa_sigaction = OnSigbus;
            action.sa_flags = SA_SIGINFO | SA_NODEFER;
            sigemptyset(&action.sa_mask);
            ::sigaction(SIGBUS, &action, &g_previousSigbus);
        });
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) return false;
        for (Guarded& g : g_guarded) {
            char* none = nullptr;
            if (g.begin.compare_exchange_strong(none, static_cast<char*>(p))) {
                g.cut = false;
                g.size = size;
                guard_ = &g;
                break;
            }
        }
        if (!guard_) {  // more readers at once than we watch over
            ::munmap(p, size);
            return false;
        }
        ::madvise(p, size, MADV_SEQUENTIAL);
        data_ = p;
        size_ = size;
        return true;
    }
    std::string_view view() const { return {static_cast<const char*>(data_), size_}; }
    bool Cut() const { return guard_ && guard_->cut; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
    Guarded* guard_ = nullptr;
};

// Two looks at a file show the same version of it: same file, same size, not written or
// changed in between.
bool SameVersion(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Reads a regular file whole, again if it changed while being read (the game may be
// saving it), so that what we parse and write back is one version of it. Returns 0 or
// errno; st describes the file read.
int ReadStable(int fd, struct stat& st, FileBytes& bytes) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt && ::lseek(fd, 0, SEEK_SET) != 0) return errno;
        if (int e = bytes.ReadAll(fd, static_cast<std::size_t>(st.st_size))) return e;
        struct stat after;
        if (::fstat(fd, &after) != 0) return errno;
        const bool same = SameVersion(st, after) &&
                          static_cast<std::size_t>(after.st_size) == bytes.view().size();
        st = after;
        if (same) return 0;
    }
    return EBUSY;
}

// Whether a refused lease says nothing about writers: network and user-space file
// systems refuse leases whenever their server grants no delegation or oplock (EAGAIN,
// as a writer would), so there only the version checks can tell.
bool LeasesMayBeRefusedAnyway(int fd) {
    struct statfs fsInfo;
    if (::fstatfs(fd, &fsInfo) != 0) return true;
    switch (static_cast<unsigned long>(fsInfo.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x00C36400:  // Ceph
    case 0x01021997:  // 9P
    case 0x6B414653:  // AFS
    case 0x73757245:  // Coda
        return true;
    default:
        return false;
    }
}

// A read lease on the file we read. The kernel grants it only while no one has the file
// open for writing, and breaks it as soon as someone opens it to write (that opener
// waits until we let go), so a lease held across our read proves the read was not of a
// save half done. Where leases are not available (some file systems, another user's
// file) the version checks stand alone.
class ReadLease {
public:
    // 0 when held, EAGAIN when someone has the file open for writing, else unavailable
    // (ENOLCK when the file system refused it whoever writes).
    int Take(int fd) {
        // The break is announced by a signal, SIGIO unless told otherwise, and SIGIO
        // would end the program; SIGURG is ignored unless someone handles it. We look
        // with F_GETLEASE instead of waiting for the signal.
        if (::fcntl(fd, F_SETSIG, SIGURG) != 0 || ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
            return errno == EAGAIN && LeasesMayBeRefusedAnyway(fd) ? ENOLCK : errno;
        fd_ = fd;
        return 0;
    }
    bool Held() const { return fd_ >= 0; }
    // Whether someone now waits to write the file.
    bool Broken() const { return fd_ >= 0 && ::fcntl(fd_, F_GETLEASE) != F_RDLCK; }
    void Release() {
        if (fd_ >= 0) ::fcntl(fd_, F_SETLEASE, F_UNLCK);
        fd_ = -1;
    }
    ~ReadLease() { Release(); }

private:
    int fd_ = -1;
};

// A file's content: mapped when it can be (under a read lease, kept as long as the
// content), else read into memory; a UTF-16 file (which the engine reads as UTF-8)
// converted.
struct Content {
    // Declared in this order so that the view goes before the lease, and the lease before
    // the file it is held on: the mapping may be read only under the lease.
    Fd fd;
    ReadLease lease;
    Mapping mapping;
    FileBytes bytes;
    std::string converted;
    std::string_view view;
    std::string_view raw;  // the file's own bytes
    std::string utf16;     // the UTF-16 encoding the file was in, or empty
    std::string odd;       // a UTF-16 file's odd last byte, which Wine does not read
    struct stat st {};     // the version read

    // Takes in what was loaded, converting UTF-16.
    void Settle(std::string_view loaded) {
        view = raw = loaded;
        if (!loaded.starts_with("\xFF\xFE") && !loaded.starts_with("\xFE\xFF")) return;
        utf16 = FileEncoding(loaded, 0);
        if (loaded.size() % 2) odd = loaded.substr(loaded.size() - 1);
        converted = Utf16ToUtf8(loaded);
        view = converted;
    }
    // Whether the file is no longer the version read, or was cut short under the view.
    bool Stale() const {
        struct stat now;
        return mapping.Cut() || ::fstat(fd.get(), &now) != 0 || !SameVersion(st, now);
    }
    // Loads fd's file (described by st): mapped when the lease is held, else read whole
    // with the version checks. Returns 0 or errno (EBUSY: it kept changing).
    int Load() {
        if (lease.Held() && st.st_size > 0 &&
            mapping.Map(fd.get(), static_cast<std::size_t>(st.st_size))) {
            Settle(mapping.view());
            return 0;
        }
        if (int e = ReadStable(fd.get(), st, bytes)) return e;
        Settle(bytes.view());
        return 0;
    }
};

FileVersion VersionOf(const struct stat& st) {
    const auto ns = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
    return {st.st_dev, st.st_ino, static_cast<unsigned long long>(st.st_size), ns(st.st_mtim),
            ns(st.st_ctim)};
}

// Opens for reading without blocking on a FIFO that happens to carry the file's name.
int OpenForReading(const fs::path& file) {
    return ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// The file that path finally names once symbolic links are followed; the last one may
// not exist yet. Writing replaces that file, so the links stay links.
fs::path FollowLinks(const fs::path& path, int& err) {
    fs::path current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::error_code ec;
        const fs::path target = fs::read_symlink(current, ec);
        if (ec) {
            err = ec.value();
            return current;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    err = ELOOP;
    return current;
}

// Removes temporary files of ours that a killed writer left. A writer holds a lock on its
// own temporary file until it is renamed, so only abandoned ones are removed.
void RemoveAbandonedTemporaries(const fs::path& folder, const std::string& prefix) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        if (!name.starts_with(prefix) || !name.ends_with(kTemporaryEnd)) continue;
        Fd fd(::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat held, named;
        if (::fstat(fd.get(), &held) == 0 && ::lstat(it->path().c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            ::unlink(it->path().c_str());
    }
}

// A name no one has yet, of the pattern RemoveAbandonedTemporaries looks for.
fs::path TemporaryName(const fs::path& folder, const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned long long mix =
        ticks ^ (static_cast<unsigned long long>(::getpid()) << 32) ^
        (static_cast<unsigned long long>(counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", mix);
    return folder / (prefix + suffix + std::string(kTemporaryEnd));
}

// Creates a new temporary file in folder, locked; without a name where the file system
// allows (it gets one in NameTemporary), else with a name no one else has (O_EXCL).
int CreateTemporary(const fs::path& folder, const std::string& prefix, mode_t mode,
                    Temporary& temporary) {
    if (const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode); fd >= 0) {
        temporary.fd.Reset(fd);
        ::flock(fd, LOCK_EX);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path = TemporaryName(folder, prefix);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            temporary.path = path;
            temporary.fd.Reset(fd);
            ::flock(fd, LOCK_EX);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// Gives an unnamed temporary its name, so that it can be renamed into place.
int NameTemporary(const fs::path& folder, const std::string& prefix, Temporary& temporary) {
    if (!temporary.path.empty()) return 0;
    const std::string self = "/proc/self/fd/" + std::to_string(temporary.fd.get());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path = TemporaryName(folder, prefix);
        if (::linkat(temporary.fd.get(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0 ||
            (errno != EEXIST &&
             ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)) {
            temporary.path = path;
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

// The extended attributes of fd (the ACL among them): names and values; none where the
// file system has none, nothing when they cannot be read (then they cannot be kept).
std::optional<std::vector<std::pair<std::string, std::string>>> Attributes(int fd) {
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string names(256, '\0');
    ssize_t n;
    while ((n = ::flistxattr(fd, names.data(), names.size())) < 0 && errno == ERANGE)
        names.resize(names.size() * 4);
    if (n < 0) return errno == ENOTSUP ? std::optional(attributes) : std::nullopt;
    for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
        std::string name(names.c_str() + at);
        at += name.size() + 1;
        std::string value(64, '\0');
        ssize_t length;
        while ((length = ::fgetxattr(fd, name.c_str(), value.data(), value.size())) < 0 &&
               errno == ERANGE)
            value.resize(value.size() * 4);
        if (length < 0 && errno == ENODATA) continue;  // removed meanwhile
        if (length < 0) return std::nullopt;
        value.resize(static_cast<std::size_t>(length));
        attributes.emplace_back(std::move(name), std::move(value));
    }
    return attributes;
}

// Gives the temporary to the owner, group, mode and extended attributes (ACL included)
// that original has; false when one of them cannot be kept.
bool TakeIdentity(int original, const struct stat& st, int temporary) {
    // chown clears set-id bits, so it goes first; mode bits next, then the ACL, whose
    // mask the mode's group bits must not overwrite.
    if (::fchown(temporary, st.st_uid, st.st_gid) != 0 ||
        ::fchmod(temporary, st.st_mode & 07777) != 0)
        return false;
    const auto wanted = Attributes(original);
    const auto given = Attributes(temporary);
    if (!wanted || !given) return false;
    for (const auto& present : *given) {  // the folder's default ACL
        const std::string& name = present.first;
        const bool keep = std::any_of(wanted->begin(), wanted->end(),
                                      [&](const auto& a) { return a.first == name; });
        if (!keep && ::fremovexattr(temporary, name.c_str()) != 0) return false;
    }
    for (const auto& [name, value] : *wanted)
        if (::fsetxattr(temporary, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    struct stat now;
    return ::fstat(temporary, &now) == 0 && now.st_mode == st.st_mode &&
           now.st_uid == st.st_uid && now.st_gid == st.st_gid;
}

// Writes the pieces one after the other with as few system calls as the kernel allows.
int WriteAll(int fd, std::string_view a, std::string_view b, std::string_view c) {
    iovec iov[3];
    int count = 0;
    for (std::string_view piece : {a, b, c})
        if (!piece.empty()) iov[count++] = iovec{const_cast<char*>(piece.data()), piece.size()};
    int first = 0;
    while (first < count) {
        const ssize_t n = ::writev(fd, iov + first, count - first);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        auto left = static_cast<std::size_t>(n);
        while (first < count && left >= iov[first].iov_len) left -= iov[first++].iov_len;
        if (first < count) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return 0;
}

// Copies the span [offset, offset + length) of in, whose mapped bytes are view, to out's
// current position inside the kernel: the unchanged spans of a large file never pass
// through our memory. Where the file system cannot, the bytes are written from view.
// Returns 0 or errno.
int CopySpan(int in, std::string_view view, std::size_t offset, std::size_t length, int out) {
    auto from = static_cast<off64_t>(offset);
    while (length > 0) {
        const ssize_t n = ::copy_file_range(in, &from, out, nullptr, length, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
                return WriteAll(out, view.substr(static_cast<std::size_t>(from), length), {}, {});
            return errno;
        }
        if (n == 0) return EIO;  // the file ended early: it changed under us
        length -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes the file in (mapped as view) with edit made into out: the span before the
// edit, the edit, the span after it.
int CopyWithEdit(int in, std::string_view view, int out, const ProfileEdit& edit) {
    if (int e = CopySpan(in, view, 0, edit.offset, out)) return e;
    if (int e = WriteAll(out, edit.insert, {}, {})) return e;
    const std::size_t rest = edit.offset + edit.erase;
    return CopySpan(in, view, rest, view.size() - rest, out);
}

// Loads a regular file whole into content; false when it cannot (see ReadProfileFile).
// unmapped: read into memory, as after a view that went stale.
bool LoadRegularFile(const fs::path& file, Content& content, bool unmapped = false) {
    Fd& fd = content.fd;
    fd.Reset(OpenForReading(file));
    struct stat& st = content.st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // While the game is saving, wait a moment for the save to end rather than read half
    // of it; a file that stays open for writing is read as it is.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (!unmapped && content.lease.Take(fd.get()) == EAGAIN &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    // Under the lease the file stands still; its size is the one to map.
    if (::fstat(fd.get(), &st) != 0) return false;
    try {
        return content.Load() == 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

std::optional<FileVersion> CurrentVersion(const fs::path& file) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) return std::nullopt;
    return VersionOf(st);
}

std::optional<std::string> ReadProfileFile(const fs::path& file) {
    for (bool unmapped : {false, true}) {
        Content content;
        if (!LoadRegularFile(file, content, unmapped)) return std::nullopt;
        std::string text(content.view);
        if (!content.Stale() || unmapped) return text;
    }
    return std::nullopt;
}

std::optional<std::string> ReadProfileValue(const fs::path& file, std::string_view section,
                                            std::string_view key) {
    for (bool unmapped : {false, true}) {
        Content content;
        if (!LoadRegularFile(file, content, unmapped)) return std::nullopt;
        const std::optional<std::string_view> value = FindProfileValue(content.view, section, key);
        std::optional<std::string> found;
        if (value) found.emplace(*value);
        if (!content.Stale() || unmapped) return found;
    }
    return std::nullopt;
}

namespace {

// What one attempt at a write came to: a final status, or "the file changed under us".
struct Attempt {
    bool changed = false;
    Status status = Status::Ok();
};

Attempt Final(Status status) { return Attempt{false, std::move(status)}; }
const Attempt kChanged{true};

// What a write works on, and the words of its messages.
struct Job {
    fs::path target, folder;
    std::string prefix;  // of our temporaries' names
    std::wstring name, saving;
    std::string_view section, key, value;
    WrittenFile* written;
};

// A save of the game's that opened civ.ini just before our rename waits on our lease and
// then writes the old file, which has no name any more: that save is the file we still
// hold, to be put back with our edit on top, in place of ours while ours is unchanged.
struct Redo {
    Fd old;
    struct stat ours;
};

bool InFolderWeMayWrite(const fs::path& folder) {
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Whether a save of the game's went to the file we just replaced: we let go of the
// lease, wait for a writer that was waiting on it to close the file (the lease can then
// be taken again), and look whether the file changed. A writer that found the file by
// its name just before the rename may open it only a moment later, so we look for a
// little while.
bool OldFileWritten(int fd, ReadLease& lease, const struct stat& st) {
    const bool leased = lease.Held(), waitedOn = lease.Broken();
    lease.Release();
    if (waitedOn) return true;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (leased) {
            while (lease.Take(fd) == EAGAIN &&
                   std::chrono::steady_clock::now() - start < std::chrono::seconds(2))
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            lease.Release();
        }
        // Its change time says nothing: the rename took its name.
        struct stat now;
        if (::fstat(fd, &now) != 0 || now.st_size != st.st_size ||
            now.st_mtim.tv_sec != st.st_mtim.tv_sec || now.st_mtim.tv_nsec != st.st_mtim.tv_nsec)
            return true;
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1)) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
}

// Where a file written in place keeps its old bytes until the new ones are on disk:
// beside it, else (a folder closed to us) in our state folder.
fs::path BackupPath(const Job& job) {
    const std::string name = job.target.filename().native() + ".quenbrook-backup";
    if (InFolderWeMayWrite(job.folder)) return job.folder / name;
    const fs::path folder = StateFolder();
    if (folder.empty()) return {};
    // One folder for every prefix's civ.ini: the copy says whose it is.
    struct stat st;
    if (::stat(job.target.c_str(), &st) != 0) return {};
    return folder / (job.target.filename().native() + "." + std::to_string(st.st_dev) + "-" +
                     std::to_string(st.st_ino) + ".quenbrook-backup");
}

// The copy of raw (the bytes of in) that a crash in the middle of an in-place write
// leaves to restore from: written and flushed, or nothing when it cannot be. One an
// interrupted write left is never replaced.
fs::path Backup(const Job& job, int in, std::string_view raw) {
    const fs::path path = BackupPath(job);
    if (path.empty()) return {};
    Fd copy(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!copy.valid()) return {};
    if (CopySpan(in, raw, 0, raw.size(), copy.get()) != 0 || ::fdatasync(copy.get()) != 0) {
        ::unlink(path.c_str());
        return {};
    }
    return path;
}

// The new bytes from the first one that changes: the whole file when it is UTF-16.
struct Change {
    std::size_t offset;
    std::string_view a, b;
    std::size_t size;  // of the whole new file
    bool known;        // whether the value read back is known (not for UTF-16)
};

// Writes the change into the file itself, as the game and Wine do: for a file with
// other names, one whose owner, mode or attributes a new file could not carry, or one in
// a folder we may not write. Unless the change is one sector rewritten, the old bytes
// are kept in a backup until the new ones are on disk.
Attempt WriteInPlace(const Job& job, Content& loaded, const struct stat& st,
                     const Change& change, const std::function<bool(int)>& readsBack) {
    // The bytes that move, and those to put back on failure, may be the mapped file's:
    // they are taken while the lease holds, and before the file changes under the view.
    const std::string tail(change.b), old(loaded.raw.substr(change.offset));
    // Our own open for writing would break our lease and wait for us to let go.
    loaded.lease.Release();
    Fd out(::open(job.target.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    // Another reader's lease (the window reading now, a Samba oplock): it lets go soon.
    if (!out.valid() && (errno == EAGAIN || errno == EWOULDBLOCK)) return kChanged;
    if (!out.valid()) return Final(Fail(job.name + L" cannot be changed", errno));
    struct stat now;
    if (::fstat(out.get(), &now) != 0 || !SameVersion(st, now)) return kChanged;
    const std::string_view raw = loaded.raw;
    const bool oneSector = change.size == raw.size() && change.b.empty() && !change.a.empty() &&
                           change.offset / 512 == (change.offset + change.a.size() - 1) / 512;
    // A copy left by a write that did not finish may hold the only whole civ.ini: the
    // player decides, before anything writes over either.
    std::error_code ec;
    if (const fs::path left = BackupPath(job); !oneSector && !left.empty() && fs::exists(left, ec))
        return Final(Status::Fail(job.saving + L": a copy of it from a write that did not finish is " +
                                  Text(left) +
                                  L"; keep whichever of the two is whole, and delete the copy"));
    const fs::path backup = oneSector ? fs::path() : Backup(job, loaded.fd.get(), raw);
    // The game may have saved while the copy was made: then its save is the file to edit.
    if (::fstat(out.get(), &now) != 0 || !SameVersion(st, now) || loaded.mapping.Cut()) {
        if (!backup.empty()) ::unlink(backup.c_str());
        return kChanged;
    }
    const auto put = [&](std::size_t offset, std::string_view a, std::string_view b,
                         std::size_t size) {
        if (::lseek(out.get(), static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
        if (int e = WriteAll(out.get(), a, b, {})) return e;
        if (size < static_cast<std::size_t>(st.st_size) &&
            ::ftruncate(out.get(), static_cast<off_t>(size)) != 0)
            return errno;
        return 0;
    };
    int e = put(change.offset, change.a, tail, change.size);
    if (!e && ::fsync(out.get()) != 0) e = errno;
    if (!e && !readsBack(out.get())) e = -1;
    if (e) {
        // Put the old bytes back (they fit: they were there); the backup goes only then.
        if (put(change.offset, old, {}, raw.size()) == 0 &&
            ::ftruncate(out.get(), static_cast<off_t>(raw.size())) == 0 &&
            ::fsync(out.get()) == 0 && !backup.empty())
            ::unlink(backup.c_str());
        return Final(e < 0 ? Status::Fail(job.saving + L": it did not read back as written")
                           : Fail(job.saving, e));
    }
    if (!backup.empty()) ::unlink(backup.c_str());
    if (job.written && change.known && ::fstat(out.get(), &now) == 0)
        job.written->version = VersionOf(now);
    return Final(Status::Ok());
}

// One read, edit and write of the file. It gives up as "changed" when someone was
// writing the file while we read it, or began to before we could replace it: a piece of
// the game's save must never become civ.ini, and a whole one must not be lost. With
// redo, the file read is the one a save of the game's wrote after our rename (see Redo).
Attempt WriteOnce(const Job& job, std::unique_ptr<Redo>& redo) {
    const std::wstring& name = job.name;
    const fs::path& target = job.target;
    Content loaded;
    struct stat st {};
    Fd& in = loaded.fd;
    ReadLease& lease = loaded.lease;  // released before `in` is closed
    in.Reset(redo ? ::fcntl(redo->old.get(), F_DUPFD_CLOEXEC, 0) : OpenForReading(target));
    const bool exists = in.valid();
    if (!exists && errno != ENOENT) return Final(Fail(name + L" cannot be read", errno));
    // Whether the path no longer names what we read (or, redoing, what we wrote).
    const auto pathChanged = [&] {
        struct stat now;
        if (redo) return ::stat(target.c_str(), &now) != 0 || !SameVersion(redo->ours, now);
        if (!exists) return ::lstat(target.c_str(), &now) == 0;
        return ::stat(target.c_str(), &now) != 0 || now.st_ino != st.st_ino ||
               now.st_dev != st.st_dev;
    };
    if (exists) {
        if (::fstat(in.get(), &st) != 0) return Final(Fail(name + L" cannot be read", errno));
        if (S_ISDIR(st.st_mode)) return Final(Status::Fail(name + L" is a folder"));
        if (!S_ISREG(st.st_mode)) return Final(Status::Fail(name + L" is not a regular file"));
        // One writer of ours at a time; one that waited here finds the file replaced. Never
        // for long: another writer of ours holds it for one write, and a file system that
        // cannot lock a file open for reading (NFS) goes without.
        for (int waited = 0; ::flock(in.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
             ++waited) {
            if (waited == 200) return kChanged;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (::fstat(in.get(), &st) != 0) return Final(Fail(name + L" cannot be read", errno));
        if (pathChanged()) {
            redo.reset();  // a later save of the game's has taken its place
            return kChanged;
        }
        // No write bit at all is the read-only attribute the game's world knows: refused
        // even for root, who could write it.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return Final(Status::Fail(name + L" is read-only"));
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return Final(Fail(name + L" cannot be changed", errno));
        if (lease.Take(in.get()) == EAGAIN) return kChanged;  // being written now
        // Under the lease the file stands still; its size is the one to map.
        if (::fstat(in.get(), &st) != 0) return Final(Fail(name + L" cannot be read", errno));
        loaded.st = st;
        try {
            if (int e = loaded.Load()) {
                if (e == EBUSY) return kChanged;
                return Final(Fail(name + L" cannot be read", e));
            }
        } catch (const std::bad_alloc&) {
            return Final(Status::Fail(name + L" is too large to load into memory"));
        }
        st = loaded.st;
    }

    const std::string_view content = loaded.view;
    const std::optional<ProfileEdit> planned = PlanProfileWrite(content, job.section, job.key, job.value);
    // Redoing, the game's save goes in even when it holds our key already.
    if (!planned && !redo) return Final(Status::Ok());
    const ProfileEdit edit = planned ? *planned : ProfileEdit{content.size(), 0, {}, 0};
    // A UTF-16 file goes back whole in its own encoding; every character stays as it was.
    std::string whole;
    if (!loaded.utf16.empty()) {
        std::optional<std::string> back =
            Utf8ToUtf16(ApplyProfileEdit(content, edit), loaded.utf16);
        if (!back) return Final(Status::Fail(name + L" cannot be written back as UTF-16"));
        whole = std::move(*back) + loaded.odd;
    }
    const std::string_view after = content.substr(edit.offset + edit.erase);
    const bool sameSize = edit.insert.size() == edit.erase;
    Change change = !whole.empty()
                        ? Change{0, whole, {}, whole.size(), false}
                        : Change{edit.offset, edit.insert, sameSize ? "" : after,
                                 content.size() - edit.erase + edit.insert.size(), false};
    // What must reach the disk, read back from the section's header to the key's line:
    // the bytes before it are the old file's, so the game will read there what we read.
    std::string expected;
    std::optional<std::string_view> readsAs;
    if (loaded.utf16.empty() && planned) {
        const std::size_t end = EditedLineEnd(content, edit);
        expected.assign(content.substr(edit.section, edit.offset - edit.section));
        expected.append(edit.insert)
            .append(content.substr(edit.offset + edit.erase,
                                   end - edit.offset - edit.insert.size()));
        readsAs = FindProfileValue(expected, job.section, job.key);
    }
    const auto readsBack = [&](int fd) {
        if (expected.empty()) return true;
        std::string span(expected.size(), '\0');
        return readsAs && ::pread(fd, span.data(), span.size(), static_cast<off_t>(edit.section)) ==
                              static_cast<ssize_t>(span.size()) &&
               span == expected;
    };
    if (job.written && readsAs) job.written->value = *readsAs;
    change.known = readsAs.has_value();

    // A new file takes civ.ini's place when it can carry everything civ.ini is: owner,
    // group, mode, ACL and attributes, and no other name links to civ.ini. Otherwise
    // civ.ini is written in place, as the game does.
    const std::wstring& saving = job.saving;
    bool inPlace = exists && !redo && (st.st_nlink > 1 || !InFolderWeMayWrite(job.folder));
    std::optional<Temporary> temporary;
    if (!inPlace) {
        // An existing file's copy starts private and is given the original's owner,
        // bits and attributes before any byte goes in; a new file gets the usual bits
        // less the umask.
        temporary.emplace();
        const int e = CreateTemporary(job.folder, job.prefix, exists ? 0600 : 0666, *temporary);
        if (e && !(exists && (e == EACCES || e == EPERM)))
            return Final(Fail(saving + L" in " + Text(job.folder), e));
        inPlace = e || (exists && !TakeIdentity(in.get(), st, temporary->fd.get()));
    }
    if (inPlace) {
        temporary.reset();
        return WriteInPlace(job, loaded, st, change, readsBack);
    }

    // Still the version we read, and no one waiting to write it? Then it is ours to
    // replace; otherwise we let go and try again, so that the game's save goes through
    // whole and our key is set on top of it. The version checks stand in for the lease
    // where there is none: a save of the game's that was under way when we read goes on
    // writing the file we read, so they look again after the fsync.
    const auto readFileChanged = [&] { return exists && loaded.Stale(); };
    const int fd = temporary->fd.get();
    const int e = !whole.empty() ? WriteAll(fd, whole, {}, {})
                  : loaded.mapping.view().empty()
                      ? WriteAll(fd, content.substr(0, edit.offset), edit.insert, after)
                      : CopyWithEdit(in.get(), content, fd, edit);
    if (e) return readFileChanged() ? kChanged : Final(Fail(saving, e));

    if (lease.Broken() || readFileChanged() || pathChanged()) return kChanged;
    if (::fsync(fd) != 0) return Final(Fail(saving, errno));
    if (!readsBack(fd)) return Final(Status::Fail(saving + L": it did not read back as written"));
    if (lease.Broken() || readFileChanged()) return kChanged;
    if (int e = NameTemporary(job.folder, job.prefix, *temporary)) return Final(Fail(saving, e));
    // Exchanged rather than renamed where the file system can, so that what the new file
    // took the place of can be looked at: a save of the game's that arrived by rename
    // just before ours is swapped back, and our key goes on top of it.
    // Redoing, what we replace is our own last file: held, and under a lease, so that a
    // save landing on it now is seen as well.
    Fd previous;
    ReadLease previousLease;
    if (redo) {
        previous.Reset(OpenForReading(target));
        struct stat now;
        if (!previous.valid() || ::fstat(previous.get(), &now) != 0 || !SameVersion(redo->ours, now)) {
            redo.reset();  // a later save of the game's has taken its place
            return kChanged;
        }
        if (previousLease.Take(previous.get()) == EAGAIN) return kChanged;
    }
    const char* from = temporary->path.c_str();
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, target.c_str(), exists ? RENAME_EXCHANGE : RENAME_NOREPLACE) == 0) {
        struct stat replaced {};
        const struct stat& expected = redo ? redo->ours : st;
        if (exists && (::lstat(from, &replaced) != 0 || replaced.st_ino != expected.st_ino ||
                       replaced.st_dev != expected.st_dev)) {
            if (::renameat2(AT_FDCWD, from, AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
                return kChanged;
            // Ours stays in place; the other file (perhaps a save of the game's) is left
            // beside it, under a name our clean-up of abandoned temporaries never takes.
            const std::string kept = target.native() + ".quenbrook-kept";
            if (::rename(from, kept.c_str()) != 0) temporary->Keep();
        } else if (exists) {
            ::unlink(from);  // the old file, which we still hold
        }
    } else if (errno == EEXIST) {
        return kChanged;  // someone made the file meanwhile
    } else if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return Final(Fail(saving, errno));
    } else if (!exists && ::link(from, target.c_str()) == 0) {
        ::unlink(from);  // a link, like RENAME_NOREPLACE, never takes a file made meanwhile
    } else if (!exists && errno == EEXIST) {
        return kChanged;
    } else if (::rename(from, target.c_str()) != 0) {
        return Final(Fail(saving, errno));
    }
    temporary->Keep();
    struct stat ours {};
    ::fstat(fd, &ours);
    if (job.written && readsAs) job.written->version = VersionOf(ours);
    temporary.reset();

    // The rename itself lasts only once the folder is on disk.
    Fd dir(::open(job.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid() && ::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS)
        return Final(Fail(name + L" was replaced, but the disk did not confirm it", errno));
    const bool wasRedo = redo != nullptr;
    const struct stat replaced = wasRedo ? redo->ours : st;
    Fd& replacedFile = wasRedo ? previous : in;
    redo.reset();
    if (exists && OldFileWritten(replacedFile.get(), wasRedo ? previousLease : lease, replaced)) {
        redo = std::make_unique<Redo>();
        redo->old.Reset(replacedFile.Release());
        redo->ours = ours;
    }
    return Final(Status::Ok());
}

}  // namespace

Status WriteProfileValue(const fs::path& file, std::string_view section, std::string_view key,
                         std::string_view value, WrittenFile* written) {
    if (Status check = CheckProfileWrite(section, key, value); !check) return check;

    const std::wstring name = Text(file.filename());
    int err = 0;
    const fs::path target = FollowLinks(file, err);
    if (err) return Fail(name + L" cannot be opened", err);

    // The folder must already be there: creating one is never right for the game's file.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    struct stat folderStat;
    if (::stat(folder.c_str(), &folderStat) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Status::Fail(L"the folder " + Text(folder) + L" does not exist");
        return Fail(L"the folder " + Text(folder) + L" cannot be reached", errno);
    }
    if (!S_ISDIR(folderStat.st_mode)) return Status::Fail(Text(folder) + L" is not a folder");

    const Job job{target, folder, "." + target.filename().native() + std::string(kTemporaryMark),
                  name, name + L" cannot be saved", section, key, value, written};
    RemoveAbandonedTemporaries(folder, job.prefix);

    // While the game keeps saving, try again a little later each time, for about a second;
    // a save of the game's that landed on the file we replaced is taken up at once.
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Redo> redo;
    for (int attempt = 0;; ++attempt) {
        Attempt result = WriteOnce(job, redo);
        if (!result.changed && (!redo || !result.status)) return result.status;
        if (redo && !result.changed) continue;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(1))
            return Status::Fail(name +
                                L" is being written by another program (is the game "
                                L"saving it?); try again");
        std::this_thread::sleep_for(std::chrono::microseconds(100 << std::min(attempt, 5)));
    }
}

}  // namespace quenbrook
