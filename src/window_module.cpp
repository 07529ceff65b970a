// The window, as a module the quenbrook program loads only when the window is wanted:
// everything that needs Qt lives here, behind one exported entry.
#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "main_window/qt/form1_view.h"
#include "main_window/qt/platform_failure.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/qt/qt_window_system.h"

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

// Qt's messages while the application picks its platform plugin. When none starts, Qt
// says "Reinstalling the application may fix this problem" and aborts: instead, one line
// that names what is missing, and exit status 1.
std::vector<std::string> g_startWords;
void WhileStarting(QtMsgType type, const QMessageLogContext&, const QString& text) {
    g_startWords.push_back(text.toStdString());
    if (type != QtFatalMsg) return;
    const std::string line = quenbrook::PlatformFailure(
        g_startWords, quenbrook::Environment("DISPLAY"), quenbrook::Environment("WAYLAND_DISPLAY"));
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    std::_Exit(quenbrook::kExitFailed);
}

// Qt's application, started alike for the window and for a failure's message window.
// A Wayland session without X: Qt would try X first (on GNOME it ignores the session
// type), so it is told, and so are the programs started from here, which belong to the
// same session. The setting is made before Qt starts its threads and left alone after.
class Application {
public:
    Application(int argc, char** argv) : count_(argc), previous_(Prepare()), app_(count_, argv) {
        qInstallMessageHandler(previous_);
        for (const std::string& words : g_startWords) qWarning("%s", words.c_str());
        // Qt has set the locale from the environment; file names are UTF-8 whatever it
        // says, as on the command line, so a path with "ä" means the same file in both.
        quenbrook::UseUtf8Locale();
        QCoreApplication::setApplicationName(QStringLiteral("quenbrook"));
        QApplication::setDesktopFileName(QStringLiteral("org.example.Quenbrook"));
    }

private:
    static QtMessageHandler Prepare() {
        if (!*quenbrook::Environment("QT_QPA_PLATFORM") && !*quenbrook::Environment("DISPLAY") &&
            *quenbrook::Environment("WAYLAND_DISPLAY"))
            setenv("QT_QPA_PLATFORM", "wayland", 1);
        return qInstallMessageHandler(WhileStarting);
    }
    int count_;  // QApplication keeps a reference to it for its whole life
    QtMessageHandler previous_;
    QApplication app_;
};

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
    const Application app(argc, argv);
    // Answers from waiting threads reach the application only while it lives.
    const quenbrook::QtPostGate gate;
    QCoreApplication::setApplicationVersion(QString::fromLatin1(quenbrook::kVersion));
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
    const Application app(argc, argv);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quenbrook"), QString::fromUtf8(text),
                    QMessageBox::Ok);
    // A path or Wine's words may hold "<": shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
