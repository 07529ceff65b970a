#pragma once
// The Windows host: the real profile calls, file attributes, CreateProcess and the shell.
#include "platform/platform.h"

namespace quenbrook {

class Win32System : public SystemCalls {
public:
    std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& fallback, const std::wstring& file) override;
    Status WriteProfileString(const std::wstring& section, const std::wstring& key,
                              const std::wstring& value, const std::wstring& file) override;
    Status SetFileAttributes(const std::wstring& file, unsigned attributes) override;
    bool IsReadOnly(const std::wstring& file) override;
    Status StartProgram(const std::wstring& commandLine, int windowStyle,
                        bool inProgramFolder) override;
    void OpenInEditor(const std::wstring& file, std::function<void(Status)> done) override;
    void ShellOpen(const std::wstring& link, std::function<void(ShellResult)> done) override;
    std::wstring HostPath(const std::wstring& windowsPath) override;
};

// Ok when section, key and value make one readable line each in the game's file;
// otherwise why they would not (line breaks or NUL would inject lines, and so on).
Status CheckProfileArguments(const std::wstring& section, const std::wstring& key,
                             const std::wstring& value);

// The editor command line for file, as the original program ran it.
std::wstring EditorCommandLine(const std::wstring& file);

}  // namespace quenbrook
