#include "platform/win32/civ_ini_location.h"

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

CivIniChoice ChooseCivIni(const CivIniFacts& facts) {
    const CivIniChoice original{facts.original, false};
    if (!VirtualizationApplies(facts.vistaOrLater, facts.enableLua, facts.enableVirtualization))
        return original;
    const std::wstring copy = VirtualStorePath(facts.original, facts.localAppData);
    if (copy.empty()) return original;
    if (facts.copyExists) return {copy, false};
    // Windows makes the copy only when a write is refused for lack of rights; the
    // read-only attribute refuses the game as well, and so must refuse us.
    if (facts.access == WriteAccess::Denied) return {copy, true};
    return original;
}

}  // namespace quenbrook
