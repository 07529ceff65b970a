#pragma once
// The Windows host: the real profile calls, file attributes, CreateProcess and the shell.
// The game's civ.ini is first resolved to the file the game really reads (see
// civ_ini_location.h); every other file is used as named.
#include "platform/platform.h"
#include "platform/win32/civ_ini_location.h"

namespace quenbrook {

// The facts about this machine that decide which file is the game's civ.ini.
CivIniFacts GatherCivIniFacts(const std::wstring& original);

class Win32System : public SystemCalls {
public:
    using FactsSource = std::function<CivIniFacts(const std::wstring& original)>;
    // Tests hand in their own facts (a scripted denial, a temporary local app data).
    explicit Win32System(FactsSource facts = GatherCivIniFacts) : facts_(std::move(facts)) {}

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

private:
    struct Target {
        std::wstring file;      // what a change goes to
        std::wstring readFrom;  // what is read now (the original until its copy exists)
        bool createCopy = false;
        std::wstring original;
    };
    Target Resolve(const std::wstring& file);
    // The copy Windows would make for the game, before the first change goes to it.
    Status Prepare(const Target& target);

    FactsSource facts_;
};

// Ok when section, key and value make one readable line each in the game's file;
// otherwise why they would not (line breaks or NUL would inject lines, and so on).
Status CheckProfileArguments(const std::wstring& section, const std::wstring& key,
                             const std::wstring& value);

// The editor command line for file, as the original program ran it.
std::wstring EditorCommandLine(const std::wstring& file);

}  // namespace quenbrook
