#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineOption;
class QCommandLineParser;

// What the subcommands share: the output option, messages,
// writing output, and loading the application list.
class CliOutput
{
public:
    // -o/--output FILE, as every command that writes a file takes it.
    static QCommandLineOption outputOption();
    // Its value after parse(): "" for standard output; nothing, after a usage message, when
    // it was given empty.
    static std::optional<QString> destination(const QCommandLineParser& parser,
                                              const QCommandLineOption& output);

    // The file-system bytes an argument was given as.
    static QByteArray rawPath(const QString& argument);
    // An argument or a path as a message shows it.
    static QString shown(const QString& argument);
    static QString shown(const QByteArray& rawPath);

    // Writes `bytes` to `destination` (see OutputTarget; "" is standard output); the exit
    // status, 1 with a message on standard error when they cannot be written.
    static int write(const QByteArray& bytes, const QString& destination);
    // Says that `destination` cannot be written, and why; the exit status 1.
    static int cannotWrite(const QString& destination, const QString& reason);

    // Loads the installed applications into the registry, as --apps asks. The exit status
    // so far: 1 with a message when the application search failed, 3 when some of its
    // results could not be read.
    static int loadApps();
    // The message and status for an application search that went wrong (see loadApps).
    static int searchStatus(const QString& failure, qsizetype unreadableLines);

    // The command being run, whose help usage problems point to.
    static void setCommand(const QString& name);
    // A usage problem, with a hint at the command's --help.
    static void error(const QString& message);
    // A problem while running.
    static void note(const QString& message);
    // Says, once at the end, when access times of the evidence may have changed.
    static void noteAccessTimes();
};
