// Quenbrook: sets simultaneous turns for Civ 2 multiplayer in the game's civ.ini.
// Without arguments it is the window; with options it is a command for launchers and
// scripts, which needs no display.
#include <QApplication>
#include <QIcon>
#include <cstdlib>
#include <iostream>

#include "cli/qt_args.h"
#include "main_window/qt/form1_view.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/qt_window_system.h"
#include "platform/linux/wine_paths.h"

namespace {

void NameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("quenbrook"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(quenbrook::kVersion));
}

int RunWindow(int argc, char* argv[]) {
    QApplication app(argc, argv);
    NameApplication();
    QApplication::setDesktopFileName(QStringLiteral("org.example.Quenbrook"));
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/quenbrook-%1.png").arg(size));
    QApplication::setWindowIcon(icon);

    quenbrook::LinuxSystem system(quenbrook::WinePrefixFromEnvironment(),
                                  quenbrook::PostToQtThread);
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
    if (!parsed.prefix.isEmpty()) setenv("WINEPREFIX", parsed.prefix.toLocal8Bit().constData(), 1);

    switch (parsed.mode) {
    case Mode::Window:
        return RunWindow(argc, argv);
    case Mode::Cli:
        quenbrook::UseUtf8Locale();
        return quenbrook::RunCommandLine(parsed.request);
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
