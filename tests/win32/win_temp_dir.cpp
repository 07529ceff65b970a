#include "win_temp_dir.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace quenbrook::testing {
namespace fs = std::filesystem;

WinTempDir::WinTempDir() {
    char base[MAX_PATH + 1] = {};
    if (!GetTempPathA(sizeof base, base)) throw std::runtime_error("no temporary folder");
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = std::string(base) + "quenbrook-test-" +
                                std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

WinTempDir::~WinTempDir() {
    std::error_code ec;
    // Tests leave files read-only on purpose; clear that before removing them.
    for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path_, ec);
}

std::string ReadBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const std::string& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const std::string& file) { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Wide(std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string ProgramFolder() {
    char self[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self);
    return path.substr(0, path.find_last_of('\\'));
}

}  // namespace quenbrook::testing
