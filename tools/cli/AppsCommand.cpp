#include "tools/cli/AppsCommand.h"

#include "core/CsvWriter.h"
#include "inventory/ApplicationInventory.h"
#include "tools/cli/CliOutput.h"

#include <QCommandLineParser>

QString AppsCommand::summary() const
{
    return QStringLiteral("list the installed applications that carry either attribute, as CSV");
}

int AppsCommand::run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the installed applications that carry a provenance or quarantine attribute,\n"
                       "as CSV (Filepath,Provenance ID,Quarantine App), in ascending path order."));
    CliOutput::addHelpOption(parser);
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the CSV to FILE (replaced atomically) instead of standard output."),
        QStringLiteral("FILE"));
    parser.addOption(output);
    if (!CliOutput::parse(parser, arguments, 0, 0))
        return kUsage;
    if (parser.isSet(QStringLiteral("help"))) {
        CliOutput::printHelp(parser, QStringLiteral("apps [--output FILE]"));
        return kOk;
    }
    const CsvWriter csv = ApplicationInventory::csv(ApplicationInventory::load(ApplicationDiscovery()));
    return CliOutput::emitCsv(csv, parser.value(output));
}
