#pragma once
// The program's arguments, read with Qt before any application object exists: the
// window must not pay for the command line, and the command line needs no display.
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include "cli/cli.h"

namespace quenbrook {

inline constexpr char kVersion[] = "1.00";

struct Arguments {
    enum class Mode { Window, Cli, Help, Version, Usage };
    Mode mode = Mode::Window;
    CliRequest request;
    QString prefix;  // the Wine prefix chosen with --prefix, absolute; empty: none chosen
    QString error;   // Usage: what is wrong with the arguments
};

class CommandLine {
public:
    CommandLine();

    // arguments: argv as text, the program's name first.
    Arguments Parse(const QStringList& arguments);

    // Needs a QCoreApplication for the program's name in the usage line.
    QString HelpText() const { return parser_.helpText(); }

private:
    QCommandLineParser parser_;
};

// Makes the C library convert wide text as UTF-8: the user's locale when its codeset
// is UTF-8, else C.UTF-8 (paths and civ.ini bytes go through wcrtomb and mbrtowc).
void UseUtf8Locale();

// Carries out a command-line request against the Wine prefix in the environment and
// prints what it has to say as UTF-8. Returns the exit code.
int RunCommandLine(const CliRequest& request, const CivIniWhere& where = {});

}  // namespace quenbrook
