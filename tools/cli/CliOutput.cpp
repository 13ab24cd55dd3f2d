#include "tools/cli/CliOutput.h"

#include "core/CsvWriter.h"
#include "tools/cli/CliCommand.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>

#include <cstdio>

void CliOutput::addHelpOption(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit.")));
}

bool CliOutput::parse(QCommandLineParser& parser, const QStringList& arguments, int minimumPositional,
                      int maximumPositional)
{
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    if (!parser.parse(arguments)) {
        error(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        return true;
    const qsizetype count = parser.positionalArguments().size();
    if (count < minimumPositional) {
        error(QStringLiteral("missing argument"));
        return false;
    }
    if (maximumPositional >= 0 && count > maximumPositional) {
        error(QStringLiteral("unexpected argument '%1'")
                  .arg(parser.positionalArguments().at(maximumPositional)));
        return false;
    }
    return true;
}

void CliOutput::printHelp(const QCommandLineParser& parser, const QString& synopsis)
{
    QString text = parser.helpText();
    // The parser names the program only; the synopsis says which subcommand this is.
    const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
    text.replace(0, firstLineEnd, QStringLiteral("Usage: quellmark-cli ") + synopsis);
    QTextStream(stdout) << text;
}

int CliOutput::emitCsv(const CsvWriter& csv, const QString& file)
{
    if (!file.isEmpty()) {
        if (const auto failure = csv.writeTo(file)) {
            error(QStringLiteral("cannot write %1: %2").arg(file, *failure));
            return CliCommand::kFailed;
        }
        return CliCommand::kOk;
    }
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || out.write(csv.bytes()) != csv.bytes().size() ||
        !out.flush()) {
        error(QStringLiteral("cannot write to standard output: %1").arg(out.errorString()));
        return CliCommand::kFailed;
    }
    return CliCommand::kOk;
}

void CliOutput::error(const QString& message)
{
    QTextStream(stderr) << "quellmark-cli: " << message << "\nTry 'quellmark-cli --help'.\n";
}
