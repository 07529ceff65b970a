// The window, as a module the quenbrook program loads only when the window is wanted:
// everything that needs Qt lives here, behind one exported entry.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdlib>
#include <optional>

#include "cli/command_line.h"
#include "main_window/qt/form1_view.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/qt_window_system.h"

namespace {

// The prefix the player's civ.ini is in; several candidates are settled by asking (once,
// when the answer is kept). Sets WINEPREFIX to it, so that the game started from here
// uses it too. Nothing when the player cancels.
std::optional<quenbrook::PrefixChoice> Settle(quenbrook::PrefixChoice choice,
                                              const std::filesystem::path& rememberIn) {
    if (choice.prefix.empty()) {
        bool remember = false;
        const auto chosen = quenbrook::AskForPrefix(choice.candidates, remember);
        if (!chosen) return std::nullopt;
        if (remember) quenbrook::RememberPrefix(rememberIn, *chosen);
        choice.prefix = *chosen;
        choice.how = L"chosen in the window";
    }
    setenv("WINEPREFIX", choice.prefix.c_str(), 1);
    return choice;
}

}  // namespace

// The icons are in a static library, whose resource file the linker leaves out unless
// something names it. In the global namespace, and outside the entry, which would give
// the name C linkage.
static void LoadIcons() {
    Q_INIT_RESOURCE(resources);
}

extern "C" __attribute__((visibility("default"))) int quenbrook_run_window(
    int argc, char** argv, const char* prefixOption) {
    // Chosen before the application reads anything, so the window and the game it starts
    // see the same prefix.
    const quenbrook::FoundPrefix found = quenbrook::FindPrefix(prefixOption);
    LoadIcons();
    // QApplication keeps a reference to the count for its whole life.
    int count = argc;
    QApplication app(count, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quenbrook"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(quenbrook::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("org.example.Quenbrook"));
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/quenbrook-%1.png").arg(size));
    QApplication::setWindowIcon(icon);

    const std::optional<quenbrook::PrefixChoice> choice = Settle(found.choice, found.rememberIn);
    if (!choice) return quenbrook::kExitDone;
    quenbrook::LinuxSystem system(choice->prefix, quenbrook::PostToQtThread);
    quenbrook::QtWindowSystem windowSystem(system);
    quenbrook::Form1Window window(system, windowSystem);
    windowSystem.SetOwner(&window);
    window.Load();
    window.show();
    return QApplication::exec();
}

// A failure of the command line, for a player who started it from a menu and has no
// terminal to read it in: the same words, in a small window.
extern "C" __attribute__((visibility("default"))) void quenbrook_show_failure(
    int argc, char** argv, const char* text) {
    int count = argc;
    QApplication app(count, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.example.Quenbrook"));
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quenbrook"), QString::fromUtf8(text),
                    QMessageBox::Ok);
    box.exec();
}
