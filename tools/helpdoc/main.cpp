#include "tools/helpdoc/HelpDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>

// quellmark-helpdoc GUIDE.md OUTPUT.pdf: prints the user guide at build time.
int main(int argc, char* argv[])
{
    // The build has no display; fonts and images need only the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 3) {
        err << "Usage: quellmark-helpdoc GUIDE.md OUTPUT.pdf\n";
        return 2;
    }
    QFile source(arguments.at(1));
    if (!source.open(QIODevice::ReadOnly)) {
        err << "quellmark-helpdoc: cannot read " << source.fileName() << ": " << source.errorString() << '\n';
        return 1;
    }
    HelpDocument guide;
    guide.setMarkdown(QString::fromUtf8(source.readAll()),
                      QUrl::fromLocalFile(QFileInfo(source.fileName()).absoluteFilePath()));
    QString error;
    if (!guide.writePdf(arguments.at(2), &error)) {
        err << "quellmark-helpdoc: cannot write " << arguments.at(2) << ": " << error << '\n';
        return 1;
    }
    return 0;
}
