#include "platform/win32/win32_system.h"

#include "platform/win32/windows_api.h"
#include <shellapi.h>

#include <vector>

#include "platform/win32/ansi.h"
#include "platform/win32/program_line.h"

namespace quenbrook {

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

bool Contains(const std::wstring& text, wchar_t c) { return text.find(c) != std::wstring::npos; }

std::wstring TrimSpaces(const std::wstring& text) {
    const std::size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

DWORD Attributes(const std::string& file) { return GetFileAttributesA(file.c_str()); }

bool IsExistingFile(const std::string& file) {
    const DWORD a = Attributes(file);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FolderOf(const std::wstring& file) {
    const std::size_t slash = file.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : file.substr(0, slash);
}

// Why WritePrivateProfileStringA refused, in words: the common causes by name, the
// system's sentence for the rest.
Status WriteFailure(const std::wstring& file, const std::string& ansiFile, DWORD error) {
    const DWORD a = Attributes(ansiFile);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
        return Status::Fail(Quoted(file) + L" is read-only");
    if (error == ERROR_PATH_NOT_FOUND)
        return Status::Fail(L"the folder " + Quoted(FolderOf(file)) + L" does not exist");
    if (error == ERROR_ACCESS_DENIED)
        return Status::Fail(L"access to " + Quoted(file) + L" is denied");
    return Status::Fail(Quoted(file) + L" cannot be changed: " + ErrorText(error));
}

Status Start(const std::wstring& commandLine, int windowStyle, bool inProgramFolder) {
    const std::optional<std::string> ansi = ToAnsi(commandLine);
    if (!ansi) return Status::Fail(L"cannot start " + Quoted(commandLine) + L": " + kNotInCodePage);
    if (TrimSpaces(commandLine).empty())
        return Status::Fail(L"there is no program to start: the command line is empty");
    const ProgramLine line = SplitProgramLine(*ansi, IsExistingFile);
    // The player knows the text they gave; when Windows reads a shorter program out of
    // it (an unquoted path with a blank), both are named.
    std::wstring program = Quoted(commandLine);
    if (FromAnsi(line.program) != commandLine && FromAnsi(line.program) != TrimSpaces(commandLine))
        program += L" (the program " + Quoted(FromAnsi(line.program)) + L")";
    const bool useFolder = inProgramFolder && !line.folder.empty();

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line, so it gets its own copy.
    std::vector<char> buffer(line.commandLine.begin(), line.commandLine.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        useFolder ? line.folder.c_str() : nullptr, &startup, &process)) {
        const DWORD error = GetLastError();
        if (useFolder && error == ERROR_DIRECTORY)
            return Status::Fail(L"cannot start " + program + L": its folder " +
                                Quoted(FromAnsi(line.folder)) + L" does not exist");
        return Status::Fail(L"cannot start " + program + L": " + ErrorText(error));
    }
    // Detached: we neither wait for the program nor keep it open.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return Status::Ok();
}

}  // namespace

Status CheckProfileArguments(const std::wstring& section, const std::wstring& key,
                             const std::wstring& value) {
    if (TrimSpaces(section).empty()) return Status::Fail(L"the section name is empty");
    if (TrimSpaces(key).empty()) return Status::Fail(L"the key name is empty");
    const struct {
        const std::wstring& text;
        const wchar_t* what;
    } parts[] = {{section, L"the section name"}, {key, L"the key name"}, {value, L"the value"}};
    for (const auto& part : parts) {
        // Windows writes these verbatim: a line break would add lines to the game's file.
        if (Contains(part.text, L'\r') || Contains(part.text, L'\n'))
            return Status::Fail(std::wstring(part.what) + L" contains a line break");
        if (Contains(part.text, L'\0'))
            return Status::Fail(std::wstring(part.what) + L" contains a NUL character");
    }
    if (Contains(section, L']'))
        return Status::Fail(L"the section name contains ']' (the game would read another section)");
    if (Contains(key, L'='))
        return Status::Fail(L"the key name contains '=' (the game would read another key)");
    const std::wstring trimmedKey = TrimSpaces(key);
    if (trimmedKey.front() == L';')
        return Status::Fail(L"the key name starts with ';' (the game would read a comment)");
    if (trimmedKey.front() == L'[')
        return Status::Fail(L"the key name starts with '[' (the game would read a section)");
    return Status::Ok();
}

std::wstring EditorCommandLine(const std::wstring& file) { return L"c:\\windows\\notepad " + file; }

std::wstring Win32System::GetProfileString(const std::wstring& section, const std::wstring& key,
                                           const std::wstring& fallback,
                                           const std::wstring& file) {
    const std::optional<std::string> s = ToAnsi(section), k = ToAnsi(key), f = ToAnsi(file),
                                     d = ToAnsi(fallback);
    // A name the code page cannot hold cannot be in the file either.
    if (!s || !k || !f || !d) return fallback;
    std::vector<char> buffer(256);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetPrivateProfileStringA(s->c_str(), k->c_str(), d->c_str(),
                                                      buffer.data(), size, f->c_str());
        // size-1 means the value may have been cut; Wine cuts a quoted value one
        // character shorter still, so size-2 is not trusted either.
        if (length + 2 < size || size >= (1u << 28)) return FromAnsi(std::string(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

Status Win32System::WriteProfileString(const std::wstring& section, const std::wstring& key,
                                       const std::wstring& value, const std::wstring& file) {
    if (Status check = CheckProfileArguments(section, key, value); !check) return check;
    const std::optional<std::string> s = ToAnsi(section);
    if (!s) return Status::Fail(std::wstring(L"the section name cannot be written: ") + kNotInCodePage);
    const std::optional<std::string> k = ToAnsi(key);
    if (!k) return Status::Fail(std::wstring(L"the key name cannot be written: ") + kNotInCodePage);
    const std::optional<std::string> v = ToAnsi(value);
    if (!v) return Status::Fail(std::wstring(L"the value cannot be written: ") + kNotInCodePage);
    const std::optional<std::string> f = ToAnsi(file);
    if (!f) return Status::Fail(L"the file " + Quoted(file) + L" cannot be named: " + kNotInCodePage);
    // Windows refuses to open a read-only file for writing, whoever asks; Wine run by
    // root would write it all the same, so the attribute is honoured here first.
    if (const DWORD a = Attributes(*f); a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
        return Status::Fail(Quoted(file) + L" is read-only");
    if (!WritePrivateProfileStringA(s->c_str(), k->c_str(), v->c_str(), f->c_str()))
        return WriteFailure(file, *f, GetLastError());
    return Status::Ok();
}

Status Win32System::SetFileAttributes(const std::wstring& file, unsigned attributes) {
    const std::optional<std::string> f = ToAnsi(file);
    if (!f)
        return Status::Fail(L"cannot change the attributes of " + Quoted(file) + L": " + kNotInCodePage);
    if (!SetFileAttributesA(f->c_str(), attributes))
        return Status::Fail(L"cannot change the attributes of " + Quoted(file) + L": " +
                            ErrorText(GetLastError()));
    return Status::Ok();
}

bool Win32System::IsReadOnly(const std::wstring& file) {
    const std::optional<std::string> f = ToAnsi(file);
    if (!f) return false;
    const DWORD a = Attributes(*f);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

Status Win32System::StartProgram(const std::wstring& commandLine, int windowStyle,
                                 bool inProgramFolder) {
    return Start(commandLine, windowStyle, inProgramFolder);
}

void Win32System::OpenInEditor(const std::wstring& file, std::function<void(Status)> done) {
    done(Start(EditorCommandLine(file), kShowMaximized, false));
}

void Win32System::ShellOpen(const std::wstring& link, std::function<void(ShellResult)> done) {
    ShellResult result;
    if (const std::optional<std::string> l = ToAnsi(link)) {
        const HINSTANCE answer = ShellExecuteA(nullptr, "open", l->c_str(), "", nullptr, SW_SHOWNORMAL);
        result.result = static_cast<long>(reinterpret_cast<INT_PTR>(answer));
        result.lastError = GetLastError();
    } else {
        result.result = 0;
        result.lastError = ERROR_NO_UNICODE_TRANSLATION;
    }
    done(result);
}

std::wstring Win32System::HostPath(const std::wstring& windowsPath) { return windowsPath; }

}  // namespace quenbrook
