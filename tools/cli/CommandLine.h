#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

// One subcommand's command line, set up and parsed as every subcommand's is: its description
// and -h/--help, usage errors with a hint at the command's help, and the help itself with the
// synopsis and the exit statuses.
class CommandLine : public QCommandLineParser
{
public:
    explicit CommandLine(const QString& description);

    // Parses `arguments` (starting with the subcommand's name). Nothing when the command goes
    // on; else its exit status: the help was printed, or a usage problem said (a bad option,
    // an empty positional argument, or a number of them outside [minimum, maximum], -1: any).
    std::optional<int> parse(const QStringList& arguments, const QString& synopsis, int minimumPositional,
                             int maximumPositional = -1);
};
