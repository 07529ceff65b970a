#pragma once
// The Windows host: the real profile calls, file attributes, CreateProcess and the shell.
// The game's civ.ini is first resolved to the file the game really reads (see
// civ_ini_location.h); every other file is used as named.
#include <vector>

#include "platform/platform.h"
#include "platform/win32/civ_ini_location.h"

namespace quenbrook {

// The facts about this machine that decide which file is the game's civ.ini.
CivIniFacts GatherCivIniFacts(const std::wstring& original);

// A program to start, in the system's ANSI code page.
struct ProgramStart {
    std::string commandLine;  // for CreateProcess: the program quoted, then its arguments
    std::string program;
    std::string arguments;
    std::string folder;  // where it starts; empty: where we are
    int show = 0;        // its window's SW_ value
};
// Each returns 0 when the program started, else the system's error code.
unsigned long CreateProcessStart(const ProgramStart& start);
// As Explorer starts a program: through the shell, which asks for administrator rights
// when the program needs them.
unsigned long ShellStart(const ProgramStart& start);

// How programs are started; tests script the answers Wine cannot give.
struct Starter {
    std::function<unsigned long(const ProgramStart&)> create = CreateProcessStart;
    std::function<unsigned long(const ProgramStart&)> shell = ShellStart;
};

class Win32System : public SystemCalls {
public:
    using FactsSource = std::function<CivIniFacts(const std::wstring& original)>;
    // Tests hand in their own facts (a scripted denial, a temporary local app data) and
    // their own starter.
    explicit Win32System(FactsSource facts = GatherCivIniFacts, Starter starter = {})
        : facts_(std::move(facts)), starter_(std::move(starter)) {}

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
        bool needsAdministrator = false;
    };
    Target Resolve(const std::wstring& file);
    // The copy Windows would make for the game, before the first change goes to it.
    Status Prepare(const Target& target);

    FactsSource facts_;
    Starter starter_;
};

// Runs program (empty: this program) with arguments through the shell's "runas" verb,
// so that Windows asks for administrator rights, and waits for it: ok when it ended
// with 0. owner is the window the request belongs to (an HWND, or none).
Status RunAsAdministrator(const std::wstring& program, const std::vector<std::wstring>& arguments,
                          void* owner = nullptr);

// For the command line: when civ.ini can only be changed with administrator rights
// (the game runs as administrator), how to do that with these arguments; else empty.
std::wstring AdministratorAdvice(const std::vector<std::wstring>& arguments);

// Ok when section, key and value make one readable line each in the game's file;
// otherwise why they would not (line breaks or NUL would inject lines, and so on).
Status CheckProfileArguments(const std::wstring& section, const std::wstring& key,
                             const std::wstring& value);

// The editor command line for file, as the original program ran it.
std::wstring EditorCommandLine(const std::wstring& file);

}  // namespace quenbrook
