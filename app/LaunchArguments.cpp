#include "app/LaunchArguments.h"

LaunchArguments LaunchArguments::parse(const QByteArrayList& arguments)
{
    LaunchArguments launch;
    bool optionsEnded = false;
    bool crawl = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments.at(i);
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            LaunchArguments help;
            help.start = Start::Help;
            return help;
        } else if (!optionsEnded && (argument == "--crawl" || argument.startsWith("--crawl="))) {
            if (crawl) {
                launch.error = QStringLiteral("--crawl is given twice");
                return launch;
            }
            crawl = true;
            if (argument.startsWith("--crawl=")) {
                launch.folder = argument.mid(8);
            } else if (i + 1 < arguments.size()) {
                launch.folder = arguments.at(++i);
            } else {
                launch.error = QStringLiteral("--crawl needs a folder");
                return launch;
            }
        } else if (!optionsEnded && argument == "--quarantine") {
            launch.quarantine = true;
        } else if (!optionsEnded && argument.startsWith('-') && argument.size() > 1) {
            launch.error = QStringLiteral("unknown option '%1'").arg(QString::fromLocal8Bit(argument));
            return launch;
        } else {
            launch.paths.append(argument);
        }
    }
    if (crawl && !launch.paths.isEmpty()) {
        launch.error = QStringLiteral("--crawl takes one folder and no other paths");
        return launch;
    }
    if (crawl && launch.folder.isEmpty()) {
        launch.error = QStringLiteral("--crawl needs a folder");
        return launch;
    }
    if (launch.quarantine && !crawl) {
        launch.error = QStringLiteral("--quarantine goes with --crawl");
        return launch;
    }
    if (launch.paths.contains(QByteArray())) {
        launch.error = QStringLiteral("an empty path names no file");
        return launch;
    }
    launch.start = crawl ? Start::Crawl : launch.paths.isEmpty() ? Start::MainWindow : Start::Drop;
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
                          "  -h, --help       show this help\n");
}
