#include "actions/actions.h"

namespace quenbrook {

Status SetOption(SettingsFile& settings, const std::wstring& value) {
    const Status written = settings.WriteIniString(kOptionSection, kOptionKey, value);
    // Judge by what the game will read, not by the write alone.
    if (settings.ReadIniString(kOptionSection, kOptionKey, settings.IniFilePath()) == value)
        return Status::Ok();
    if (!written) return written;
    return Status::Fail(L"the file did not keep the change");
}

Status LockIniFile(SystemCalls& system) {
    return system.SetFileAttributes(kCivIniForAttributes, kAttributeReadOnly);
}

Status UnlockIniFile(SystemCalls& system) {
    return system.SetFileAttributes(kCivIniForAttributes, kAttributeNormal);
}

Status LaunchGame(SystemCalls& system, const std::wstring& path) {
    return system.StartProgram(path, kShowMaximized, /*inProgramFolder=*/true);
}

Status SavePath(SettingsFile& settings, const std::wstring& path) {
    return settings.WriteIniString(kPathSection, kPathKey, path);
}

std::wstring StoredPath(SettingsFile& settings) {
    return settings.ReadIniString(kPathSection, kPathKey, settings.IniFilePath());
}

}  // namespace quenbrook
