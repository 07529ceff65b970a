#include "cli/qt_args.h"

#include <langinfo.h>
#include <strings.h>

#include <clocale>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "platform/linux/linux_system.h"
#include "platform/linux/wine_paths.h"

namespace quenbrook {

namespace {

const QCommandLineOption kStatus(QStringLiteral("status"),
                                 QStringLiteral("Print the Wine prefix and how it was found, "
                                                "civ.ini's path, whether it holds "
                                                "Simultaneous=1, whether it is read-only, and "
                                                "the stored game path; exit 1 when the prefix "
                                                "or civ.ini is missing."));
const QCommandLineOption kEnable(QStringLiteral("enable"),
                                 QStringLiteral("Write Simultaneous=1 into civ.ini."));
const QCommandLineOption kLock(QStringLiteral("lock"),
                               QStringLiteral("With --enable: then make civ.ini read-only, so "
                                              "the game cannot drop the option when it quits."));
const QCommandLineOption kUnlock(QStringLiteral("unlock"),
                                 QStringLiteral("Make civ.ini writable again."));
const QCommandLineOption kLaunch(QStringLiteral("launch"),
                                 QStringLiteral("Start the stored game in its folder through "
                                                "Wine, watch it for 2 seconds and return: exit 1 "
                                                "with Wine's words when it fails at once. The "
                                                "game's output goes to "
                                                "$XDG_STATE_HOME/quenbrook/game.log."));
const QCommandLineOption kPrefix(QStringLiteral("prefix"),
                                 QStringLiteral("Use the Wine prefix in <dir> instead of "
                                                "$WINEPREFIX, ~/.wine or a launcher's; the "
                                                "window too."),
                                 QStringLiteral("dir"));

bool IsUtf8(const char* codeset) {
    return codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0);
}

void Print(std::ostream& stream, const std::wstring& text) {
    stream << QString::fromStdWString(text).toStdString() << std::flush;
}

}  // namespace

CommandLine::CommandLine() {
    parser_.setApplicationDescription(
        QStringLiteral("Sets simultaneous turns for Civ 2 multiplayer in the game's civ.ini "
                       "(C:\\Windows\\civ.ini in the Wine prefix).\n"
                       "Without options, opens the window.\n"
                       "Exit status: 0 done, 1 failed, 2 wrong arguments."));
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addOptions({kStatus, kEnable, kLock, kUnlock, kLaunch, kPrefix});
}

Arguments CommandLine::Parse(const QStringList& arguments) {
    Arguments result;
    auto usage = [&](const QString& error) {
        result.mode = Arguments::Mode::Usage;
        result.error = error;
        return result;
    };
    if (!parser_.parse(arguments)) return usage(parser_.errorText());
    if (const QStringList extra = parser_.positionalArguments(); !extra.isEmpty())
        return usage(QStringLiteral("unexpected argument '%1'").arg(extra.constFirst()));
    // --help-all too: Qt's own window options are not taken here, so it has nothing more.
    if (parser_.isSet(QStringLiteral("help")) || parser_.isSet(QStringLiteral("help-all"))) {
        result.mode = Arguments::Mode::Help;
        return result;
    }
    if (parser_.isSet(QStringLiteral("version"))) {
        result.mode = Arguments::Mode::Version;
        return result;
    }
    if (parser_.isSet(kPrefix)) {
        // The last one given wins, as with most programs.
        const QString dir = parser_.values(kPrefix).constLast();
        if (dir.isEmpty()) return usage(QStringLiteral("--prefix needs a folder"));
        // Absolute, because the game starts in its own folder with this prefix.
        std::error_code ec;
        const std::filesystem::path absolute =
            std::filesystem::absolute(std::filesystem::path(dir.toStdString()), ec);
        result.prefix = ec ? dir : QString::fromStdString(absolute.string());
    }
    result.request.status = parser_.isSet(kStatus);
    result.request.enable = parser_.isSet(kEnable);
    result.request.lock = parser_.isSet(kLock);
    result.request.unlock = parser_.isSet(kUnlock);
    result.request.launch = parser_.isSet(kLaunch);
    if (result.request.any()) {
        if (const std::wstring why = CheckRequest(result.request); !why.empty())
            return usage(QString::fromStdWString(why));
        result.mode = Arguments::Mode::Cli;
    }
    return result;
}

void UseUtf8Locale() {
    std::setlocale(LC_ALL, "");
    if (IsUtf8(nl_langinfo(CODESET))) return;
    // Only the character conversions need it; messages and numbers keep the user's choice.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C.utf8");
}

int RunCommandLine(const CliRequest& request, const CivIniWhere& where) {
    // No window thread: callbacks run where they are posted.
    LinuxSystem system(WinePrefixFromEnvironment(), nullptr);
    std::wostringstream out;
    std::wostringstream err;
    const int code = RunCli(request, system, out, err, where);
    Print(std::cout, out.str());
    Print(std::cerr, err.str());
    return code;
}

}  // namespace quenbrook
