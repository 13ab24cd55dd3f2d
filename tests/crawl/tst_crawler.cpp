#include "crawl/CrawlQueue.h"
#include "crawl/Crawler.h"
#include "tests/crawl/CrawlFixture.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <cstring>

namespace {

constexpr int kTimeout = 30000;

QStringList rows(const Crawler& model)
{
    QStringList list;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        list.append(index.data(Crawler::NameRole).toString() + QLatin1Char('|') +
                    index.data(Crawler::ProvenanceIDRole).toString() + QLatin1Char('|') +
                    index.data(Crawler::QuarantineAppRole).toString() + QLatin1Char('|') +
                    index.data(Crawler::PathRole).toString());
    }
    return list;
}

// Every file listed, in many folders: a crawl that takes a while.
void makeBulk(TestTree& tree, int folders, int files)
{
    for (int i = 0; i < folders; ++i) {
        const QString folder = QStringLiteral("bulk%1/inner").arg(i);
        tree.folder(folder);
        for (int f = 0; f < files; ++f)
            tree.setProvenance(tree.file(folder + QStringLiteral("/f%1").arg(f)), "1");
    }
}

QString csvField(const QString& value)
{
    for (const QChar c : {QLatin1Char(','), QLatin1Char('"'), QLatin1Char('\r'), QLatin1Char('\n')}) {
        if (value.contains(c))
            return QLatin1Char('"') + QString(value).replace(QLatin1String("\""), QLatin1String("\"\"")) +
                   QLatin1Char('"');
    }
    return value;
}

void settle()
{
    // The walks end by themselves once cancelled; then whatever they posted is delivered.
    crawlQueue()->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

} // namespace

class TestCrawler : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void freshModel();
    void crawlLists_data();
    void crawlLists();
    void rolesOfEachRow();
    void recordsArriveAtTheEndInWalkOrder();
    void newCrawlSupersedes_data();
    void newCrawlSupersedes();
    void stopKeepsWhatWasFound();
    void destroyedWhileCrawling_data();
    void destroyedWhileCrawling();
    void quitStopsTheCrawl();
    void folderItselfUnreadable();
    void propertiesNotifyOnlyOnChange();
    void recordsKeepTheirValues();
    void writeCsvExactBytes();
    void writeCsvNothingToWrite();
    void writeCsvFailure();
    void proposedCsvName_data();
    void proposedCsvName();
};

void TestCrawler::cleanup()
{
    settle();
    CrawlFixture::setRegistered(false);
}

void TestCrawler::freshModel()
{
    Crawler model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.filePath(), QString());
    QCOMPARE(model.theCount(), 0);
    QCOMPARE(model.status(), Crawler::Idle);
    QVERIFY(!model.isRunning());
    QCOMPARE(model.entriesExamined(), 0);
}

void TestCrawler::crawlLists_data()
{
    QTest::addColumn<bool>("showQuarantine");
    QTest::addColumn<bool>("registered");
    QTest::newRow("quarantine off") << false << true;
    QTest::newRow("quarantine on") << true << true;
    QTest::newRow("nothing registered") << true << false;
}

void TestCrawler::crawlLists()
{
    QFETCH(bool, showQuarantine);
    QFETCH(bool, registered);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const CrawlFixture fixture(tree);
    CrawlFixture::setRegistered(registered);

    Crawler model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy pathChanged(&model, &Crawler::filePathChanged);
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    QSignalSpy status(&model, &Crawler::statusChanged);
    model.startCrawl(tree.root(), showQuarantine);
    QCOMPARE(model.filePath(), tree.root());
    QCOMPARE(pathChanged.count(), 1);
    QCOMPARE(model.status(), Crawler::Running);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);

    QCOMPARE(rows(model), fixture.expectedRows(showQuarantine, registered));
    QCOMPARE(model.theCount(), qint64(model.rowCount()));
    QCOMPARE(model.crawlList().size(), model.rowCount());
    QCOMPARE(model.status(), Crawler::Finished);
    QCOMPARE(status.count(), 2);
    QCOMPARE(model.entriesExamined(), fixture.examinableEntries());
    QCOMPARE(model.unreadableFolders(), 0);
    QVERIFY(model.elapsedMilliseconds() >= 0);
}

void TestCrawler::rolesOfEachRow()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("a b")), "\x01");
    const QString folder = tree.folder(QStringLiteral("dir"));
    tree.setProvenance(folder, "\x02");
    tree.setQuarantine(folder, "0083;1;Browser;2");

    Crawler model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(tree.root(), true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
    QCOMPARE(model.rowCount(), 2);

    QSet<QUuid> ids;
    for (int row = 0; row < 2; ++row) {
        const QModelIndex index = model.index(row);
        const Crawled& record = model.crawlList().at(row);
        QCOMPARE(index.data(IdRole).value<QUuid>(), record.id());
        QCOMPARE(index.data(ExportTextRole).toString(), record.exportText());
        QCOMPARE(index.data(Qt::DisplayRole).toString(), record.name());
        ids.insert(record.id());
        if (record.name() == QLatin1String("dir")) {
            QCOMPARE(index.data(ExportTextRole).toString(),
                     QStringLiteral("dir | ❓ 0x02 | 🔸 Browser | ") + tree.root() + QStringLiteral("/dir/"));
        } else {
            QCOMPARE(index.data(ExportTextRole).toString(),
                     QStringLiteral("a b | ❓ 0x01 |  | ") + tree.root() + QStringLiteral("/a%20b"));
        }
    }
    QCOMPARE(ids.size(), 2);
    const auto names = model.roleNames();
    QCOMPARE(names.value(Crawler::NameRole), QByteArray("name"));
    QCOMPARE(names.value(Crawler::PathRole), QByteArray("path"));
    QCOMPARE(names.value(Crawler::ProvenanceIDRole), QByteArray("provenanceID"));
    QCOMPARE(names.value(Crawler::QuarantineAppRole), QByteArray("quarantineApp"));
    QCOMPARE(names.value(IdRole), QByteArray("id"));
    QCOMPARE(names.value(ExportTextRole), QByteArray("exportText"));
}

void TestCrawler::recordsArriveAtTheEndInWalkOrder()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    makeBulk(tree, 40, 50);

    Crawler model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    QStringList arrived;
    QList<qint64> counts;
    connect(&model, &Crawler::rowsInserted, this, [&](const QModelIndex&, int first, int last) {
        QCOMPARE(first, int(arrived.size()));
        for (int row = first; row <= last; ++row)
            arrived.append(model.index(row).data(Crawler::PathRole).toString());
    });
    connect(&model, &Crawler::theCountChanged, this, [&](qint64 count) {
        QCOMPARE(count, qint64(model.rowCount()));
        counts.append(count);
    });
    model.startCrawl(tree.root(), false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);

    QStringList expected;
    for (const QByteArray& relative : CrawlFixture::walkOrder(QFile::encodeName(tree.root()))) {
        if (!relative.endsWith('/'))
            expected.append(tree.root() + QLatin1Char('/') + QString::fromLatin1(relative));
    }
    QCOMPARE(arrived, expected);
    QVERIFY(!counts.isEmpty());
    QCOMPARE(counts.last(), qint64(40 * 50));
    QVERIFY(std::is_sorted(counts.cbegin(), counts.cend()));
}

void TestCrawler::newCrawlSupersedes_data()
{
    QTest::addColumn<bool>("waitForFirstRows");
    QTest::newRow("at once") << false;
    QTest::newRow("after the first rows") << true;
}

void TestCrawler::newCrawlSupersedes()
{
    QFETCH(bool, waitForFirstRows);
    TestTree first;
    TestTree second;
    QVERIFY2(first.isValid() && second.isValid(), first.problem());
    makeBulk(first, 100, 40);
    second.setProvenance(second.file(QStringLiteral("only.txt")), "\x07");
    second.setProvenance(second.file(QStringLiteral("sub/also.txt")), "\x08");

    Crawler model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(first.root(), false);
    if (waitForFirstRows)
        QTRY_VERIFY_WITH_TIMEOUT(model.rowCount() > 0, kTimeout);

    bool secondStarted = false;
    QStringList insertedAfter;
    connect(&model, &Crawler::modelReset, this, [&] { secondStarted = true; });
    connect(&model, &Crawler::rowsInserted, this, [&](const QModelIndex&, int from, int to) {
        for (int row = from; row <= to && secondStarted; ++row)
            insertedAfter.append(model.index(row).data(Crawler::PathRole).toString());
    });
    // The first crawl may have ended already while its first rows were awaited.
    const int endedBefore = int(finished.count());
    model.startCrawl(second.root(), false);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.filePath(), second.root());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), endedBefore + 1, kTimeout);
    settle();

    QCOMPARE(finished.count(), endedBefore + 1);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.theCount(), 2);
    for (const QString& path : insertedAfter)
        QVERIFY2(path.startsWith(second.root()), qPrintable(path));
    QCOMPARE(insertedAfter.size(), 2);
}

void TestCrawler::stopKeepsWhatWasFound()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    makeBulk(tree, 100, 40);

    Crawler model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(tree.root(), false);
    model.stop();
    const int kept = model.rowCount();
    QCOMPARE(model.status(), Crawler::Stopped);
    QCOMPARE(model.theCount(), qint64(kept));
    const QList<Crawled> shown = model.crawlList();
    settle();

    // Nothing arrives after the stop, and the crawl does not report an ending of its own.
    QCOMPARE(model.rowCount(), kept);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(model.status(), Crawler::Stopped);
    QVERIFY(model.crawlList() == shown);
    const qint64 elapsed = model.elapsedMilliseconds();
    QCOMPARE(model.elapsedMilliseconds(), elapsed);
    model.stop(); // a second stop changes nothing
    QCOMPARE(model.status(), Crawler::Stopped);
}

void TestCrawler::destroyedWhileCrawling_data()
{
    QTest::addColumn<bool>("waitForFirstRows");
    QTest::newRow("at once") << false;
    QTest::newRow("after the first rows") << true;
}

void TestCrawler::destroyedWhileCrawling()
{
    QFETCH(bool, waitForFirstRows);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    makeBulk(tree, 100, 40);

    for (int round = 0; round < 5; ++round) {
        auto* model = new Crawler;
        model->startCrawl(tree.root(), round % 2 == 0);
        if (waitForFirstRows)
            QTRY_VERIFY_WITH_TIMEOUT(model->rowCount() > 0, kTimeout);
        delete model;
        // The walk must neither touch the freed model nor post to it (the sanitizer build
        // turns either into a failure).
        settle();
    }
    QCOMPARE(crawlQueue()->activeThreadCount(), 0);
}

void TestCrawler::quitStopsTheCrawl()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    makeBulk(tree, 100, 40);

    Crawler model;
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    // The quit is queued before anything the walk can post.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    model.startCrawl(tree.root(), false);
    QCoreApplication::exec();
    QCOMPARE(model.rowCount(), 0);
    settle();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(finished.count(), 0);
}

void TestCrawler::folderItselfUnreadable()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString missing = tree.path(QStringLiteral("missing"));
    Crawler model;
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(missing, true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
    QCOMPARE(model.status(), Crawler::Unreadable);
    QCOMPARE(model.failure(), QString::fromLocal8Bit(std::strerror(ENOENT)));
    QCOMPARE(model.filePath(), missing);
    QCOMPARE(model.rowCount(), 0);
}

void TestCrawler::propertiesNotifyOnlyOnChange()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    Crawler model;
    QSignalSpy pathChanged(&model, &Crawler::filePathChanged);
    QSignalSpy countChanged(&model, &Crawler::theCountChanged);
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(tree.root(), false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
    model.startCrawl(tree.root(), false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kTimeout);
    QCOMPARE(pathChanged.count(), 1);
    QCOMPARE(countChanged.count(), 0);
}

void TestCrawler::recordsKeepTheirValues()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("app-file")), "\x0a\x0b\x0c");
    Crawler model;
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(tree.root(), false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
    QCOMPARE(model.crawlList().at(0).provenanceID(), QStringLiteral("❓ 0x0a0b0c"));

    // A later registration changes no listed record; the next crawl shows it.
    CrawlFixture::setRegistered(true);
    QCOMPARE(model.crawlList().at(0).provenanceID(), QStringLiteral("❓ 0x0a0b0c"));
    model.startCrawl(tree.root(), false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, kTimeout);
    QCOMPARE(model.crawlList().at(0).provenanceID(), QStringLiteral("✅ /Applications/Registered.app"));
}

void TestCrawler::writeCsvExactBytes()
{
    TestTree tree;
    TestTree out;
    QVERIFY2(tree.isValid(), tree.problem());
    const CrawlFixture fixture(tree);
    CrawlFixture::setRegistered(true);
    Crawler model;
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(tree.root(), true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);

    const QString destination = out.path(QStringLiteral("result.csv"));
    QFile::remove(destination);
    const CsvWriteResult result = model.writeCSV(destination);
    QCOMPARE(result.status, CsvWriteResult::Written);
    QFile file(destination);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();

    QByteArray expected("Filename,Provenance ID,Quarantine App,Path\n");
    for (const CrawlFixture::Expected& entry : fixture.expected(true, true)) {
        expected +=
            (csvField(entry.name) + QLatin1Char(',') + csvField(entry.provenanceID) + QLatin1Char(',') +
             csvField(entry.quarantineApp) + QLatin1Char(',') + csvField(entry.path) + QLatin1Char('\n'))
                .toUtf8();
    }
    QCOMPARE(bytes, expected);
    // Some lines written out in full, marks as their UTF-8 bytes.
    const QByteArray root = tree.root().toUtf8();
    QVERIFY(bytes.startsWith("Filename,Provenance ID,Quarantine App,Path\n"));
    QVERIFY(bytes.contains("\n\"comma,quote\"\"percent%.txt\",\xe2\x9c\x85 /Applications/Registered.app,,\"" +
                           root + "/comma,quote%22percent%25.txt\"\n"));
    QVERIFY(bytes.contains("\n\"line\nfeed.txt\",\xe2\x9d\x93 0x010200aa,\xf0\x9f\x94\xb8 Browser," + root +
                           "/line%0Afeed.txt\n"));
    QVERIFY(bytes.contains("\nbad\xef\xbf\xbd\xef\xbf\xbdname.txt,\xe2\x9d\x93 0x010200aa,," + root +
                           "/bad%FF%FEname.txt\n"));
    QVERIFY(bytes.contains("\ninner.txt,,\xf0\x9f\x94\xb8 Browser," + root + "/folder/inner.txt\n"));
    QVERIFY(bytes.endsWith('\n'));
    QCOMPARE(bytes.count('\n'), model.rowCount() + 1 + 1); // one line feed sits inside a name
}

void TestCrawler::writeCsvNothingToWrite()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.file(QStringLiteral("no-attributes.txt"));
    const QString destination = tree.path(QStringLiteral("out/result.csv"));
    tree.file(QStringLiteral("out/result.csv"), "earlier");

    Crawler model;
    QCOMPARE(model.writeCSV(destination).status, CsvWriteResult::NothingToWrite);
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(tree.path(QStringLiteral("no-attributes.txt")).section(QLatin1Char('/'), 0, -2), true);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.writeCSV(destination).status, CsvWriteResult::NothingToWrite);
    QFile file(destination);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("earlier"));
    QVERIFY(!QFile::exists(tree.path(QStringLiteral("out/other.csv"))));
    QCOMPARE(model.writeCSV(tree.path(QStringLiteral("out/other.csv"))).status,
             CsvWriteResult::NothingToWrite);
    QVERIFY(!QFile::exists(tree.path(QStringLiteral("out/other.csv"))));
}

void TestCrawler::writeCsvFailure()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("a")), "\x01");
    Crawler model;
    QSignalSpy finished(&model, &Crawler::crawlFinished);
    model.startCrawl(tree.root(), false);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
    const CsvWriteResult result = model.writeCSV(tree.path(QStringLiteral("no/such/folder/out.csv")));
    QCOMPARE(result.status, CsvWriteResult::Failed);
    QVERIFY(!result.reason.isEmpty());
}

void TestCrawler::proposedCsvName_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("no folder yet") << QString() << QStringLiteral("Quellmark_.csv");
    QTest::newRow("volume folder") << QStringLiteral("/Volumes/Data/Downloads")
                                   << QStringLiteral("Quellmark__Volumes_Data_Downloads.csv");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("Quellmark__.csv");
}

void TestCrawler::proposedCsvName()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    Crawler model;
    if (!folder.isEmpty()) {
        QSignalSpy status(&model, &Crawler::statusChanged);
        model.startCrawl(folder, false);
        model.stop();
    }
    QCOMPARE(model.proposedCsvName(), name);
}

QTEST_GUILESS_MAIN(TestCrawler)
#include "tst_crawler.moc"
