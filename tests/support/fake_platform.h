#pragma once
// A platform that opens nothing: it keeps profile files in memory, writes every call as
// a line of one transcript, in order, and answers as the test scripts it.
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quenbrook::testing {

// ASCII texts as bytes, for transcripts and failure output.
std::string Narrow(const std::wstring& s);

class FakePlatform : public SystemCalls, public WindowSystem {
public:
    // --- What the test scripts ---
    // file -> section -> key -> value (names folded to lower case, as Windows matches them).
    std::map<std::wstring, std::map<std::wstring, std::map<std::wstring, std::wstring>>> files;
    std::map<std::wstring, unsigned> attributes;   // last attribute set per file
    std::optional<std::wstring> writeFailure;      // every write fails with this reason
    bool writesVanish = false;                     // writes report success and keep nothing
    std::optional<std::wstring> attributeFailure;  // every attribute change fails
    std::optional<std::wstring> startFailure;      // every program start fails
    std::optional<std::wstring> editorFailure;     // the editor fails to open
    ShellResult shellAnswer{33, 0};
    bool shellThrows = false;
    bool answerLater = false;  // hold editor and shell answers until RunPending()
    std::deque<std::optional<std::wstring>> dialogAnswers;  // nullopt: the user cancels

    // --- What the test reads: "message TITLE: TEXT", "write S/K=V", "end", ... ---
    std::vector<std::string> calls;

    void RunPending();

    std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& fallback, const std::wstring& file) override;
    Status WriteProfileString(const std::wstring& section, const std::wstring& key,
                              const std::wstring& value, const std::wstring& file) override;
    Status SetFileAttributes(const std::wstring& file, unsigned attrs) override;
    // Files whose last attribute set is read-only refuse writes.
    bool IsReadOnly(const std::wstring& file) override;
    Status StartProgram(const std::wstring& commandLine, int windowStyle,
                        bool inProgramFolder) override;
    void OpenInEditor(const std::wstring& file, std::function<void(Status)> done) override;
    void ShellOpen(const std::wstring& link, std::function<void(ShellResult)> done) override;
    std::wstring HostPath(const std::wstring& windowsPath) override;

    void MessageBox(const std::wstring& text, const std::wstring& title) override;
    std::optional<std::wstring> ShowOpen(const std::wstring& filter,
                                         const std::wstring& initialFile) override;
    void SetMousePointer(int pointer) override;
    void EndProgram() override;

private:
    static std::wstring Fold(const std::wstring& s);
    std::vector<std::function<void()>> pending_;
};

}  // namespace quenbrook::testing
