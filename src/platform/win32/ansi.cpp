#include "platform/win32/ansi.h"

#include "platform/win32/windows_api.h"

#include <climits>

namespace quenbrook {

namespace {

int Length(std::size_t size) { return size > INT_MAX ? -1 : static_cast<int>(size); }

}  // namespace

std::optional<std::string> ToAnsi(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int length = Length(text.size());
    if (length < 0) return std::nullopt;
    // With a UTF-8 ANSI code page the best-fit flag and the default-char check are not
    // allowed; there every character fits, so only invalid UTF-16 can be refused.
    const UINT codePage = GetACP();
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int needed =
        WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, usedDefaultOut);
    if (needed <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(codePage, flags, text.data(), length, out.data(), needed,
                                            nullptr, usedDefaultOut);
    if (written != needed || usedDefault) return std::nullopt;
    return out;
}

std::string ToAnsiForDisplay(std::wstring_view text) {
    if (text.empty()) return std::string();
    const int length = Length(text.size());
    if (length < 0) return std::string();
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
    return out;
}

std::wstring FromAnsi(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int length = Length(text.size());
    if (length < 0) return std::wstring();
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, out.data(), needed);
    return out;
}

std::wstring ErrorText(unsigned long code, const std::wstring& insert) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer) text.assign(buffer, length);
    if (buffer) LocalFree(buffer);
    // Filled by hand: FormatMessage with arguments would read one for every "%n" the
    // sentence has, and a sentence may have more inserts than we know values for.
    for (std::size_t at = text.find(L"%1"); at != std::wstring::npos && !insert.empty();
         at = text.find(L"%1", at + insert.size()))
        text.replace(at, 2, insert);
    // The system's sentences end in ".\r\n"; the messages we build add their own ends.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.'))
        text.pop_back();
    if (text.empty()) return L"error " + std::to_wstring(code);
    return text + L" (error " + std::to_wstring(code) + L")";
}

}  // namespace quenbrook
