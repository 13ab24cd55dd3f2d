#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/ProvenanceRegistry.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <cerrno>

// The six-step order every model follows, and the decorated texts of the crawl and drop.
class TestAttributeEvaluation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void order_data();
    void order();
    void decorations_data();
    void decorations();
    void decoratedDefaultsAreEmpty();
    void realFiles();
};

namespace {

// How the fake source answers one call.
enum Answer
{
    Yes,   // test: true; read: the bytes
    No,    // test: false (attribute empty)
    Fails, // the call fails
};

struct Journal
{
    QStringList entries;
};

// Answers from a table and notes every call in the shared journal.
struct RecordingSource
{
    Journal* journal;
    Answer provenanceTest = Yes;
    Answer provenanceRead = Yes;
    Answer quarantineTest = Yes;
    Answer quarantineRead = Yes;
    QByteArray provenance = QByteArray::fromHex("0a0b");
    QByteArray quarantine = "0083;1;Agent;2";

    bool isProvenance(const std::vector<HostAttributeName>& forms) const
    {
        if (&forms == &provenanceForms())
            return true;
        if (&forms != &quarantineForms())
            qFatal("evaluation passed forms of neither attribute");
        return false;
    }

    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms)
    {
        const bool p = isProvenance(forms);
        journal->entries << (p ? QStringLiteral("test-prov") : QStringLiteral("test-quar"));
        switch (p ? provenanceTest : quarantineTest) {
        case Yes:
            return true;
        case No:
            return false;
        case Fails:
            break;
        }
        return posixError(ENODATA);
    }

    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms)
    {
        const bool p = isProvenance(forms);
        journal->entries << (p ? QStringLiteral("read-prov") : QStringLiteral("read-quar"));
        if ((p ? provenanceRead : quarantineRead) != Yes)
            return posixError(EACCES);
        return p ? provenance : quarantine;
    }
};

struct RecordingSink
{
    Journal* journal;
    void onProvenancePresent() { journal->entries << QStringLiteral("prov-present"); }
    void onProvenanceID(const QString& id) { journal->entries << QStringLiteral("prov=") + id; }
    void onQuarantinePresent() { journal->entries << QStringLiteral("quar-present"); }
    void onQuarantineApp(const QString& app) { journal->entries << QStringLiteral("quar=") + app; }
};

} // namespace

void TestAttributeEvaluation::cleanup()
{
    provenanceApps().clear();
}

void TestAttributeEvaluation::order_data()
{
    QTest::addColumn<int>("provenanceTest");
    QTest::addColumn<int>("provenanceRead");
    QTest::addColumn<int>("quarantineTest");
    QTest::addColumn<int>("quarantineRead");
    QTest::addColumn<bool>("examineQuarantine");
    QTest::addColumn<QStringList>("journal");

    const QString testProv = QStringLiteral("test-prov");
    const QString readProv = QStringLiteral("read-prov");
    const QString testQuar = QStringLiteral("test-quar");
    const QString readQuar = QStringLiteral("read-quar");
    const QString provPresent = QStringLiteral("prov-present");
    const QString quarPresent = QStringLiteral("quar-present");
    const QString provId = QStringLiteral("prov=0x0a0b");
    const QString quarApp = QStringLiteral("quar=Agent");

    QTest::newRow("both read") << int(Yes) << int(Yes) << int(Yes) << int(Yes) << true
                               << QStringList{testProv, provPresent, readProv, provId,
                                              testQuar, quarPresent, readQuar, quarApp};
    QTest::newRow("provenance empty") << int(No) << int(Yes) << int(Yes) << int(Yes) << true
                                      << QStringList{testProv, testQuar, quarPresent, readQuar, quarApp};
    QTest::newRow("provenance test fails") << int(Fails) << int(Yes) << int(Yes) << int(Yes) << true
                                           << QStringList{testProv, testQuar, quarPresent, readQuar, quarApp};
    QTest::newRow("provenance read fails")
        << int(Yes) << int(Fails) << int(Yes) << int(Yes) << true
        << QStringList{testProv, provPresent, readProv, testQuar, quarPresent, readQuar, quarApp};
    QTest::newRow("quarantine empty") << int(Yes) << int(Yes) << int(No) << int(Yes) << true
                                      << QStringList{testProv, provPresent, readProv, provId, testQuar};
    QTest::newRow("quarantine test fails") << int(Yes) << int(Yes) << int(Fails) << int(Yes) << true
                                           << QStringList{testProv, provPresent, readProv, provId, testQuar};
    QTest::newRow("quarantine read fails")
        << int(Yes) << int(Yes) << int(Yes) << int(Fails) << true
        << QStringList{testProv, provPresent, readProv, provId, testQuar, quarPresent, readQuar};
    QTest::newRow("everything fails")
        << int(Fails) << int(Fails) << int(Fails) << int(Fails) << true << QStringList{testProv, testQuar};
    QTest::newRow("quarantine not examined") << int(Yes) << int(Yes) << int(Yes) << int(Yes) << false
                                             << QStringList{testProv, provPresent, readProv, provId};
    QTest::newRow("quarantine not examined, no provenance")
        << int(Fails) << int(Yes) << int(Yes) << int(Yes) << false << QStringList{testProv};
}

void TestAttributeEvaluation::order()
{
    QFETCH(int, provenanceTest);
    QFETCH(int, provenanceRead);
    QFETCH(int, quarantineTest);
    QFETCH(int, quarantineRead);
    QFETCH(bool, examineQuarantine);
    QFETCH(QStringList, journal);

    Journal log;
    RecordingSource source{&log, Answer(provenanceTest), Answer(provenanceRead), Answer(quarantineTest),
                           Answer(quarantineRead)};
    RecordingSink sink{&log};
    evaluateAttributes(source, sink, examineQuarantine);
    QCOMPARE(log.entries, journal);
}

void TestAttributeEvaluation::decorations_data()
{
    QTest::addColumn<int>("provenanceTest");
    QTest::addColumn<int>("provenanceRead");
    QTest::addColumn<int>("quarantineTest");
    QTest::addColumn<int>("quarantineRead");
    QTest::addColumn<QByteArray>("provenance");
    QTest::addColumn<QString>("expectedProvenance");
    QTest::addColumn<QString>("expectedQuarantine");
    QTest::addColumn<bool>("keep");

    const QByteArray registered = QByteArray::fromHex("c0ffee");
    const QByteArray unknown = QByteArray::fromHex("0a0b");
    QTest::newRow("registered application")
        << int(Yes) << int(Yes) << int(Yes) << int(Yes) << registered
        << QStringLiteral("✅ /Applications/Editor.app") << QStringLiteral("🔸 Agent") << true;
    QTest::newRow("unregistered ID") << int(Yes) << int(Yes) << int(No) << int(Yes) << unknown
                                     << QStringLiteral("❓ 0x0a0b") << QString() << true;
    QTest::newRow("quarantine only") << int(Fails) << int(Yes) << int(Yes) << int(Yes) << unknown << QString()
                                     << QStringLiteral("🔸 Agent") << true;
    QTest::newRow("present but unreadable")
        << int(Yes) << int(Fails) << int(Yes) << int(Fails) << registered << QString() << QString() << true;
    QTest::newRow("both empty") << int(No) << int(Yes) << int(No) << int(Yes) << registered << QString()
                                << QString() << false;
    QTest::newRow("neither there") << int(Fails) << int(Yes) << int(Fails) << int(Yes) << registered
                                   << QString() << QString() << false;
}

void TestAttributeEvaluation::decorations()
{
    QFETCH(int, provenanceTest);
    QFETCH(int, provenanceRead);
    QFETCH(int, quarantineTest);
    QFETCH(int, quarantineRead);
    QFETCH(QByteArray, provenance);
    QFETCH(QString, expectedProvenance);
    QFETCH(QString, expectedQuarantine);
    QFETCH(bool, keep);

    provenanceApps().set(QStringLiteral("0xc0ffee"), QStringLiteral("/Applications/Editor.app"));
    // Lookups are exact: neither a prefix nor another case matches.
    provenanceApps().set(QStringLiteral("0x0a0"), QStringLiteral("/Applications/Prefix.app"));
    provenanceApps().set(QStringLiteral("0x0A0B"), QStringLiteral("/Applications/Upper.app"));

    Journal log;
    RecordingSource source{&log,
                           Answer(provenanceTest),
                           Answer(provenanceRead),
                           Answer(quarantineTest),
                           Answer(quarantineRead),
                           provenance};
    DecoratedValues values;
    evaluateAttributes(source, values);
    QCOMPARE(values.provenanceID, expectedProvenance);
    QCOMPARE(values.quarantineApp, expectedQuarantine);
    QCOMPARE(values.keep, keep);
}

void TestAttributeEvaluation::decoratedDefaultsAreEmpty()
{
    const DecoratedValues values;
    QVERIFY(values.provenanceID.isEmpty());
    QVERIFY(values.quarantineApp.isEmpty());
    QVERIFY(!values.keep);
}

void TestAttributeEvaluation::realFiles()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem().constData());
    const QString app = tree.folder(QStringLiteral("Applications/Known.app"));
    tree.setProvenance(app, QByteArray::fromHex("1234"));
    const QString download = tree.file(QStringLiteral("Downloads/file.zip"));
    tree.setProvenance(download, QByteArray::fromHex("1234"));
    tree.setQuarantine(download, "0083;65a1b2c3;Browser;1F2E3D4C");
    const QString quarantinedOnly = tree.file(QStringLiteral("Downloads/other.zip"));
    tree.setQuarantine(quarantinedOnly, "0083;65a1b2c3;Mail;1");
    const QString plain = tree.file(QStringLiteral("plain.txt"));

    provenanceApps().set(QStringLiteral("0x1234"), app);
    const auto evaluate = [](const QString& path, bool examineQuarantine) {
        ItemAttributes source(PathXattrCalls(QFile::encodeName(path)));
        DecoratedValues values;
        evaluateAttributes(source, values, examineQuarantine);
        return values;
    };

    const DecoratedValues fromDownload = evaluate(download, true);
    QCOMPARE(fromDownload.provenanceID, QStringLiteral("✅ ") + app);
    QCOMPARE(fromDownload.quarantineApp, QStringLiteral("🔸 Browser"));
    QVERIFY(fromDownload.keep);

    const DecoratedValues withoutQuarantine = evaluate(download, false);
    QCOMPARE(withoutQuarantine.provenanceID, QStringLiteral("✅ ") + app);
    QVERIFY(withoutQuarantine.quarantineApp.isEmpty());

    const DecoratedValues onlyQuarantine = evaluate(quarantinedOnly, true);
    QVERIFY(onlyQuarantine.provenanceID.isEmpty());
    QCOMPARE(onlyQuarantine.quarantineApp, QStringLiteral("🔸 Mail"));
    QVERIFY(onlyQuarantine.keep);
    QVERIFY(!evaluate(quarantinedOnly, false).keep);

    const DecoratedValues nothing = evaluate(plain, true);
    QVERIFY(!nothing.keep);
    QVERIFY(nothing.provenanceID.isEmpty());
    QVERIFY(nothing.quarantineApp.isEmpty());

    provenanceApps().clear();
    QCOMPARE(evaluate(download, true).provenanceID, QStringLiteral("❓ 0x1234"));
}

QTEST_GUILESS_MAIN(TestAttributeEvaluation)
#include "tst_attributeevaluation.moc"
