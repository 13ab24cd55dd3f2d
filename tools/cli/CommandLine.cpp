#include "tools/cli/CommandLine.h"

#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"

CommandLine::CommandLine(const QString& description)
{
    setApplicationDescription(description);
    addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                 QStringLiteral("Show this help and exit.")));
    setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
}

std::optional<int> CommandLine::parse(const QStringList& arguments, const QString& synopsis,
                                      int minimumPositional, int maximumPositional)
{
    if (!QCommandLineParser::parse(arguments)) {
        CliOutput::error(CliOutput::shown(errorText()));
        return CliCommand::kUsage;
    }
    if (isSet(QStringLiteral("help"))) {
        QString text = helpText();
        // The parser names the program only; the synopsis says which subcommand this is.
        text.replace(0, text.indexOf(QLatin1Char('\n')), QStringLiteral("Usage: quellmark-cli ") + synopsis);
        text += QStringLiteral(
            "\nExit status:\n"
            "  0  everything was examined and written\n"
            "  1  an error: nothing, or not all, was written\n"
            "  2  bad usage\n"
            "  3  written, but some items or evidence could not be read or used (said on standard error)\n");
        return CliOutput::write(text.toUtf8(), QString());
    }
    const QStringList positional = positionalArguments();
    if (positional.size() < minimumPositional) {
        CliOutput::error(QStringLiteral("missing argument"));
        return CliCommand::kUsage;
    }
    if (maximumPositional >= 0 && positional.size() > maximumPositional) {
        CliOutput::error(
            QStringLiteral("unexpected argument '%1'").arg(CliOutput::shown(positional.at(maximumPositional))));
        return CliCommand::kUsage;
    }
    // An empty path names no file; taking it for the working folder would examine the wrong thing.
    if (positional.contains(QString())) {
        CliOutput::error(QStringLiteral("an empty argument is not a path"));
        return CliCommand::kUsage;
    }
    return std::nullopt;
}
