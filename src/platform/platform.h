#pragma once
// Every operation the program asks of its host. Form1, the settings file and the
// link opener are handed these interfaces and reach the outside world only through
// them; each host has one backend (linux/, win32/), and tests hand in a recording fake.
//
// SystemCalls holds what works without a window (and so serves the command line);
// WindowSystem holds what needs the window system.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace quenbrook {

// Attribute values as the Windows file-attribute calls take them.
inline constexpr unsigned kAttributeReadOnly = 1;   // FILE_ATTRIBUTE_READONLY
inline constexpr unsigned kAttributeNormal = 128;   // FILE_ATTRIBUTE_NORMAL

// Window style for a started program: maximized, given the focus.
inline constexpr int kShowMaximized = 3;

// Mouse pointer values.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

// What the shell answered for a link: the shell's own result (above 32 is success on
// Windows) and the platform's last error code after the call.
struct ShellResult {
    long result = 0;
    unsigned long lastError = 0;
    bool failed() const { return result <= 32; }
};

class SystemCalls {
public:
    virtual ~SystemCalls() = default;

    // The value of key in section of the profile file, whole however long; fallback
    // when the file, the section or the key is missing or unreadable.
    virtual std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                          const std::wstring& fallback,
                                          const std::wstring& file) = 0;

    // Sets key in section to value, creating section and file when missing and keeping
    // every other line. The file is either fully rewritten or left untouched.
    virtual Status WriteProfileString(const std::wstring& section, const std::wstring& key,
                                      const std::wstring& value, const std::wstring& file) = 0;

    // Replaces the file's attribute set with kAttributeReadOnly or kAttributeNormal.
    virtual Status SetFileAttributes(const std::wstring& file, unsigned attributes) = 0;

    // Whether the file is in the read-only state (false when it does not exist).
    virtual bool IsReadOnly(const std::wstring& file) = 0;

    // Starts the program that commandLine names, detached, with the given window style.
    // When inProgramFolder, it starts in the folder of its own executable. Returns once
    // the program has started or failed to.
    virtual Status StartProgram(const std::wstring& commandLine, int windowStyle,
                                bool inProgramFolder) = 0;

    // Opens file in the host's text editor; done runs on the window's thread when the
    // outcome is known (at once where the host answers at once).
    virtual void OpenInEditor(const std::wstring& file, std::function<void(Status)> done) = 0;

    // Asks the shell to open a link with the program associated with it; done runs on
    // the window's thread with the shell's answer.
    virtual void ShellOpen(const std::wstring& link, std::function<void(ShellResult)> done) = 0;

    // Where a Windows path leads on this host, for messages and dialogs.
    virtual std::wstring HostPath(const std::wstring& windowsPath) = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Modal box with one OK button and no icon; returns when the user closes it.
    virtual void MessageBox(const std::wstring& text, const std::wstring& title) = 0;

    // Modal file-open dialog with a "Description|Pattern|" filter, starting in the folder
    // of initialFile when that exists. The chosen file, or nothing when cancelled.
    virtual std::optional<std::wstring> ShowOpen(const std::wstring& filter,
                                                 const std::wstring& initialFile) = 0;

    // Asks, in a modal box with Yes and No, whether to do a refused change with
    // administrator rights; on Yes runs this program again, elevated, with options (its
    // command line) and waits for it. Its outcome; nothing when the player says No or the
    // host has no such rights to offer.
    virtual std::optional<Status> OfferAdministratorRun(const std::wstring& text, const std::wstring& title,
                                                        const std::vector<std::wstring>& options) = 0;

    // Sets the screen's mouse pointer (kPointerDefault or kPointerHourglass).
    virtual void SetMousePointer(int pointer) = 0;

    // Ends the program at once: no further handler runs.
    virtual void EndProgram() = 0;
};

}  // namespace quenbrook
