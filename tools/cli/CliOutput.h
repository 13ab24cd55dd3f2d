#pragma once

#include <QString>
#include <QStringList>

class CsvWriter;
class QCommandLineParser;

// What the subcommands share: option parsing with usage errors, help, and CSV output.
class CliOutput
{
public:
    // Adds -h/--help (the parser's own also offers Qt's internal options).
    static void addHelpOption(QCommandLineParser& parser);
    // Parses `arguments` (starting with the subcommand's name). On a bad option or a
    // number of positional arguments outside [minimum, maximum] (maximum -1: any) prints
    // the problem and a usage hint on standard error and returns false.
    static bool parse(QCommandLineParser& parser, const QStringList& arguments, int minimumPositional,
                      int maximumPositional = -1);
    static void printHelp(const QCommandLineParser& parser, const QString& synopsis);

    // Writes the CSV to standard output, or atomically to `file` when given; returns
    // the exit status (1 with a message on standard error when it cannot be written).
    static int emitCsv(const CsvWriter& csv, const QString& file);

    static void error(const QString& message);
};
