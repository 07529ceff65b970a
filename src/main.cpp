// Quenbrook: sets simultaneous turns for Civ 2 multiplayer in the game's civ.ini.
// Without arguments it is the window; with options it is a command for launchers and
// scripts, which needs no display.
#include <QApplication>
#include <QIcon>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <iostream>

#include "cli/qt_args.h"
#include "main_window/qt/form1_view.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/prefix_discovery.h"
#include "platform/linux/qt_window_system.h"
#include "platform/linux/wine_paths.h"

namespace {

void NameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("quenbrook"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(quenbrook::kVersion));
}

const char* Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The prefix the player's civ.ini is in; for the window, several candidates are settled
// by asking (once, when the answer is kept). Sets WINEPREFIX to it, so that the game
// started from here uses it too. Nothing when the player cancels.
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

int RunWindow(int argc, char* argv[], const quenbrook::PrefixChoice& found,
              const std::filesystem::path& rememberIn) {
    // Without a display Qt aborts with advice about reinstalling; say what is wrong.
    if (!*Environment("QT_QPA_PLATFORM") && !*Environment("DISPLAY") &&
        !*Environment("WAYLAND_DISPLAY")) {
        std::cerr << "quenbrook: no display to show the window on (DISPLAY and WAYLAND_DISPLAY "
                     "are not set); the command line works without one, see 'quenbrook --help'\n";
        return quenbrook::kExitFailed;
    }
    QApplication app(argc, argv);
    NameApplication();
    QApplication::setDesktopFileName(QStringLiteral("org.example.Quenbrook"));
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/quenbrook-%1.png").arg(size));
    QApplication::setWindowIcon(icon);

    const std::optional<quenbrook::PrefixChoice> choice = Settle(found, rememberIn);
    if (!choice) return quenbrook::kExitDone;
    quenbrook::LinuxSystem system(choice->prefix, quenbrook::PostToQtThread);
    quenbrook::QtWindowSystem windowSystem(system);
    quenbrook::Form1Window window(system, windowSystem);
    windowSystem.SetOwner(&window);
    window.Load();
    window.show();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    using Mode = quenbrook::Arguments::Mode;
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    quenbrook::CommandLine commandLine;
    const quenbrook::Arguments parsed = commandLine.Parse(arguments);

    // Before anything reads it, so that the window, the command line and the game all
    // see the same prefix.
    const std::filesystem::path home = *Environment("HOME") ? Environment("HOME") : "/";
    const std::filesystem::path rememberIn =
        quenbrook::RememberedPrefixFile(home, Environment("XDG_CONFIG_HOME"));
    const auto choose = [&] {
        return quenbrook::ChoosePrefix(home, parsed.prefix.toLocal8Bit().toStdString(),
                                       Environment("WINEPREFIX"),
                                       quenbrook::ReadRememberedPrefix(rememberIn));
    };

    switch (parsed.mode) {
    case Mode::Window:
        return RunWindow(argc, argv, choose(), rememberIn);
    case Mode::Cli: {
        quenbrook::UseUtf8Locale();
        // The command line does not guess between prefixes: it names them.
        const quenbrook::PrefixChoice choice = choose();
        if (choice.prefix.empty()) {
            std::cerr << "quenbrook: "
                      << QString::fromStdWString(quenbrook::SeveralPrefixesMessage(choice.candidates))
                             .toStdString();
            return quenbrook::kExitFailed;
        }
        setenv("WINEPREFIX", choice.prefix.c_str(), 1);
        return quenbrook::RunCommandLine(parsed.request, quenbrook::DescribeChoice(choice));
    }
    case Mode::Help: {
        QCoreApplication app(argc, argv);
        NameApplication();
        std::cout << commandLine.HelpText().toStdString();
        return quenbrook::kExitDone;
    }
    case Mode::Version:
        std::cout << "quenbrook " << quenbrook::kVersion << '\n';
        return quenbrook::kExitDone;
    case Mode::Usage:
        std::cerr << "quenbrook: " << parsed.error.toStdString()
                  << "\nTry 'quenbrook --help' for the options.\n";
        return quenbrook::kExitUsage;
    }
    return quenbrook::kExitFailed;
}
