#include "platform/win32/civ_ini_location.h"

#include <cctype>
#include <cwctype>

namespace quenbrook {

bool VirtualizationApplies(bool vistaOrLater, std::optional<unsigned long> enableLua,
                           std::optional<unsigned long> enableVirtualization) {
    return vistaOrLater && enableLua.value_or(1) != 0 && enableVirtualization.value_or(1) != 0;
}

std::wstring VirtualStorePath(const std::wstring& original, const std::wstring& localAppData) {
    // Only a path on a drive is redirected ("C:\..."); shares and relative paths are not.
    if (localAppData.empty() || original.size() < 4 || original[1] != L':' ||
        (original[2] != L'\\' && original[2] != L'/'))
        return std::wstring();
    std::wstring folder = localAppData;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder + L"\\VirtualStore" + original.substr(2);
}

bool LayersRunAsAdministrator(const std::wstring& layers) {
    std::wstring word;
    for (std::size_t i = 0; i <= layers.size(); ++i) {
        if (i < layers.size() && !std::iswspace(layers[i])) {
            word += static_cast<wchar_t>(std::towupper(layers[i]));
            continue;
        }
        if (word == L"RUNASADMIN") return true;
        word.clear();
    }
    return false;
}

std::optional<std::string> RequestedExecutionLevel(const std::string& manifest) {
    // The element may carry a namespace prefix (<ms_asmv2:requestedExecutionLevel ...>).
    for (std::size_t at = manifest.find("requestedExecutionLevel"); at != std::string::npos;
         at = manifest.find("requestedExecutionLevel", at + 1)) {
        if (at == 0 || (manifest[at - 1] != '<' && manifest[at - 1] != ':')) continue;
        const std::string tag = manifest.substr(at, manifest.find('>', at) - at);
        for (std::size_t a = tag.find("level"); a != std::string::npos; a = tag.find("level", a + 1)) {
            if (std::isalnum(static_cast<unsigned char>(tag[a - 1]))) continue;  // not uiAccess, say
            std::size_t q = tag.find_first_not_of(" \t\r\n", a + 5);
            if (q == std::string::npos || tag[q] != '=') continue;
            q = tag.find_first_not_of(" \t\r\n", q + 1);
            if (q == std::string::npos || (tag[q] != '"' && tag[q] != '\'')) continue;
            const std::size_t end = tag.find(tag[q], q + 1);
            if (end != std::string::npos) return tag.substr(q + 1, end - q - 1);
        }
    }
    return std::nullopt;
}

CivIniChoice ChooseCivIni(const CivIniFacts& facts) {
    const CivIniChoice original{facts.original, false, false};
    // Without UAC there is neither redirection nor elevation.
    if (!facts.vistaOrLater || facts.enableLua.value_or(1) == 0) return original;
    const std::optional<std::string> level = RequestedExecutionLevel(facts.manifest);
    const bool elevated = LayersRunAsAdministrator(facts.layers) ||
                          level == "requireAdministrator" || level == "highestAvailable";
    // An elevated or manifested process is never virtualized.
    if (elevated || level) {
        // Writing it for such a game takes what the game has: administrator rights.
        if (elevated && facts.access == WriteAccess::Denied) return {facts.original, false, true};
        return original;
    }
    if (!VirtualizationApplies(facts.vistaOrLater, facts.enableLua, facts.enableVirtualization))
        return original;
    const std::wstring copy = VirtualStorePath(facts.original, facts.localAppData);
    if (copy.empty()) return original;
    if (facts.copyExists) return {copy, false, false};
    // Windows makes the copy only when a write is refused for lack of rights; the
    // read-only attribute refuses the game as well, and so must refuse us.
    if (facts.access == WriteAccess::Denied) return {copy, true, false};
    return original;
}

}  // namespace quenbrook
