#include "core/PathEncoding.h"
#include "core/ProvenanceRegistry.h"
#include "drop/FileInfo.h"
#include "inventory/ApplicationInventory.h"
#include "tests/support/TestTree.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

class TestFilesCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void recordsInArgumentOrder();
    void usage_data();
    void usage();
    void dashNamesAfterDoubleDash();
    void appsOptionRuns();
    void registryLoad();

private:
    struct Run
    {
        int status = -1;
        QString out;
        QString err;
    };
    Run cli(const QStringList& arguments, const QString& folder = QString(),
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    static QString encoded(const QString& path) { return encodePath(QFile::encodeName(path)); }

    QString m_program;
};

void TestFilesCommand::initTestCase()
{
    m_program = qEnvironmentVariable("QUELLMARK_BINARY_DIR") + QStringLiteral("/bin/quellmark-cli");
    QVERIFY2(QFile::exists(m_program), qPrintable(m_program));
}

void TestFilesCommand::cleanup()
{
    provenanceApps().clear();
}

TestFilesCommand::Run TestFilesCommand::cli(const QStringList& arguments, const QString& folder,
                                            const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProgram(m_program);
    process.setArguments(arguments);
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environment);
    process.start();
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestFilesCommand::recordsInArgumentOrder()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString both = tree.file(QStringLiteral("sub/both file.dmg"));
    tree.setProvenance(both, "\x12\x34");
    tree.setQuarantine(both, "0083;65f0;Firefox;");
    const QString plain = tree.file(QStringLiteral("plain"));
    const QString folder = tree.folder(QStringLiteral("Folder"));
    tree.setProvenance(folder, "\x01");

    // Relative from the working folder, absolute, missing, and a folder named with its "/".
    const Run run =
        cli({QStringLiteral("files"), QStringLiteral("sub/both file.dmg"), plain,
             QStringLiteral("no such file"), QStringLiteral("Folder/"), QStringLiteral("./sub/../plain")},
            tree.root());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    const QStringList expected{
        QStringLiteral("both file.dmg | %1 | ❓ 0x1234 | 🔸 Firefox").arg(encoded(both)),
        QStringLiteral("plain | %1 |  | ").arg(encoded(plain)),
        QStringLiteral("no such file | %1 |  | ").arg(encoded(tree.path(QStringLiteral("no such file")))),
        QStringLiteral("Folder | %1/ | ❓ 0x01 | ").arg(encoded(folder)),
        QStringLiteral("plain | %1 |  | ").arg(encoded(plain)),
    };
    QCOMPARE(run.out, expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));

    // The same record the drop window makes.
    QCOMPARE(run.out.split(QLatin1Char('\n')).at(0),
             FileInfo::detailFor(QUrl::fromLocalFile(both)).exportText());
}

void TestFilesCommand::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expectedOut");
    QTest::addColumn<QString>("expectedErr");

    const QString usageText = QStringLiteral("Usage: quellmark-cli files [--apps] PATH...");
    QTest::newRow("no path") << QStringList{QStringLiteral("files")} << 2 << QString() << usageText;
    QTest::newRow("only --apps") << QStringList{QStringLiteral("files"), QStringLiteral("--apps")} << 2
                                 << QString() << usageText;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("files"), QStringLiteral("--bogus"),
                                                   QStringLiteral("/")}
                                    << 2 << QString() << QStringLiteral("bogus");
    QTest::newRow("help") << QStringList{QStringLiteral("files"), QStringLiteral("--help")} << 0 << usageText
                          << QString();
}

void TestFilesCommand::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, expectedOut);
    QFETCH(QString, expectedErr);
    const Run run = cli(arguments);
    QCOMPARE(run.status, status);
    if (expectedOut.isEmpty())
        QCOMPARE(run.out, QString());
    else
        QVERIFY2(run.out.contains(expectedOut), qPrintable(run.out));
    if (expectedErr.isEmpty())
        QCOMPARE(run.err, QString());
    else
        QVERIFY2(run.err.contains(expectedErr), qPrintable(run.err));
}

void TestFilesCommand::dashNamesAfterDoubleDash()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString file = tree.file(QStringLiteral("--apps"));
    const Run run =
        cli({QStringLiteral("files"), QStringLiteral("--"), QStringLiteral("--apps")}, tree.root());
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("--apps | %1 |  | \n").arg(encoded(file)));
}

void TestFilesCommand::appsOptionRuns()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString app = tree.folder(QStringLiteral("roots/Applications/Tool.app"));
    tree.setProvenance(app, "\xca\xfe");
    const QString file = tree.file(QStringLiteral("download.zip"));
    tree.setProvenance(file, "\xca\xfe");
    tree.setQuarantine(file, "0081;1;Agent;");
    // The finder looks only inside the tree.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QUELLMARK_APP_ROOTS"), tree.path(QStringLiteral("roots")));
    environment.insert(QStringLiteral("HOME"), tree.folder(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), tree.folder(QStringLiteral("data-home")));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), tree.folder(QStringLiteral("data-dirs")));

    const Run without =
        cli({QStringLiteral("files"), QStringLiteral("download.zip")}, tree.root(), environment);
    QCOMPARE(without.status, 0);
    QCOMPARE(without.out, QStringLiteral("download.zip | %1 | ❓ 0xcafe | 🔸 Agent\n").arg(encoded(file)));

    const Run with = cli({QStringLiteral("files"), QStringLiteral("--apps"), QStringLiteral("download.zip")},
                         tree.root(), environment);
    QCOMPARE(with.status, 0);
    QCOMPARE(with.out, QStringLiteral("download.zip | %1 | ✅ %2 | 🔸 Agent\n").arg(encoded(file), app));
}

void TestFilesCommand::registryLoad()
{
    // What --apps relies on: after the application load, a dropped file that shares an
    // application's provenance shows that application.
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString app = tree.folder(QStringLiteral("Applications/Tool.app"));
    tree.setProvenance(app, "\xca\xfe");
    const QString download = tree.file(QStringLiteral("download.zip"));
    tree.setProvenance(download, "\xca\xfe");
    const QUrl url = QUrl::fromLocalFile(download);
    QCOMPARE(FileInfo::detailFor(url).provenanceID, QStringLiteral("❓ 0xcafe"));

    ApplicationInventory::load(QStringList{app});
    QCOMPARE(FileInfo::detailFor(url).provenanceID, QStringLiteral("✅ ") + app);
}

QTEST_GUILESS_MAIN(TestFilesCommand)
#include "tst_filescommand.moc"
