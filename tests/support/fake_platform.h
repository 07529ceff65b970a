#pragma once
// A platform that opens nothing: it keeps profile files in memory, writes every call as
// a line of one transcript, in order, and answers as the test scripts it.
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quenbrook::testing {

// ASCII texts as bytes, for transcripts and failure output.
inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

class FakePlatform : public SystemCalls, public WindowSystem {
public:
    // --- What the test scripts ---
    // file -> section -> key -> value (names folded to lower case, as Windows matches them).
    std::map<std::wstring, std::map<std::wstring, std::map<std::wstring, std::wstring>>> files;
    std::map<std::wstring, unsigned> attributes;  // last attribute set per file; read-only refuses writes
    // By a call's first word ("write", "attributes", "start", "edit", "shell"): every such
    // call fails with this reason; the shell call throws.
    std::map<std::string, std::wstring> failures;
    bool writesVanish = false;  // writes report success and keep nothing
    bool answerLater = false;   // hold editor and shell answers until RunPending()
    ShellResult shellAnswer{33, 0};
    std::deque<std::optional<std::wstring>> dialogAnswers;  // nullopt, or none left: cancelled

    // --- What the test reads: "message TITLE: TEXT", "write S/K=V", "end", ... ---
    std::vector<std::string> calls;

    // The held answers arrive: "(answers)" in the transcript, then what they caused.
    void RunPending() {
        calls.push_back("(answers)");
        for (auto pending = std::move(pending_); auto& f : pending) f();
    }

    std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& fallback, const std::wstring& file) override {
        calls.push_back("read " + Narrow(section) + "/" + Narrow(key));
        auto& keys = files[Fold(file)][Fold(section)];
        return keys.contains(Fold(key)) ? keys[Fold(key)] : fallback;
    }
    Status WriteProfileString(const std::wstring& section, const std::wstring& key,
                              const std::wstring& value, const std::wstring& file) override {
        Status s = Heard("write " + Narrow(section) + "/" + Narrow(key) + "=" + Narrow(value));
        if (s && IsReadOnly(file)) return Status::Fail(L"civ.ini is read-only");
        if (s && !writesVanish) files[Fold(file)][Fold(section)][Fold(key)] = value;
        return s;
    }
    Status SetFileAttributes(const std::wstring& file, unsigned attrs) override {
        Status s = Heard("attributes " + std::to_string(attrs));
        if (s) attributes[Fold(file)] = attrs;
        return s;
    }
    bool IsReadOnly(const std::wstring& file) override { return attributes[Fold(file)] == kAttributeReadOnly; }
    Status StartProgram(const std::wstring& commandLine, int style, bool inItsFolder) override {
        return Heard("start " + Narrow(commandLine) + " style " + std::to_string(style) +
                     (inItsFolder ? " in its folder" : ""));
    }
    void OpenInEditor(const std::wstring& file, std::function<void(Status)> done) override {
        Answer([done, s = Heard("edit " + Narrow(file))] { done(s); });
    }
    void ShellOpen(const std::wstring& link, std::function<void(ShellResult)> done) override {
        if (!Heard("shell " + Narrow(link))) throw std::runtime_error("the shell library is missing");
        Answer([done, r = shellAnswer] { done(r); });
    }
    std::wstring HostPath(const std::wstring& windowsPath) override { return L"/host/" + windowsPath; }

    void MessageBox(const std::wstring& text, const std::wstring& title) override {
        calls.push_back("message " + Narrow(title) + ": " + Narrow(text));
    }
    std::optional<std::wstring> ShowOpen(const std::wstring& filter, const std::wstring& initialFile) override {
        calls.push_back("dialog " + Narrow(filter) + " at " + Narrow(initialFile));
        if (dialogAnswers.empty()) return std::nullopt;
        auto answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        return answer;
    }
    void SetMousePointer(int pointer) override { calls.push_back("pointer " + std::to_string(pointer)); }
    void EndProgram() override { calls.push_back("end"); }

private:
    static std::wstring Fold(std::wstring s) {
        for (wchar_t& c : s)
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        return s;
    }
    // Records the call; it fails as scripted for its first word.
    Status Heard(const std::string& call) {
        calls.push_back(call);
        const auto f = failures.find(call.substr(0, call.find(' ')));
        return f == failures.end() ? Status::Ok() : Status::Fail(f->second);
    }
    void Answer(std::function<void()> f) {
        if (answerLater)
            pending_.push_back(std::move(f));
        else
            f();
    }
    std::vector<std::function<void()>> pending_;
};

}  // namespace quenbrook::testing
