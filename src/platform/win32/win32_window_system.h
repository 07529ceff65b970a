#pragma once
// The window-system half of the Windows host: message boxes, the open dialog, the
// mouse pointer and the end of the program.
#include <string>

#include "platform/platform.h"

namespace quenbrook {

class Win32WindowSystem : public WindowSystem {
public:
    // The window that owns message boxes and dialogs (an HWND; none before it exists).
    void SetOwner(void* owner) { owner_ = owner; }

    void MessageBox(const std::wstring& text, const std::wstring& title) override;
    std::optional<std::wstring> ShowOpen(const std::wstring& filter,
                                         const std::wstring& initialFile) override;
    std::optional<Status> OfferAdministratorRun(const std::wstring& text, const std::wstring& title,
                                                const std::vector<std::wstring>& options) override;
    void SetMousePointer(int pointer) override;
    void EndProgram() override;

    // Whether the busy pointer is on; the window keeps it while the mouse moves.
    bool busy() const { return busy_; }

private:
    void* owner_ = nullptr;
    bool busy_ = false;
};

// A "Description|Pattern|" filter in the dialog's form: NUL after each part and one more
// at the end.
std::string DialogFilter(const std::string& filter);

}  // namespace quenbrook
