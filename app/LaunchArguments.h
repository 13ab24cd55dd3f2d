#pragma once

#include <QByteArrayList>
#include <QString>

// What the application's command line asks it to start with: the main window, a crawl
// window crawling a folder or disk image (--crawl FOLDER|IMAGE, with --quarantine also its
// quarantine values), or a drop window listing paths as if they had been dropped (PATH...).
// Arguments are file-system bytes and are never decoded.
struct LaunchArguments
{
    enum class Start
    {
        MainWindow,
        Crawl,
        Drop,
        Help,
        Version
    };

    Start start = Start::MainWindow;
    QByteArray folder;       // with Crawl
    bool quarantine = false; // with Crawl: Show Quarantine on, whatever the preference says
    QByteArrayList paths;    // with Drop
    QString error;           // bad usage: what is wrong

    // `arguments` without the program's name and without the toolkit's own options.
    static LaunchArguments parse(const QByteArrayList& arguments);
    static QString usage();
};
