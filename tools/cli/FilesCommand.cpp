#include "tools/cli/FilesCommand.h"

#include "drop/FileInfo.h"
#include "inventory/ApplicationInventory.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/OriginLines.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QUrl>

namespace {

const QString kSynopsis = QStringLiteral("files [--apps] [--no-sidecars] PATH...");

// The URL a file manager hands over for `path`: absolute, its bytes percent-encoded.
QUrl dropUrl(const QString& path)
{
    QByteArray raw = QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
    // A folder named with its "/" keeps it, as the drag of a folder can carry one.
    if (path.endsWith(QLatin1Char('/')) && !raw.endsWith('/'))
        raw += '/';
    QUrl url;
    url.setScheme(QStringLiteral("file"));
    url.setPath(QString::fromLatin1(raw.toPercentEncoding("/")), QUrl::TolerantMode);
    return url;
}

} // namespace

QString FilesCommand::name() const
{
    return QStringLiteral("files");
}

QString FilesCommand::summary() const
{
    return QStringLiteral("show files as the drop window lists them: name | path | provenance | quarantine");
}

int FilesCommand::run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints, for each PATH in order, the line that copying its row in the drop window\n"
                       "gives: name | path | provenance | quarantine. A path that does not exist is\n"
                       "listed with empty values, as a dropped file that has gone away."));
    CliOutput::addHelpOption(parser);
    const QCommandLineOption apps(
        QStringLiteral("apps"), QStringLiteral("Load the installed applications first, so that a provenance "
                                               "shared with one shows its path."));
    parser.addOption(apps);
    const QCommandLineOption noSidecars(
        QStringLiteral("no-sidecars"),
        QStringLiteral("Do not take attributes a file lacks from its AppleDouble file (._name)."));
    parser.addOption(noSidecars);
    OriginLines origin(QStringLiteral("text"));
    origin.addOptions(parser);
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("A file or folder."),
                                 QStringLiteral("PATH..."));
    if (!CliOutput::parse(parser, arguments, 0))
        return kUsage;
    if (parser.isSet(QStringLiteral("help"))) {
        CliOutput::printHelp(parser, kSynopsis);
        return kOk;
    }
    origin.setSidecars(!parser.isSet(noSidecars));
    if (!origin.read(parser))
        return kUsage;
    const QStringList paths = parser.positionalArguments();
    if (paths.isEmpty()) {
        QTextStream(stderr) << "Usage: quellmark-cli " << kSynopsis
                            << "\nTry 'quellmark-cli files --help'.\n";
        return kUsage;
    }

    if (parser.isSet(apps))
        ApplicationInventory::load(ApplicationDiscovery());
    QTextStream out(stdout);
    out.setEncoding(QStringConverter::Utf8);
    for (const QString& path : paths) {
        const FileDetail detail = FileInfo::detailFor(dropUrl(path), !parser.isSet(noSidecars));
        if (origin.isJsonLines())
            out << QString::fromUtf8(
                origin.line(detail.name, detail.path, detail.provenanceID, detail.quarantineApp));
        else
            out << detail.exportText() << '\n';
    }
    out.flush();
    if (out.status() != QTextStream::Ok) {
        CliOutput::error(QStringLiteral("cannot write to standard output"));
        return kFailed;
    }
    return kOk;
}
