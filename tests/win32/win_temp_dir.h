#pragma once
// A fresh folder under Windows' temporary folder, removed with everything in it, and
// small file helpers for the Windows tests.
#include <string>
#include <string_view>

namespace quenbrook::testing {

class WinTempDir {
public:
    WinTempDir();
    ~WinTempDir();
    WinTempDir(const WinTempDir&) = delete;
    WinTempDir& operator=(const WinTempDir&) = delete;

    // The folder as a Windows path, without a trailing backslash.
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "\\" + std::string(name); }

private:
    std::string path_;
};

std::string ReadBytes(const std::string& file);
void WriteBytes(const std::string& file, std::string_view bytes);
bool Exists(const std::string& file);
std::wstring Wide(std::string_view ascii);
// The folder this test program was started from.
std::string ProgramFolder();

}  // namespace quenbrook::testing
