#include <QtTest>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace {

const QString kAppId = QStringLiteral("io.github.quellmark.Quellmark");

QString sourceFile(const QString& name)
{
    return QStringLiteral(QUELLMARK_SOURCE_DIR "/resources/") + name;
}

struct Run
{
    int exitCode = -1;
    QString output; // standard output and error together
};

Run run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(180000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.errorString()};
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

// Key=Value lines of the [Desktop Entry] group.
QHash<QString, QString> desktopEntry(const QString& path)
{
    QHash<QString, QString> entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')))
            entry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return entry;
}

} // namespace

class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private slots:
    void desktopEntryIsValid();
    void metainfoIsValid();
    void metainfoNamesTheDesktopEntry();
    void iconIsScalable();
    void installPutsEverythingInPlace();
};

void TestDesktopIntegration::desktopEntryIsValid()
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
    const Run result = run(validator, {sourceFile(kAppId + QStringLiteral(".desktop"))});
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    // Hints are advice; errors and warnings are not accepted.
    QVERIFY2(!result.output.contains(QLatin1String("error:")) &&
                 !result.output.contains(QLatin1String("warning:")),
             qPrintable(result.output));
}

void TestDesktopIntegration::metainfoIsValid()
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (validator.isEmpty())
        QSKIP("appstreamcli is not installed (package appstream)");
    const Run result = run(validator, {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                       sourceFile(kAppId + QStringLiteral(".metainfo.xml"))});
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    static const QRegularExpression problem(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption);
    QVERIFY2(!result.output.contains(problem), qPrintable(result.output));
}

void TestDesktopIntegration::metainfoNamesTheDesktopEntry()
{
    QFile file(sourceFile(kAppId + QStringLiteral(".metainfo.xml")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString id;
    QString launchable;
    QStringList binaries;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("id"))
            id = xml.readElementText();
        else if (xml.name() == QLatin1String("launchable"))
            launchable = xml.readElementText();
        else if (xml.name() == QLatin1String("binary"))
            binaries << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(id, kAppId);
    QCOMPARE(launchable, kAppId + QStringLiteral(".desktop"));
    const QString exec = desktopEntry(sourceFile(launchable)).value(QStringLiteral("Exec"));
    QVERIFY(binaries.contains(exec.section(QLatin1Char(' '), 0, 0)));
}

void TestDesktopIntegration::iconIsScalable()
{
    QFile file(sourceFile(kAppId + QStringLiteral(".svg")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.name(), QLatin1String("svg"));
    QCOMPARE(xml.namespaceUri(), QLatin1String("http://www.w3.org/2000/svg"));
    const QStringList box =
        xml.attributes().value(QLatin1String("viewBox")).toString().split(QLatin1Char(' '));
    QCOMPARE(box.size(), 4);
    QVERIFY2(box.at(2) == box.at(3), "the icon is square");
    int shapes = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            QStringList{QStringLiteral("path"), QStringLiteral("circle"), QStringLiteral("line")}.contains(
                xml.name().toString()))
            ++shapes;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(shapes >= 3);
}

void TestDesktopIntegration::installPutsEverythingInPlace()
{
    const QString build = qEnvironmentVariable("QUELLMARK_BINARY_DIR");
    QVERIFY(QFileInfo(build).isDir());
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const Run result = run(QStringLiteral(QUELLMARK_CMAKE_COMMAND),
                           {QStringLiteral("--install"), build, QStringLiteral("--prefix"), prefix.path()});
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));

    const QDir root(prefix.path());
    // The helper sits beside the programs, where the application looks for it.
    for (const QString& program : {QStringLiteral("quellmark-cli"), QStringLiteral("quellmark-find-apps")}) {
        const QFileInfo installed(root.filePath(QStringLiteral("bin/") + program));
        QVERIFY2(installed.isFile() && installed.isExecutable(), qPrintable(installed.filePath()));
    }
    QVERIFY2(!QFileInfo::exists(root.filePath(QStringLiteral("bin/quellmark-helpdoc"))),
             "build tools stay out");

    const QString desktop =
        root.filePath(QStringLiteral("share/applications/") + kAppId + QStringLiteral(".desktop"));
    const QString metainfo =
        root.filePath(QStringLiteral("share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml"));
    QVERIFY(QFileInfo::exists(desktop));
    QVERIFY(QFileInfo::exists(metainfo));
    const auto entry = desktopEntry(desktop);
    QCOMPARE(entry.value(QStringLiteral("Icon")), kAppId);
    QVERIFY(QFileInfo::exists(root.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/") + kAppId +
                                            QStringLiteral(".svg"))));
    // The program the menu entry starts is installed once the build makes it.
    const QString program = entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0);
    QCOMPARE(program, QStringLiteral("quellmark"));
    if (QFileInfo::exists(build + QStringLiteral("/bin/") + program))
        QVERIFY(QFileInfo(root.filePath(QStringLiteral("bin/") + program)).isExecutable());
}

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
