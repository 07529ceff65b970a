#include "platform/win32/win32_system.h"

#include "platform/win32/windows_api.h"
#include <shellapi.h>
#include <shlobj.h>
#include <versionhelpers.h>

#include <cwctype>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/win32/ansi.h"
#include "platform/program_line.h"
#include "settings_file/settings_file.h"

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

// "name is read-only", with the file's own name, as the Linux program says it.
Status ReadOnly(const std::wstring& file) {
    return Status::Fail(file.substr(file.find_last_of(L"\\/") + 1) + L" is read-only");
}

// Why WritePrivateProfileStringA refused, in words: the common causes by name, the
// system's sentence for the rest. The message around it names the file.
Status WriteFailure(const std::wstring& file, const std::string& ansiFile, DWORD error) {
    const DWORD a = Attributes(ansiFile);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) return ReadOnly(file);
    if (error == ERROR_PATH_NOT_FOUND) return Status::Fail(L"its folder does not exist");
    if (error == ERROR_ACCESS_DENIED) return Status::Fail(L"access is denied");
    return Status::Fail(ErrorText(error));
}

bool IsGamesCivIni(const std::wstring& file) {
    const std::wstring game = kCivIniPath;
    if (file.size() != game.size()) return false;
    for (std::size_t i = 0; i < file.size(); ++i)
        if (std::towlower(file[i]) != std::towlower(game[i])) return false;
    return true;
}

// A DWORD of the UAC policy; nothing when the key or the value is missing. The policy
// key is shared by 32- and 64-bit programs; the flag only makes that explicit.
std::optional<unsigned long> PolicyValue(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                      0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, value = 0, size = sizeof value;
    const LONG read = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
    return value;
}

// The known folder for local application data. Looked up at run time: Windows before
// Vista has no such call, and no virtualization either.
std::wstring LocalAppData() {
    using KnownFolderPath = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
    HMODULE shell = GetModuleHandleW(L"shell32.dll");
    const auto get = reinterpret_cast<KnownFolderPath>(
        reinterpret_cast<void*>(shell ? GetProcAddress(shell, "SHGetKnownFolderPath") : nullptr));
    if (!get) return std::wstring();
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(get(FOLDERID_LocalAppData, 0, nullptr, &path)) && path) folder = path;
    CoTaskMemFree(path);
    return folder;
}

// Whether this account may write file (create it, when missing), asked without changing it.
WriteAccess AccessOf(const std::string& file) {
    const DWORD a = Attributes(file);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) return WriteAccess::ReadOnly;
    const bool exists = a != INVALID_FILE_ATTRIBUTES;
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                exists ? OPEN_EXISTING : CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | (exists ? 0 : FILE_FLAG_DELETE_ON_CLOSE), nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return WriteAccess::Allowed;
    }
    // Any other failure is left to the write itself to report.
    return GetLastError() == ERROR_ACCESS_DENIED ? WriteAccess::Denied : WriteAccess::Allowed;
}

// One argument as the C runtime reads it back: quoted when it holds blanks or quotes,
// backslashes doubled only before a quote.
std::wstring QuotedArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            if (c == L'"') out.append(backslashes + 1, L'\\');
            backslashes = 0;
        }
        out += c;
    }
    return out.append(backslashes, L'\\') + L"\"";
}

// What CreateProcess answers for a program that needs elevation (mingw's headers lack it).
constexpr DWORD kElevationRequired = 740;

constexpr const wchar_t* kGameRunsAsAdministrator =
    L"the game runs as administrator, so its civ.ini needs administrator rights too";
constexpr const wchar_t* kDeclined = L"the request for administrator rights was declined";

Status Start(const Starter& starter, const std::wstring& commandLine, int windowStyle,
             bool inProgramFolder) {
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
    const ProgramStart start{line.commandLine, line.program, line.arguments,
                             useFolder ? line.folder : std::string(), windowStyle};
    DWORD error = starter.create(start);
    // A game set to run as administrator, or whose manifest asks for it: CreateProcess
    // may not elevate, the shell asks for the rights as Explorer would.
    if (error == kElevationRequired) {
        error = starter.shell(start);
        if (error == ERROR_CANCELLED)
            return Status::Fail(L"cannot start " + program + L": it runs as administrator, and " + kDeclined);
    }
    if (error == ERROR_SUCCESS) return Status::Ok();
    if (useFolder && error == ERROR_DIRECTORY)
        return Status::Fail(L"cannot start " + program + L": its folder " + Quoted(FromAnsi(line.folder)) +
                            L" does not exist");
    return Status::Fail(L"cannot start " + program + L": " + ErrorText(error, FromAnsi(line.program)));
}

// The game the original or its copy names (its full, long path), for its layers and
// manifest; Quenbrook may have kept the path in either before the game was elevated.
std::vector<std::wstring> StoredGames(const std::vector<std::string>& files) {
    std::vector<std::wstring> games;
    const std::string section = *ToAnsi(kPathSection), key = *ToAnsi(kPathKey);
    for (const std::string& file : files) {
        std::vector<char> path(32768);
        const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", path.data(),
                                                 static_cast<DWORD>(path.size()), file.c_str());
        if (TrimSpaces(FromAnsi(std::string(path.data(), n))).empty()) continue;
        const std::string program = SplitProgramLine(std::string(path.data(), n), IsExistingFile).program;
        std::vector<char> full(32768), longer(32768);
        if (!GetFullPathNameA(program.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr)) continue;
        const DWORD l = GetLongPathNameA(full.data(), longer.data(), static_cast<DWORD>(longer.size()));
        games.push_back(FromAnsi(l && l < longer.size() ? longer.data() : full.data()));
    }
    return games;
}

// The game's compatibility layers, HKCU's and then HKLM's, in the 64-bit view where
// Explorer keeps them. The registry matches the value name, the path, ignoring case.
std::wstring LayersOf(const std::wstring& game) {
    std::wstring layers;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers", 0,
                          KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
            continue;
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key, game.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
            type == REG_SZ) {
            std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
            if (RegQueryValueExW(key, game.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                                 &size) == ERROR_SUCCESS)
                layers.append(L" ").append(value.data());
        }
        RegCloseKey(key);
    }
    return layers;
}

// The game's manifest: the one built in, else the one beside it.
std::string ManifestOf(const std::wstring& game) {
    std::string text;
    if (HMODULE module = LoadLibraryExW(game.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)))  // RT_MANIFEST
            if (const void* bytes = LockResource(LoadResource(module, found)))
                text.assign(static_cast<const char*>(bytes), SizeofResource(module, found));
        FreeLibrary(module);
    }
    if (text.empty())
        if (const std::optional<std::string> beside = ToAnsi(game + L".manifest"))
            if (std::ifstream in(*beside, std::ios::binary); in) text.assign(std::istreambuf_iterator<char>(in), {});
    return text;
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

CivIniFacts GatherCivIniFacts(const std::wstring& original) {
    CivIniFacts facts;
    facts.original = original;
    facts.vistaOrLater = IsWindowsVistaOrGreater();
    facts.enableLua = PolicyValue(L"EnableLUA");
    facts.enableVirtualization = PolicyValue(L"EnableVirtualization");
    // Without UAC nothing is redirected and nothing elevated.
    if (!facts.vistaOrLater || facts.enableLua.value_or(1) == 0) return facts;
    facts.localAppData = LocalAppData();
    const std::optional<std::string> copy = ToAnsi(VirtualStorePath(original, facts.localAppData));
    const std::optional<std::string> o = ToAnsi(original);
    facts.copyExists = copy && !copy->empty() && IsExistingFile(*copy);
    std::vector<std::string> files;
    if (facts.copyExists) files.push_back(*copy);
    if (o) files.push_back(*o);
    for (const std::wstring& game : StoredGames(files)) {
        facts.layers += LayersOf(game);
        facts.manifest += ManifestOf(game);
    }
    // An elevated game uses the original even when there is a copy.
    if (o && (!facts.copyExists || !facts.layers.empty() || !facts.manifest.empty())) facts.access = AccessOf(*o);
    return facts;
}

Win32System::Target Win32System::Resolve(const std::wstring& file) {
    if (!IsGamesCivIni(file)) return {file, file, false, file, false};
    const CivIniFacts facts = facts_(file);
    const CivIniChoice choice = ChooseCivIni(facts);
    return {choice.file, choice.createCopy ? facts.original : choice.file, choice.createCopy,
            facts.original, choice.needsAdministrator};
}

Status Win32System::Prepare(const Target& target) {
    // Nothing else is written: the game would not read it.
    if (target.needsAdministrator) return Status::NeedsAdministrator(kGameRunsAsAdministrator);
    if (!target.createCopy) return Status::Ok();
    const std::optional<std::string> copy = ToAnsi(target.file), original = ToAnsi(target.original);
    if (!copy || !original)
        return Status::Fail(std::wstring(L"this account's copy of civ.ini cannot be named: ") + kNotInCodePage);
    const std::string folder = copy->substr(0, copy->find_last_of('\\'));
    if (const int made = SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
        made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS)
        return Status::Fail(L"this account's copy of civ.ini cannot be made: " + ErrorText(static_cast<DWORD>(made)));
    // Windows starts the copy from the original's bytes; with no original it starts empty.
    if (IsExistingFile(*original) && !CopyFileA(original->c_str(), copy->c_str(), TRUE)) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS)
            return Status::Fail(L"this account's copy of civ.ini cannot be made: " + ErrorText(error));
    }
    return Status::Ok();
}

std::wstring Win32System::GetProfileString(const std::wstring& section, const std::wstring& key,
                                           const std::wstring& fallback,
                                           const std::wstring& file) {
    const std::optional<std::string> s = ToAnsi(section), k = ToAnsi(key),
                                     f = ToAnsi(Resolve(file).readFrom), d = ToAnsi(fallback);
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
    const Target target = Resolve(file);
    const std::optional<std::string> f = ToAnsi(target.file);
    if (!f) return Status::Fail(std::wstring(L"the file cannot be named: ") + kNotInCodePage);
    // Windows refuses to open a read-only file for writing, whoever asks; Wine run by
    // root would write it all the same, so the attribute is honoured here first.
    if (const DWORD a = Attributes(*f); a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
        return ReadOnly(target.file);
    if (Status made = Prepare(target); !made) return made;
    if (!WritePrivateProfileStringA(s->c_str(), k->c_str(), v->c_str(), f->c_str()))
        return WriteFailure(target.file, *f, GetLastError());
    return Status::Ok();
}

Status Win32System::SetFileAttributes(const std::wstring& file, unsigned attributes) {
    const Target target = Resolve(file);
    const std::optional<std::string> f = ToAnsi(target.file);
    if (!f) return Status::Fail(std::wstring(L"cannot change the attributes: ") + kNotInCodePage);
    if (Status made = Prepare(target); !made) return made;
    if (!SetFileAttributesA(f->c_str(), attributes))
        return Status::Fail(L"cannot change the attributes: " + ErrorText(GetLastError()));
    return Status::Ok();
}

bool Win32System::IsReadOnly(const std::wstring& file) {
    const std::optional<std::string> f = ToAnsi(Resolve(file).readFrom);
    if (!f) return false;
    const DWORD a = Attributes(*f);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

Status Win32System::StartProgram(const std::wstring& commandLine, int windowStyle,
                                 bool inProgramFolder) {
    return Start(starter_, commandLine, windowStyle, inProgramFolder);
}

void Win32System::OpenInEditor(const std::wstring& file, std::function<void(Status)> done) {
    done(Start(starter_, EditorCommandLine(Resolve(file).readFrom), kShowMaximized, false));
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

unsigned long CreateProcessStart(const ProgramStart& start) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(start.show);
    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line, so it gets its own copy.
    std::vector<char> buffer(start.commandLine.begin(), start.commandLine.end());
    buffer.push_back('\0');
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        start.folder.empty() ? nullptr : start.folder.c_str(), &startup, &process))
        return GetLastError();
    // Detached: we neither wait for the program nor keep it open.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ERROR_SUCCESS;
}

unsigned long ShellStart(const ProgramStart& start) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpFile = start.program.c_str();
    info.lpParameters = start.arguments.empty() ? nullptr : start.arguments.c_str();
    info.lpDirectory = start.folder.empty() ? nullptr : start.folder.c_str();
    info.nShow = start.show;
    return ShellExecuteExA(&info) ? ERROR_SUCCESS : GetLastError();
}

Status RunAsAdministrator(const std::wstring& program, const std::vector<std::wstring>& arguments,
                          void* owner) {
    std::wstring self = program;
    if (self.empty()) {
        std::vector<wchar_t> path(32768);
        self.assign(path.data(), GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    }
    std::wstring parameters;
    for (const std::wstring& a : arguments) parameters.append(parameters.empty() ? L"" : L" ").append(QuotedArgument(a));
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = static_cast<HWND>(owner);
    info.lpVerb = L"runas";
    info.lpFile = self.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        if (error == ERROR_CANCELLED) return Status::Fail(kDeclined);
        return Status::Fail(L"it could not be run as administrator: " + ErrorText(error, self));
    }
    DWORD code = 1;
    if (!info.hProcess) return Status::Ok();  // the shell handed it on; its end is not ours to see
    WaitForSingleObject(info.hProcess, INFINITE);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    if (code == 0) return Status::Ok();
    return Status::Fail(L"run as administrator, it failed too (exit code " + std::to_wstring(code) + L")");
}

std::wstring AdministratorAdvice(const std::vector<std::wstring>& arguments) {
    if (!ChooseCivIni(GatherCivIniFacts(kCivIniPath)).needsAdministrator) return std::wstring();
    std::wstring command = L"quenbrook.exe";
    for (const std::wstring& a : arguments) command += L" " + QuotedArgument(a);
    return L"To do it, run " + command +
           L" again as administrator: from a Command Prompt started with \"Run as administrator\".\n";
}

// Messages name the file that is really used.
std::wstring Win32System::HostPath(const std::wstring& windowsPath) { return Resolve(windowsPath).file; }

}  // namespace quenbrook
