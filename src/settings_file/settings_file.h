#pragma once
// The game's settings file, civ.ini, is the only settings store the program has: it
// keeps the game's path there next to the key the game reads.
#include <string>

#include "platform/platform.h"

namespace quenbrook {

// Where the game keeps civ.ini: the Windows directory, never looked up.
inline constexpr const wchar_t* kCivIniPath = L"C:\\Windows\\civ.ini";

inline constexpr const wchar_t* kPathSection = L"Civ2";
inline constexpr const wchar_t* kPathKey = L"Path";
inline constexpr const wchar_t* kOptionSection = L"Civilization Gold";
inline constexpr const wchar_t* kOptionKey = L"Simultaneous";

class SettingsFile {
public:
    explicit SettingsFile(SystemCalls& system) : system_(system) {}

    // Names the file that every later read and write uses.
    void SetIniFilePath(std::wstring path) { iniFilePath_ = std::move(path); }
    const std::wstring& IniFilePath() const { return iniFilePath_; }

    // The key's whole value, or the empty text when the file, section or key is missing.
    std::wstring ReadIniString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& file) const;

    // Sets the key in the file named by IniFilePath; the file is changed whole or not at all.
    Status WriteIniString(const std::wstring& section, const std::wstring& key,
                          const std::wstring& value);

private:
    SystemCalls& system_;
    std::wstring iniFilePath_;
};

}  // namespace quenbrook
