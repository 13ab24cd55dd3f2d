#include "core/DecoratedValues.h"
#include "crawl/Crawled.h"

#include <QSet>
#include <QTest>

class TestCrawled : public QObject
{
    Q_OBJECT

private slots:
    void fieldsKeptExactly_data();
    void fieldsKeptExactly();
    void exportText_data();
    void exportText();
    void csvColumns();
    void fromWalk_data();
    void fromWalk();
    void idsAreFreshRandomUuids();
};

void TestCrawled::fieldsKeptExactly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("provenanceID");
    QTest::addColumn<QString>("quarantineApp");
    QTest::newRow("plain") << QStringLiteral("a.txt") << QStringLiteral("/x/a.txt")
                           << QStringLiteral("❓ 0x01") << QStringLiteral("🔸 Browser");
    QTest::newRow("empty values") << QStringLiteral("b") << QStringLiteral("/b") << QString() << QString();
    QTest::newRow("odd characters") << QStringLiteral("bad\uFFFD, \"x\"\n") << QStringLiteral("/%C3%A9/")
                                    << QStringLiteral("✅ /Applications/É.app")
                                    << QString::fromUtf8("🔸 a\0b", 9);
    QTest::newRow("all empty") << QString() << QString() << QString() << QString();
}

void TestCrawled::fieldsKeptExactly()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QFETCH(QString, provenanceID);
    QFETCH(QString, quarantineApp);
    const Crawled record(name, path, provenanceID, quarantineApp);
    QCOMPARE(record.name(), name);
    QCOMPARE(record.path(), path);
    QCOMPARE(record.provenanceID(), provenanceID);
    QCOMPARE(record.quarantineApp(), quarantineApp);
}

void TestCrawled::exportText_data()
{
    QTest::addColumn<QString>("provenanceID");
    QTest::addColumn<QString>("quarantineApp");
    QTest::addColumn<QString>("text");
    QTest::newRow("both") << QStringLiteral("❓ 0x01") << QStringLiteral("🔸 Browser")
                          << QStringLiteral("n | ❓ 0x01 | 🔸 Browser | /p/n");
    QTest::newRow("no quarantine") << QStringLiteral("❓ 0x01") << QString()
                                   << QStringLiteral("n | ❓ 0x01 |  | /p/n");
    QTest::newRow("no provenance") << QString() << QStringLiteral("🔸 unknown")
                                   << QStringLiteral("n |  | 🔸 unknown | /p/n");
}

void TestCrawled::exportText()
{
    QFETCH(QString, provenanceID);
    QFETCH(QString, quarantineApp);
    QFETCH(QString, text);
    QCOMPARE(Crawled(QStringLiteral("n"), QStringLiteral("/p/n"), provenanceID, quarantineApp).exportText(),
             text);
}

void TestCrawled::csvColumns()
{
    QCOMPARE(Crawled::csvHeader(), QStringList({QStringLiteral("Filename"), QStringLiteral("Provenance ID"),
                                                QStringLiteral("Quarantine App"), QStringLiteral("Path")}));
    const Crawled record(QStringLiteral("n"), QStringLiteral("/p/n"), QStringLiteral("P"), QString());
    QCOMPARE(record.csvFields(),
             QStringList({QStringLiteral("n"), QStringLiteral("P"), QString(), QStringLiteral("/p/n")}));
}

void TestCrawled::fromWalk_data()
{
    QTest::addColumn<QByteArray>("rawName");
    QTest::addColumn<bool>("isDirectory");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("file") << QByteArray("a b.txt") << false << QStringLiteral("a b.txt")
                          << QStringLiteral("/top/sub%20dir/a%20b.txt");
    QTest::newRow("folder") << QByteArray("Some.app") << true << QStringLiteral("Some.app")
                            << QStringLiteral("/top/sub%20dir/Some.app/");
    QTest::newRow("not UTF-8") << QByteArray("x\xff.txt") << false << QStringLiteral("x\uFFFD.txt")
                               << QStringLiteral("/top/sub%20dir/x%FF.txt");
    QTest::newRow("UTF-8") << QByteArray("\xc3\xa9t\xc3\xa9") << false << QStringLiteral("été")
                           << QStringLiteral("/top/sub%20dir/%C3%A9t%C3%A9");
    QTest::newRow("reserved characters") << QByteArray("%#?;,") << false << QStringLiteral("%#?;,")
                                         << QStringLiteral("/top/sub%20dir/%25%23%3F;,");
}

void TestCrawled::fromWalk()
{
    QFETCH(QByteArray, rawName);
    QFETCH(bool, isDirectory);
    QFETCH(QString, name);
    QFETCH(QString, path);
    DecoratedValues values;
    values.provenanceID = QStringLiteral("❓ 0xff");
    values.quarantineApp = QStringLiteral("🔸 Browser");
    values.keep = true;
    const QByteArray folder("/top/sub%20dir/");
    const Crawled record = Crawled::fromWalk(folder, rawName, isDirectory, values);
    QCOMPARE(record.name(), name);
    QCOMPARE(record.path(), path);
    QCOMPARE(record.provenanceID(), values.provenanceID);
    QCOMPARE(record.quarantineApp(), values.quarantineApp);
    QVERIFY(!record.id().isNull());
}

void TestCrawled::idsAreFreshRandomUuids()
{
    QSet<QUuid> ids;
    const Crawled first(QStringLiteral("n"), QStringLiteral("/n"), {}, {});
    for (int i = 0; i < 10000; ++i) {
        const Crawled record(QStringLiteral("n"), QStringLiteral("/n"), {}, {});
        QCOMPARE(record.id().version(), QUuid::Random);
        QCOMPARE(record.id().variant(), QUuid::DCE);
        ids.insert(record.id());
        QVERIFY(!(record == first));
    }
    QCOMPARE(ids.size(), 10000);
    const Crawled copy = first;
    QVERIFY(copy == first);
}

QTEST_GUILESS_MAIN(TestCrawled)
#include "tst_crawled.moc"
