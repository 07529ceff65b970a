#pragma once
// A platform (and a view for Form1) that opens nothing: it keeps profile files in memory,
// writes every call as a line of one transcript, in order, and answers as the test scripts it.
#include <algorithm>
#include <cwctype>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "main_window/form1.h"
#include "platform/platform.h"

namespace quenbrook::testing {

// ASCII texts as bytes, for transcripts and failure output.
inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

class FakePlatform : public SystemCalls, public WindowSystem, public Form1View {
public:
    // Scripted: "file|section|key" -> value, in lower case (Windows matches the names so).
    std::map<std::wstring, std::wstring> values;
    std::map<std::wstring, unsigned> attributes;  // last attribute set per file; read-only refuses writes
    // By a call's first word ("write", "attributes", "start", "edit", "shell"): every such
    // call fails with this reason; the shell call throws.
    std::map<std::string, std::wstring> failures;
    bool failuresNeedAdministrator = false;  // scripted failures are ones only administrator rights meet
    bool writesVanish = false;  // writes report success and keep nothing
    bool answerLater = false;   // hold editor and shell answers until RunPending()
    ShellResult shellAnswer{33, 0};
    std::optional<std::wstring> picked;  // what every file dialog answers; nullopt: cancelled
    std::optional<Status> administratorRun;  // what an offered run with administrator rights gives; nullopt: No

    // Read by the test: "message TITLE: TEXT", "write S/K=V", "view text T", "end"; no reads.
    std::vector<std::string> calls;

    // The held answers arrive: "(answers)" in the transcript, then what they caused.
    void RunPending() {
        calls.push_back("(answers)");
        for (auto pending = std::move(pending_); auto& f : pending) f();
    }

    std::wstring GetProfileString(const std::wstring& section, const std::wstring& key,
                                  const std::wstring& fallback, const std::wstring& file) override {
        const auto v = values.find(Fold(file + L"|" + section + L"|" + key));
        return v == values.end() ? fallback : v->second;
    }
    Status WriteProfileString(const std::wstring& section, const std::wstring& key,
                              const std::wstring& value, const std::wstring& file) override {
        Status s = Heard("write " + Narrow(section) + "/" + Narrow(key) + "=" + Narrow(value));
        if (s && IsReadOnly(file)) return Status::Fail(L"civ.ini is read-only");
        if (s && !writesVanish) values[Fold(file + L"|" + section + L"|" + key)] = value;
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
        return picked;
    }
    std::optional<Status> OfferAdministratorRun(const std::wstring& text, const std::wstring& title,
                                                const std::vector<std::wstring>& options) override {
        std::string run;
        for (const std::wstring& o : options) run.append(" ").append(Narrow(o));
        calls.push_back("ask " + Narrow(title) + ": " + Narrow(text) + " | run as administrator:" + run);
        return administratorRun;
    }
    void SetMousePointer(int pointer) override { calls.push_back("pointer " + std::to_string(pointer)); }
    void EndProgram() override { calls.push_back("end"); }

    void SetCiv2Text(const std::wstring& text) override { calls.push_back("view text " + Narrow(text)); }
    void SetCommand7Enabled(bool on) override { calls.push_back(on ? "view launch on" : "view launch off"); }

private:
    static std::wstring Fold(std::wstring s) {
        std::ranges::transform(s, s.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
        return s;
    }
    Status Heard(const std::string& call) {
        calls.push_back(call);
        const auto f = failures.find(call.substr(0, call.find(' ')));
        if (f == failures.end()) return Status::Ok();
        return failuresNeedAdministrator ? Status::NeedsAdministrator(f->second) : Status::Fail(f->second);
    }
    void Answer(std::function<void()> f) { answerLater ? pending_.push_back(std::move(f)) : f(); }
    std::vector<std::function<void()>> pending_;
};

}  // namespace quenbrook::testing
