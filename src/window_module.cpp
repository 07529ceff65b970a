// The window, as a module the quenbrook program loads only when the window is wanted:
// everything that needs Qt lives here, behind one exported entry.
#include <QApplication>
#include <QIcon>
#include <optional>

#include "cli/command_line.h"
#include "main_window/qt/form1_view.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/qt_window_system.h"

namespace {

// The prefix the player's civ.ini is in; several candidates are settled by asking (once,
// when the answer is kept). Nothing when the player cancels. The game started from here
// gets it in its own environment: setting ours now would race Qt's threads.
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
    // Qt has set the locale from the environment; file names are UTF-8 whatever it says,
    // as on the command line, so a path with "ä" means the same file in both.
    quenbrook::UseUtf8Locale();
    // Answers from waiting threads reach the application only while it lives.
    const quenbrook::QtPostGate gate;
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
