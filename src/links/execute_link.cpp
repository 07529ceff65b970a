#include "links/execute_link.h"

#include <utility>

namespace quenbrook {

std::wstring LinkFailureMessage(const std::wstring& link, unsigned long errorCode) {
    return L"error Opening Link to " + link + L"\r\n\r\n" + std::to_wstring(errorCode);
}

void ExecuteLink(SystemCalls& system, WindowSystem& window, std::wstring link) {
    window.SetMousePointer(kPointerHourglass);
    // The shell may answer later (the opener runs as its own process); the pointer stays
    // busy until it does.
    auto finish = [&window, link](ShellResult r) {
        if (r.failed()) {
            window.SetMousePointer(kPointerDefault);
            window.MessageBox(LinkFailureMessage(link, r.lastError), kExecuteLinkTitle);
        }
        window.SetMousePointer(kPointerDefault);
    };
    // A shell call that cannot run at all counts as the shell's result 0: the user still
    // hears of it, and the pointer still comes back.
    try {
        system.ShellOpen(link, finish);
    } catch (...) {
        finish(ShellResult{});
    }
}

}  // namespace quenbrook
