#include "app/LaunchArguments.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace {

LaunchArguments bad(const QString& error)
{
    LaunchArguments launch;
    launch.error = error;
    return launch;
}

} // namespace

LaunchArguments LaunchArguments::parse(const QByteArrayList& arguments)
{
    // The parser takes text: Latin-1 carries each byte as one character and back, so paths
    // that are not UTF-8 come through exact.
    QStringList given{QString()}; // the program's name, which the parser skips
    for (const QByteArray& argument : arguments)
        given.append(QString::fromLatin1(argument));
    QCommandLineParser parser;
    const QCommandLineOption help({u"h"_s, u"help"_s}, {}), version(u"version"_s, {}),
        crawl(u"crawl"_s, {}, u"folder"_s), quarantine(u"quarantine"_s, {});
    parser.addOptions({help, version, crawl, quarantine});
    const bool parsed = parser.parse(given);

    LaunchArguments launch;
    launch.start = parser.isSet(version) ? Start::Version : Start::Help;
    if (parser.isSet(version) || parser.isSet(help))
        return launch;
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
        const QByteArray name = unknown.first().toLatin1();
        return bad(u"unknown option '%1%2'"_s.arg(name.size() == 1 ? u"-"_s : u"--"_s, QString::fromLocal8Bit(name)));
    }
    const QStringList folders = parser.values(crawl);
    if (folders.size() > 1)
        return bad(u"--crawl is given twice"_s);
    if (parser.isSet(crawl) && folders.value(0).isEmpty())
        return bad(u"--crawl needs a folder"_s);
    if (!parsed)
        return bad(parser.errorText());
    for (const QString& path : parser.positionalArguments())
        launch.paths.append(path.toLatin1());
    if (parser.isSet(crawl) && !launch.paths.isEmpty())
        return bad(u"--crawl takes one folder and no other paths"_s);
    if (parser.isSet(quarantine) && !parser.isSet(crawl))
        return bad(u"--quarantine goes with --crawl"_s);
    if (launch.paths.contains(QByteArray()))
        return bad(u"an empty path names no file"_s);
    launch.folder = folders.value(0).toLatin1();
    launch.quarantine = parser.isSet(quarantine);
    launch.start = parser.isSet(crawl) ? Start::Crawl : launch.paths.isEmpty() ? Start::MainWindow : Start::Drop;
    return launch;
}

QString LaunchArguments::usage()
{
    return QStringLiteral("Usage: quellmark [--crawl FOLDER|IMAGE [--quarantine] | PATH...]\n"
                          "\n"
                          "Shows where files came from: their provenance and quarantine attributes.\n"
                          "\n"
                          "  (nothing)        open the application list\n"
                          "  --crawl FOLDER   open the crawl window and crawl FOLDER\n"
                          "  --crawl IMAGE    the same for every volume of a disk image (a file or block device)\n"
                          "  --quarantine     with --crawl: turn Show Quarantine on for it\n"
                          "  PATH...          open the drop window listing these files, as if dropped\n"
                          "  -h, --help       show this help\n"
                          "  --version        show the version\n");
}
