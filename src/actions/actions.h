#pragma once
// The program's actions, one implementation each, shared by the window and the
// command line. Each reports failure with a reason a person can read.
#include <string>

#include "platform/platform.h"
#include "settings_file/settings_file.h"

namespace quenbrook {

// The value the game needs for simultaneous turns (the hidden Text1 holds it).
inline constexpr const wchar_t* kSimultaneousOn = L"1";

// civ.ini as the attribute calls and the editor name it.
inline constexpr const wchar_t* kCivIniForAttributes = L"c:\\windows\\civ.ini";

// Writes the option and checks that civ.ini now holds it. A refused write still counts
// as done when the file already held the value (a locked file that has the option).
Status SetOption(SettingsFile& settings, const std::wstring& value);

// Marks civ.ini read-only so that the game cannot drop the option when it quits.
Status LockIniFile(SystemCalls& system);

// Clears civ.ini's attributes: writable again, neither hidden nor system.
Status UnlockIniFile(SystemCalls& system);

// Starts the game that path names, in the game's own folder.
Status LaunchGame(SystemCalls& system, const std::wstring& path);

// Remembers the game's path in civ.ini for the next start.
Status SavePath(SettingsFile& settings, const std::wstring& path);

// The stored game path, whole.
std::wstring StoredPath(SettingsFile& settings);

}  // namespace quenbrook
