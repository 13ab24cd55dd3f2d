#include "tools/cli/AppsCommand.h"

#include "core/CsvWriter.h"
#include "core/PathEncoding.h"
#include "inventory/ApplicationInventory.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/CommandLine.h"
#include "tools/cli/OriginLines.h"

#include <QFile>

QString AppsCommand::summary() const
{
    return QStringLiteral("list the installed applications that carry either attribute, as CSV");
}

int AppsCommand::run(const QStringList& arguments)
{
    CommandLine parser(
        QStringLiteral("Lists the installed applications that carry a provenance or quarantine attribute,\n"
                       "as CSV (Filepath,Provenance ID,Quarantine App), in ascending path order. When the\n"
                       "application search fails, nothing is written."));
    const QCommandLineOption output = CliOutput::outputOption();
    parser.addOption(output);
    OriginLines origin(QStringLiteral("csv"));
    origin.addOptions(parser);
    if (const auto done = parser.parse(arguments, QStringLiteral("apps [--output FILE] ") + origin.synopsis(), 0, 0))
        return *done;
    origin.setSidecars(false); // the application list reads the bundles' own attributes only
    if (!origin.read(parser))
        return kUsage;
    const std::optional<QString> destination = CliOutput::destination(parser, output);
    if (!destination)
        return kUsage;
    const ApplicationInventory::Loaded loaded = ApplicationInventory::load(ApplicationDiscovery());
    const int searched = CliOutput::searchStatus(loaded.failure, loaded.unreadableLines);
    // A list from a failed search is not written: it would pass for the whole list.
    if (searched == kFailed)
        return kFailed;
    QByteArray bytes;
    if (origin.isOriginFormat()) {
        // "path" is percent-encoded, as in the other two lists.
        for (const Prover& app : loaded.list)
            bytes += origin.line(app.name, encodePath(QFile::encodeName(app.name)), app.provenanceID,
                                 app.quarantineApp);
    } else {
        bytes = ApplicationInventory::csv(loaded.list).bytes();
    }
    return origin.finish(combined(searched, CliOutput::write(bytes, *destination)));
}
