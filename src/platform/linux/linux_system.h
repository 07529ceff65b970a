#pragma once
// The Linux host: the game runs under Wine, so Windows paths lead into the Wine prefix,
// the profile calls are served by our own byte-preserving engine, and programs start
// through Wine or directly. Standard library and POSIX only: no Qt, so the command
// line uses it without a display.
#include <filesystem>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace quenbrook {

class LinuxSystem : public SystemCalls {
public:
    // Hands a callback to the thread that runs the window; the command line, which has
    // none, may run it in place.
    using Post = std::function<void(std::function<void()>)>;

    // prefix: the Wine prefix in use (see WinePrefixFromEnvironment).
    LinuxSystem(std::filesystem::path prefix, Post post);

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

    const std::filesystem::path& prefix() const { return prefix_; }

private:
    std::filesystem::path prefix_;
    Post post_;
};

}  // namespace quenbrook
