#include "tools/cli/AppsCommand.h"

#include "core/CsvWriter.h"
#include "core/PathEncoding.h"
#include "inventory/ApplicationInventory.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/OriginLines.h"

#include <QCommandLineParser>
#include <QFile>

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
    OriginLines origin(QStringLiteral("csv"));
    origin.addOptions(parser);
    if (!CliOutput::parse(parser, arguments, 0, 0))
        return kUsage;
    if (parser.isSet(QStringLiteral("help"))) {
        CliOutput::printHelp(parser, QStringLiteral("apps [--output FILE] ") + origin.synopsis());
        return kOk;
    }
    origin.setSidecars(false); // the application list reads the bundles' own attributes only
    if (!origin.read(parser))
        return kUsage;
    const QList<Prover> list = ApplicationInventory::load(ApplicationDiscovery());
    if (origin.isJsonLines()) {
        // "path" is percent-encoded, as in the other two lists.
        QByteArray lines;
        for (const Prover& app : list)
            lines += origin.line(app.name, encodePath(QFile::encodeName(app.name)), app.provenanceID,
                                 app.quarantineApp);
        return OriginLines::write(lines, parser.value(output));
    }
    return CliOutput::emitCsv(ApplicationInventory::csv(list), parser.value(output));
}
