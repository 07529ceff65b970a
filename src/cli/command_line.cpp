#include "cli/command_line.h"

#include <langinfo.h>
#include <strings.h>

#include <clocale>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string_view>

#include "platform/linux/linux_system.h"
#include "platform/linux/narrow.h"
#include "platform/linux/wine_prefix/wine_paths.h"

namespace quenbrook {

namespace {

bool IsUtf8(const char* codeset) {
    return codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0);
}

}  // namespace

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void UseUtf8Locale() {
    std::setlocale(LC_ALL, "");
    if (IsUtf8(nl_langinfo(CODESET))) return;
    // Only the character conversions need it; messages and numbers keep the user's choice.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C.utf8");
}

std::string Narrowed(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    // Character by character, so that one that cannot be written (a lone surrogate)
    // costs only itself.
    for (const wchar_t c : text) bytes += ToNarrow(std::wstring_view(&c, 1)).value_or("?");
    return bytes;
}

void Print(std::ostream& stream, const std::wstring& text) { stream << Narrowed(text) << std::flush; }

FoundPrefix FindPrefix(const std::string& prefixOption) {
    const std::filesystem::path home = *Environment("HOME") ? Environment("HOME") : "/";
    FoundPrefix found;
    found.home = home;
    found.rememberIn = RememberedPrefixFile(home, Environment("XDG_CONFIG_HOME"));
    // Absolute, because the game starts in its own folder with this prefix.
    std::error_code ec;
    const std::filesystem::path chosen = std::filesystem::absolute(prefixOption, ec);
    found.choice = ChoosePrefix(home, prefixOption.empty() || ec ? prefixOption : chosen.string(),
                                Environment("WINEPREFIX"), ReadRememberedPrefix(found.rememberIn));
    return found;
}

int RunCommandLine(const CliRequest& request, const CivIniWhere& where, std::wstring& errors) {
    // No window thread: callbacks run where they are posted.
    LinuxSystem system(WinePrefixFromEnvironment(), nullptr);
    std::wostringstream out;
    std::wostringstream err;
    const int code = RunCli(request, system, out, err, where);
    Print(std::cout, out.str());
    errors = err.str();
    Print(std::cerr, errors);
    return code;
}

}  // namespace quenbrook
