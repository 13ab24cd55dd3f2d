#include "tools/cli/FilesCommand.h"

#include "drop/FileInfo.h"
#include "tools/cli/ApplicationRegistryLoad.h"

#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

namespace {

void printUsage(FILE* stream)
{
    QTextStream(stream) << "Usage: quellmark-cli files [--apps] PATH...\n\n"
                        << "Prints, for each PATH, what the drop window lists for it:\n"
                        << "  name | path | provenance | quarantine\n\n"
                        << "  --apps  load the installed applications first, so that a provenance shared\n"
                        << "          with an application shows that application's path\n";
}

// The URL a file manager hands over for `path`: absolute, its bytes percent-encoded.
QUrl dropUrl(const QString& path)
{
    QByteArray raw = QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
    // A named folder keeps the trailing "/" that the drag of a folder carries.
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
    return QStringLiteral("show dropped files' details as the drop window lists them");
}

int FilesCommand::run(const QStringList& arguments)
{
    QStringList paths;
    bool apps = false;
    bool optionsDone = false;
    for (const QString& argument : arguments.mid(1)) {
        if (!optionsDone && argument == QLatin1String("--")) {
            optionsDone = true;
        } else if (!optionsDone && argument == QLatin1String("--apps")) {
            apps = true;
        } else if (!optionsDone && (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            printUsage(stdout);
            return kOk;
        } else if (!optionsDone && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            QTextStream(stderr) << "quellmark-cli files: unknown option '" << argument << "'\n\n";
            printUsage(stderr);
            return kUsage;
        } else {
            paths << argument;
        }
    }
    if (paths.isEmpty()) {
        printUsage(stderr);
        return kUsage;
    }

    if (apps)
        loadApplicationRegistry();
    QTextStream out(stdout);
    out.setEncoding(QStringConverter::Utf8);
    for (const QString& path : paths)
        out << FileInfo::detailFor(dropUrl(path)).exportText() << '\n';
    return kOk;
}
