#include "crawl/Crawler.h"
#include "tests/crawl/CrawlFixture.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

namespace {

const QByteArray kHeader("Filename,Provenance ID,Quarantine App,Path\n");

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QString cli()
{
    return qEnvironmentVariable("QUELLMARK_BINARY_DIR") + QStringLiteral("/bin/quellmark-cli");
}

Run run(const QStringList& arguments, const QStringList& prefix = {}, const QString& program = cli())
{
    QProcess process;
    if (prefix.isEmpty())
        process.start(program, arguments);
    else
        process.start(prefix.first(), prefix.mid(1) + QStringList{program} + arguments);
    Run result;
    if (!process.waitForStarted() || !process.waitForFinished(60000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// What the window's "Save Folder to CSV" writes for a crawl of `folder`.
QByteArray windowCsv(const QString& folder, bool showQuarantine, const QString& destination)
{
    Crawler model;
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(folder, showQuarantine);
    if (!finished.wait(60000) && finished.isEmpty())
        return {};
    if (model.writeCSV(destination).status != CsvWriteResult::Written)
        return {};
    QFile file(destination);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestCrawlCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameBytesAsTheWindow_data();
    void sameBytesAsTheWindow();
    void largeOutputStreamedUnchanged();
    void headerAlwaysWritten();
    void folderThatCannotBeRead_data();
    void folderThatCannotBeRead();
    void unreadableSubfolderIsPassedOver();
    void badUsage_data();
    void badUsage();
    void outputThatCannotBeWritten();
    void appsRegisteredFirst();
};

void TestCrawlCli::initTestCase()
{
    QVERIFY2(QFile::exists(cli()), qPrintable(cli()));
}

void TestCrawlCli::sameBytesAsTheWindow_data()
{
    QTest::addColumn<bool>("showQuarantine");
    QTest::addColumn<QString>("threads");
    QTest::newRow("quarantine off") << false << QString();
    QTest::newRow("quarantine on") << true << QString();
    QTest::newRow("quarantine on, 1 thread") << true << QStringLiteral("1");
}

void TestCrawlCli::sameBytesAsTheWindow()
{
    QFETCH(bool, showQuarantine);
    QFETCH(QString, threads);
    TestTree tree;
    TestTree out;
    QVERIFY2(tree.isValid(), tree.problem());
    const CrawlFixture fixture(tree);

    const QByteArray window = windowCsv(tree.root(), showQuarantine, out.path(QStringLiteral("window.csv")));
    QVERIFY(window.startsWith(kHeader));
    QCOMPARE(window.count('\n'), qsizetype(fixture.expected(showQuarantine, false).size()) + 2);

    QStringList arguments{QStringLiteral("crawl")};
    if (showQuarantine)
        arguments << QStringLiteral("--quarantine");
    if (!threads.isEmpty())
        arguments << QStringLiteral("--threads") << threads;
    const Run toStdout = run(arguments + QStringList{tree.root()});
    QCOMPARE(toStdout.exitCode, 0);
    QCOMPARE(toStdout.out, window);

    const QString file = out.path(QStringLiteral("cli.csv"));
    const Run toFile = run(arguments + QStringList{QStringLiteral("--output"), file, tree.root()});
    QCOMPARE(toFile.exitCode, 0);
    QCOMPARE(toFile.out, QByteArray());
    QCOMPARE(readFile(file), window);
}

void TestCrawlCli::largeOutputStreamedUnchanged()
{
    // Far more than one chunk of output, so standard output is written while the walk runs.
    TestTree tree;
    TestTree out;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString longName = QStringLiteral("a rather long file name, with a comma and \"quotes\" %1.txt");
    for (int folder = 0; folder < 30; ++folder) {
        for (int file = 0; file < 60; ++file) {
            const QString path = tree.file(QStringLiteral("folder %1/").arg(folder) + longName.arg(file));
            tree.setProvenance(path, QByteArray::number(folder * 100 + file));
            if (file % 2)
                tree.setQuarantine(path, "0083;65a1b2c3;Browser;1F2E3D4C");
        }
    }
    const QByteArray window = windowCsv(tree.root(), true, out.path(QStringLiteral("window.csv")));
    QVERIFY(window.size() > 4 * 64 * 1024);
    QCOMPARE(window.count('\n'), 30 * 60 + 1);
    for (const QString& threads : {QStringLiteral("1"), QStringLiteral("2")}) {
        const Run result = run({QStringLiteral("crawl"), QStringLiteral("--quarantine"),
                                QStringLiteral("--threads"), threads, tree.root()});
        QCOMPARE(result.exitCode, 0);
        QVERIFY(result.out == window);
    }
}

void TestCrawlCli::headerAlwaysWritten()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.file(QStringLiteral("no-attributes"));
    tree.setQuarantine(tree.file(QStringLiteral("quarantine-only")), "0083;1;Browser;2");
    const Run result = run({QStringLiteral("crawl"), tree.root()});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, kHeader);
    QCOMPARE(result.err, QByteArray());
}

void TestCrawlCli::folderThatCannotBeRead_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("asNobody");
    QTest::newRow("missing") << QStringLiteral("missing") << false;
    QTest::newRow("a file") << QStringLiteral("file.txt") << false;
    QTest::newRow("no permission") << QStringLiteral("locked") << true;
}

void TestCrawlCli::folderThatCannotBeRead()
{
    QFETCH(QString, relative);
    QFETCH(bool, asNobody);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("file.txt")), "\x01");
    const QString locked = tree.folder(QStringLiteral("locked"));
    tree.setProvenance(tree.file(QStringLiteral("locked/inside.txt")), "\x01");
    tree.openToOthers();
    ::chmod(QFile::encodeName(locked).constData(), 0700);

    const QString folder = tree.path(relative);
    const Run result = run({QStringLiteral("crawl"), QStringLiteral("--quarantine"), folder},
                           asNobody ? TestTree::unprivilegedPrefix() : QStringList());
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray());
    QVERIFY2(result.err.contains("cannot read " + folder.toUtf8() + ": "), result.err.constData());
}

void TestCrawlCli::unreadableSubfolderIsPassedOver()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("visible.txt")), "\x01");
    const QString locked = tree.folder(QStringLiteral("locked"));
    tree.setProvenance(tree.file(QStringLiteral("locked/hidden-by-permission.txt")), "\x02");
    tree.openToOthers();
    ::chmod(QFile::encodeName(locked).constData(), 0700);

    const Run result = run({QStringLiteral("crawl"), tree.root()}, TestTree::unprivilegedPrefix());
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out,
             kHeader + "visible.txt,\xe2\x9d\x93 0x01,," + tree.root().toUtf8() + "/visible.txt\n");
    QVERIFY2(result.err.contains("1 folder(s) could not be read"), result.err.constData());
}

void TestCrawlCli::badUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no folder") << QStringList{QStringLiteral("crawl")};
    QTest::newRow("two folders") << QStringList{QStringLiteral("crawl"), QStringLiteral("/a"),
                                                QStringLiteral("/b")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("crawl"), QStringLiteral("--fast"),
                                                   QStringLiteral("/")};
    QTest::newRow("no thread count") << QStringList{QStringLiteral("crawl"), QStringLiteral("/"),
                                                    QStringLiteral("--threads")};
    QTest::newRow("zero threads") << QStringList{QStringLiteral("crawl"), QStringLiteral("--threads"),
                                                 QStringLiteral("0"), QStringLiteral("/")};
}

void TestCrawlCli::badUsage()
{
    QFETCH(QStringList, arguments);
    const Run result = run(arguments);
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QByteArray());
    QVERIFY(!result.err.isEmpty());
}

void TestCrawlCli::outputThatCannotBeWritten()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("a")), "\x01");
    const QString output = tree.path(QStringLiteral("no/such/folder/out.csv"));
    const Run result = run({QStringLiteral("crawl"), QStringLiteral("--output"), output, tree.root()});
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains("cannot write " + output.toUtf8()), result.err.constData());
}

void TestCrawlCli::appsRegisteredFirst()
{
    // A copy of the tool beside a stand-in discovery tool that names one application.
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString app = tree.folder(QStringLiteral("Applications/Registered.app"));
    tree.setProvenance(app, "\x0a\x0b\x0c");
    const QString copy = tree.path(QStringLiteral("bin/quellmark-cli"));
    tree.folder(QStringLiteral("bin"));
    QVERIFY(QFile::copy(cli(), copy));
    const QString finder =
        tree.file(QStringLiteral("bin/quellmark-find-apps"), "#!/bin/sh\necho '" + app.toUtf8() + "'\n");
    QVERIFY(QFile::setPermissions(finder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString folder = tree.folder(QStringLiteral("downloads"));
    tree.setProvenance(tree.file(QStringLiteral("downloads/from-app")), "\x0a\x0b\x0c");
    tree.setProvenance(tree.file(QStringLiteral("downloads/other")), "\x0d");

    const Run with = run({QStringLiteral("crawl"), QStringLiteral("--apps"), folder}, {}, copy);
    QCOMPARE(with.exitCode, 0);
    QVERIFY2(
        with.out.contains("\nfrom-app,\xe2\x9c\x85 " + app.toUtf8() + ",," + folder.toUtf8() + "/from-app\n"),
        with.out.constData());
    QVERIFY(with.out.contains("\nother,\xe2\x9d\x93 0x0d,,"));

    const Run without = run({QStringLiteral("crawl"), folder}, {}, copy);
    QCOMPARE(without.exitCode, 0);
    QVERIFY(without.out.contains("\nfrom-app,\xe2\x9d\x93 0x0a0b0c,,"));
}

QTEST_GUILESS_MAIN(TestCrawlCli)
#include "tst_crawlcli.moc"
