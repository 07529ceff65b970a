#include "platform/linux/profile_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "platform/linux/code_page.h"
#include "platform/linux/narrow.h"
#include "platform/linux/profile_engine.h"

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

private:
    int fd_;
};

// The temporary file, removed unless it has been renamed into place.
class Temporary {
public:
    ~Temporary() {
        fd.Close();
        if (!path.empty()) ::unlink(path.c_str());
    }
    void Keep() { path.clear(); }

    fs::path path;
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

// A read-only view of a file's pages in the page cache. Scanning it costs no copy and no
// fresh memory, which for a large civ.ini is most of the price of a read. Only taken
// under a read lease: no one can then shrink the file under the view.
class Mapping {
public:
    Mapping() = default;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping() {
        if (data_) ::munmap(data_, size_);
    }
    bool Map(int fd, std::size_t size) {
        void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) return false;
        ::madvise(p, size, MADV_SEQUENTIAL);
        data_ = p;
        size_ = size;
        return true;
    }
    std::string_view view() const { return {static_cast<const char*>(data_), size_}; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
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

// A read lease on the file we read. The kernel grants it only while no one has the file
// open for writing, and breaks it as soon as someone opens it to write (that opener
// waits until we let go), so a lease held across our read proves the read was not of a
// save half done. Where leases are not available (some file systems, another user's
// file) the version checks stand alone.
class ReadLease {
public:
    // 0 when held, EAGAIN when someone has the file open for writing, else unavailable.
    int Take(int fd) {
        // The break is announced by a signal, SIGIO unless told otherwise, and SIGIO
        // would end the program; SIGURG is ignored unless someone handles it. We look
        // with F_GETLEASE instead of waiting for the signal.
        if (::fcntl(fd, F_SETSIG, SIGURG) != 0 || ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
            return errno;
        fd_ = fd;
        return 0;
    }
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
// content), else read into memory; a UTF-16 file (which
// the engine reads as UTF-8) converted.
struct Content {
    // Declared in this order so that the view goes before the lease, and the lease before
    // the file it is held on: the mapping may be read only under the lease.
    Fd fd;
    ReadLease lease;
    Mapping mapping;
    FileBytes bytes;
    std::string converted;
    std::string_view view;
    std::string utf16;  // the UTF-16 encoding the file was in, or empty

    // Takes in what was loaded, converting UTF-16. False when a UTF-16 file is broken.
    bool Settle(std::string_view loaded) {
        view = loaded;
        if (!loaded.starts_with("\xFF\xFE") && !loaded.starts_with("\xFE\xFF")) return true;
        utf16 = FileEncoding(loaded, 0);
        std::optional<std::string> utf8 = Utf16ToUtf8(loaded);
        if (!utf8) return false;
        converted = std::move(*utf8);
        view = converted;
        return true;
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

// Creates a new temporary file with a name no one else has (O_EXCL) and locks it.
int CreateTemporary(const fs::path& folder, const std::string& prefix, mode_t mode,
                    Temporary& temporary) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto ticks = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        const unsigned long long mix =
            ticks ^ (static_cast<unsigned long long>(::getpid()) << 32) ^
            (static_cast<unsigned long long>(counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull);
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", mix);
        const fs::path path = folder / (prefix + suffix + std::string(kTemporaryEnd));
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
bool LoadRegularFile(const fs::path& file, Content& content) {
    Fd& fd = content.fd;
    ReadLease& lease = content.lease;
    fd.Reset(OpenForReading(file));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // While the game is saving, wait a moment for the save to end rather than read half
    // of it; a file that stays open for writing is read as it is.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    int leased;
    while ((leased = lease.Take(fd.get())) == EAGAIN && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    // Under the lease the file stands still; its size is the one to map.
    if (leased == 0 && ::fstat(fd.get(), &st) == 0 && st.st_size > 0 &&
        content.mapping.Map(fd.get(), static_cast<std::size_t>(st.st_size)))
        return content.Settle(content.mapping.view());
    try {
        return ReadStable(fd.get(), st, content.bytes) == 0 && content.Settle(content.bytes.view());
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
    Content content;
    if (!LoadRegularFile(file, content)) return std::nullopt;
    return std::string(content.view);
}

std::optional<std::string> ReadProfileValue(const fs::path& file, std::string_view section,
                                            std::string_view key) {
    Content content;
    if (!LoadRegularFile(file, content)) return std::nullopt;
    const std::optional<std::string_view> value = FindProfileValue(content.view, section, key);
    if (!value) return std::nullopt;
    return std::string(*value);
}

namespace {

// What one attempt at a write came to: a final status, or "the file changed under us".
struct Attempt {
    bool changed = false;
    Status status = Status::Ok();
};

Attempt Final(Status status) { return Attempt{false, std::move(status)}; }

// One read, edit and replace of target. It gives up as "changed" when someone was
// writing the file while we read it, or began to before we could replace it: a piece of
// the game's save must never become civ.ini, and a whole one should not be lost.
Attempt WriteOnce(const fs::path& target, const fs::path& folder, const std::string& prefix,
                  const std::wstring& name, std::string_view section, std::string_view key,
                  std::string_view value, WrittenFile* written) {
    Content loaded;
    struct stat st {};
    Fd& in = loaded.fd;
    in.Reset(OpenForReading(target));
    ReadLease& lease = loaded.lease;  // released before `in` is closed
    const bool exists = in.valid();
    if (!exists && errno != ENOENT) return Final(Fail(name + L" cannot be read", errno));
    if (exists) {
        if (::fstat(in.get(), &st) != 0) return Final(Fail(name + L" cannot be read", errno));
        if (S_ISDIR(st.st_mode)) return Final(Status::Fail(name + L" is a folder"));
        if (!S_ISREG(st.st_mode)) return Final(Status::Fail(name + L" is not a regular file"));
        // No write bit at all is the read-only attribute the game's world knows: refused
        // even for root, who could write it.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return Final(Status::Fail(name + L" is read-only"));
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return Final(Fail(name + L" cannot be changed", errno));
        const int leased = lease.Take(in.get());
        if (leased == EAGAIN) return Attempt{true};  // being written now
        if (leased == 0 && ::fstat(in.get(), &st) == 0 && st.st_size > 0 &&
            loaded.mapping.Map(in.get(), static_cast<std::size_t>(st.st_size))) {
            loaded.view = loaded.mapping.view();
        } else {
            try {
                if (int e = ReadStable(in.get(), st, loaded.bytes)) {
                    if (e == EBUSY) return Attempt{true};
                    return Final(Fail(name + L" cannot be read", e));
                }
            } catch (const std::bad_alloc&) {
                return Final(Status::Fail(name + L" is too large to load into memory"));
            }
            loaded.view = loaded.bytes.view();
        }
        if (!loaded.Settle(loaded.view))
            return Final(Status::Fail(name + L" is marked as UTF-16 but is not valid UTF-16"));
    }

    const std::string_view content = loaded.view;
    const std::optional<ProfileEdit> edit = PlanProfileWrite(content, section, key, value);
    if (!edit) return Final(Status::Ok());
    // A UTF-16 file goes back whole in its own encoding; every character stays as it was.
    std::string whole;
    if (!loaded.utf16.empty()) {
        std::optional<std::string> back =
            Utf8ToUtf16(ApplyProfileEdit(content, *edit), loaded.utf16);
        if (!back) return Final(Status::Fail(name + L" cannot be written back as UTF-16"));
        whole = std::move(*back);
    }

    const std::wstring saving = name + L" cannot be saved";
    Temporary temporary;
    // An existing file's copy starts private and is given the original's owner and
    // bits before any byte goes in; a new file gets the usual bits less the umask.
    if (int e = CreateTemporary(folder, prefix, exists ? 0600 : 0666, temporary))
        return Final(Fail(saving + L" in " + Text(folder), e));
    const int fd = temporary.fd.get();
    if (exists) {
        // chown clears set-id bits, so it goes first. Without root we cannot give a file
        // away; that is fine only when it is ours already.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0 && st.st_uid != ::geteuid())
            return Final(Fail(saving + L" with its owner kept", errno));
        if (::fchmod(fd, st.st_mode & 07777) != 0)
            return Final(Fail(saving + L" with its permissions kept", errno));
    }
    const int e = !loaded.utf16.empty() ? WriteAll(fd, whole, {}, {})
                  : loaded.mapping.view().empty()
                      ? WriteAll(fd, content.substr(0, edit->offset), edit->insert,
                                 content.substr(edit->offset + edit->erase))
                      : CopyWithEdit(in.get(), content, fd, *edit);
    if (e) return Final(Fail(saving, e));

    // Still the version we read, and no one waiting to write it? Then it is ours to
    // replace; otherwise we let go and try again, so that the game's save goes through
    // whole and our key is set on top of it. The version checks stand in for the lease
    // where there is none: a save of the game's that was under way when we read goes on
    // writing the file we read, so they look again after the fsync.
    const auto readFileChanged = [&] {
        struct stat now;
        return ::fstat(in.get(), &now) != 0 || !SameVersion(st, now);
    };
    const auto pathChanged = [&] {
        struct stat now;
        if (!exists) return ::lstat(target.c_str(), &now) == 0;
        return ::stat(target.c_str(), &now) != 0 || now.st_ino != st.st_ino ||
               now.st_dev != st.st_dev;
    };
    if (lease.Broken() || (exists && readFileChanged()) || pathChanged()) return Attempt{true};
    if (::fsync(fd) != 0) return Final(Fail(saving, errno));
    // What reached the disk, read back from the section's header to the key's line: the
    // bytes before it are the old file's, so the game will read there what we read.
    std::string readsAs;
    if (loaded.utf16.empty()) {
        const std::size_t end = EditedLineEnd(content, *edit);
        std::string planned(content.substr(edit->section, edit->offset - edit->section));
        planned.append(edit->insert)
            .append(content.substr(edit->offset + edit->erase,
                                   end - edit->offset - edit->insert.size()));
        std::string span(planned.size(), '\0');
        const auto found = FindProfileValue(planned, section, key);
        if (::pread(fd, span.data(), span.size(), static_cast<off_t>(edit->section)) !=
                static_cast<ssize_t>(span.size()) ||
            span != planned || !found)
            return Final(Status::Fail(saving + L": it did not read back as written"));
        readsAs = *found;
    }
    if (lease.Broken() || (exists && readFileChanged())) return Attempt{true};
    if (::rename(temporary.path.c_str(), target.c_str()) != 0) return Final(Fail(saving, errno));
    lease.Release();
    temporary.Keep();
    struct stat now;
    if (written && loaded.utf16.empty() && ::fstat(fd, &now) == 0)
        *written = {VersionOf(now), std::move(readsAs)};
    temporary.fd.Close();

    // The rename itself lasts only once the folder is on disk.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid() && ::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS)
        return Final(Fail(name + L" was replaced, but the disk did not confirm it", errno));
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

    const std::string prefix = "." + target.filename().native() + std::string(kTemporaryMark);
    RemoveAbandonedTemporaries(folder, prefix);

    // While the game keeps saving, try again a little later each time, for about a second.
    const auto start = std::chrono::steady_clock::now();
    for (int attempt = 0;; ++attempt) {
        Attempt result = WriteOnce(target, folder, prefix, name, section, key, value, written);
        if (!result.changed) return result.status;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(1))
            return Status::Fail(name +
                                L" is being written by another program (is the game "
                                L"saving it?); try again");
        std::this_thread::sleep_for(std::chrono::microseconds(100 << std::min(attempt, 5)));
    }
}

}  // namespace quenbrook
