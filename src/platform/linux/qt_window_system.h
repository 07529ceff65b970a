#pragma once
// The Linux host's window-system operations, through Qt.
#include <QPointer>
#include <QWidget>

#include "platform/linux/linux_system.h"
#include "platform/linux/prefix_discovery.h"
#include "platform/platform.h"

namespace quenbrook {

class QtWindowSystem : public WindowSystem {
public:
    // system: for where Windows paths lead, so the file dialog opens in the right place.
    explicit QtWindowSystem(LinuxSystem& system) : system_(system) {}

    // The window that owns the message boxes and the dialog.
    void SetOwner(QWidget* owner) { owner_ = owner; }

    void MessageBox(const std::wstring& text, const std::wstring& title) override;
    std::optional<std::wstring> ShowOpen(const std::wstring& filter,
                                         const std::wstring& initialFile) override;
    // Wine has no administrator rights to give: the game never needs them here.
    std::optional<Status> OfferAdministratorRun(const std::wstring&, const std::wstring&,
                                                const std::vector<std::wstring>&) override {
        return std::nullopt;
    }
    void SetMousePointer(int pointer) override;
    void EndProgram() override;

    // The folder the file dialog opens in for the current path box text: the folder of
    // that path when it exists, else drive C of the prefix (a dialog that hides dot
    // folders would never show ~/.wine).
    QString DialogFolder(const std::wstring& initialFile) const;

    // A "Description|Pattern|" filter as Qt name filters; the patterns match the file
    // name in any letter case (the game installs as CIV2.EXE).
    static QStringList NameFilters(const std::wstring& filter);

private:
    LinuxSystem& system_;
    QPointer<QWidget> owner_;
    bool busy_ = false;
};

// Asks, in a small list dialog, which of several prefixes holding civ.ini to use. The
// chosen one, or nothing when the player cancels; remember tells whether to keep it.
std::optional<std::filesystem::path> AskForPrefix(const std::vector<LauncherPrefix>& candidates,
                                                  bool& remember);

// Hands a callback to the window's thread; for LinuxSystem.
void PostToQtThread(std::function<void()> f);

}  // namespace quenbrook
