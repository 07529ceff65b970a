#include "settings_file/settings_file.h"

namespace quenbrook {

// The value comes back whole: a fixed-size buffer would cut a long game path, and the
// next Exit would store the cut path.
std::wstring SettingsFile::ReadIniString(const std::wstring& section, const std::wstring& key,
                                         const std::wstring& file) const {
    return system_.GetProfileString(section, key, L"", file);
}

Status SettingsFile::WriteIniString(const std::wstring& section, const std::wstring& key,
                                    const std::wstring& value) {
    return system_.WriteProfileString(section, key, value, iniFilePath_);
}

}  // namespace quenbrook
