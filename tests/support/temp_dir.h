#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it,
// and whole-file helpers for tests: bytes in (making the folders), bytes out.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quenbrook::testing {

class TempDir {
public:
    // under: where, when not the system's temporary folder (/dev/shm: no disk to wait for).
    explicit TempDir(const std::filesystem::path& under = std::filesystem::temp_directory_path())
        : path_((under / "quenbrook-test-XXXXXX").string()) {
        if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        // Tests leave files read-only on purpose; make them removable first.
        // Links are left alone: their targets may lie outside this folder.
        for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
            if (!it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;  // one owner removes the folder

    std::filesystem::path path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path() / name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const std::filesystem::path& file, std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream(file, std::ios::binary) << bytes;
}

}  // namespace quenbrook::testing
