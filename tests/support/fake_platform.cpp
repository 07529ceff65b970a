#include "support/fake_platform.h"

#include <gtest/gtest.h>

namespace quenbrook::testing {

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

std::wstring FakePlatform::Fold(const std::wstring& s) {
    std::wstring out = s;
    for (wchar_t& c : out)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return out;
}

void FakePlatform::RunPending() {
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& f : pending) f();
}

std::wstring FakePlatform::GetProfileString(const std::wstring& section, const std::wstring& key,
                                            const std::wstring& fallback, const std::wstring& file) {
    calls.push_back("read " + Narrow(section) + "/" + Narrow(key));
    const auto& sections = files[Fold(file)];
    auto s = sections.find(Fold(section));
    if (s == sections.end()) return fallback;
    auto k = s->second.find(Fold(key));
    return k == s->second.end() ? fallback : k->second;
}

Status FakePlatform::WriteProfileString(const std::wstring& section, const std::wstring& key,
                                        const std::wstring& value, const std::wstring& file) {
    calls.push_back("write " + Narrow(section) + "/" + Narrow(key) + "=" + Narrow(value));
    if (writeFailure) return Status::Fail(*writeFailure);
    if (IsReadOnly(file)) return Status::Fail(L"civ.ini is read-only");
    if (writesVanish) return Status::Ok();
    files[Fold(file)][Fold(section)][Fold(key)] = value;
    return Status::Ok();
}

Status FakePlatform::SetFileAttributes(const std::wstring& file, unsigned attrs) {
    calls.push_back("attributes " + std::to_string(attrs));
    if (attributeFailure) return Status::Fail(*attributeFailure);
    attributes[Fold(file)] = attrs;
    return Status::Ok();
}

bool FakePlatform::IsReadOnly(const std::wstring& file) {
    auto it = attributes.find(Fold(file));
    return it != attributes.end() && it->second == kAttributeReadOnly;
}

Status FakePlatform::StartProgram(const std::wstring& commandLine, int windowStyle, bool inProgramFolder) {
    calls.push_back("start " + Narrow(commandLine) + " style " + std::to_string(windowStyle) +
                    (inProgramFolder ? " in its folder" : ""));
    return startFailure ? Status::Fail(*startFailure) : Status::Ok();
}

void FakePlatform::OpenInEditor(const std::wstring& file, std::function<void(Status)> done) {
    calls.push_back("edit " + Narrow(file));
    Status answer = editorFailure ? Status::Fail(*editorFailure) : Status::Ok();
    if (answerLater)
        pending_.push_back([done, answer] { done(answer); });
    else
        done(answer);
}

void FakePlatform::ShellOpen(const std::wstring& link, std::function<void(ShellResult)> done) {
    calls.push_back("shell " + Narrow(link));
    if (shellThrows) throw std::runtime_error("the shell library is missing");
    if (answerLater)
        pending_.push_back([done, answer = shellAnswer] { done(answer); });
    else
        done(shellAnswer);
}

std::wstring FakePlatform::HostPath(const std::wstring& windowsPath) { return L"/host/" + windowsPath; }

void FakePlatform::MessageBox(const std::wstring& text, const std::wstring& title) {
    calls.push_back("message " + Narrow(title) + ": " + Narrow(text));
}

std::optional<std::wstring> FakePlatform::ShowOpen(const std::wstring& filter, const std::wstring& initialFile) {
    calls.push_back("dialog " + Narrow(filter) + " at " + Narrow(initialFile));
    if (dialogAnswers.empty()) {
        ADD_FAILURE() << "a file dialog opened that the test did not expect";
        return std::nullopt;
    }
    auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
}

void FakePlatform::SetMousePointer(int pointer) { calls.push_back("pointer " + std::to_string(pointer)); }

void FakePlatform::EndProgram() { calls.push_back("end"); }

}  // namespace quenbrook::testing
