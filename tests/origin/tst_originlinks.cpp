// Reading a Mac volume's damaged databases as far as they go, leaving the evidence untouched,
// and the odd cases of the decoders of outside bytes. Where the databases are found, what the
// links give and the common values are checked at the command line (tst_origincli,
// tst_hostileorigin).
#include "origin/MacSources.h"
#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"
#include "origin/ProvenanceRecord.h"
#include "origin/QuarantineValue.h"
#include "origin/ReadOnlyDatabase.h"
#include "origin/UtcTime.h"
#include "tests/origin/MacVolumeFixture.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDirIterator>
#include <QTest>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kExecPolicy = u"private/var/db/SystemPolicyConfiguration/ExecPolicy"_s;
const QString kEvents = u"Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2"_s;
const QByteArray kJournal = QByteArray::fromHex("d9d505f920a163d7"); // a rollback journal's header

// Every entry below `folder`, in order. Listing a folder moves its access time.
QStringList entries(const QString& folder)
{
    QStringList paths;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        paths << it.next();
    paths.sort();
    return paths;
}

// Each of `paths` with its bytes' hash, modification and access times, read without moving them.
QStringList snapshot(const QStringList& paths)
{
    QStringList listing;
    for (const QString& name : paths) {
        const QByteArray path = QFile::encodeName(name);
        struct stat st;
        ::stat(path.constData(), &st);
        QFile file;
        if (const int fd = ::open(path.constData(), O_RDONLY | O_NOATIME); fd >= 0)
            file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle);
        const QByteArray bytes = S_ISREG(st.st_mode) ? file.readAll() : QByteArray();
        const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        listing << QString::asprintf("%s %s %ld.%09ld %ld.%09ld", path.constData(), hash.constData(),
                                     st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_atim.tv_sec,
                                     st.st_atim.tv_nsec);
    }
    return listing;
}

} // namespace

class TestOriginLinks : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    QString m_mac;
    QString m_report;

    QString database(const QString& relative) const { return m_mac + u'/' + relative; }
    QByteArray read(const QString& relative) const
    {
        return ToolRun::contents(QFile::encodeName(database(relative)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        QCOMPARE(MacVolumeFixture::populate(m_tree, u"mac"_s), QString());
        m_mac = m_tree.path(u"mac"_s);
        m_report = m_tree.path(u"mac/Users/alice/Downloads/report.pdf"_s);
    }

    // Databases planted or left damaged: each is used as far as it can be, never trusted, and
    // what could not be used is noted; read from disk and, as from inside an image, from memory.
    // One not SQLite and an endless view: tst_origindetails.
    void damaged_data()
    {
        // "ExecPolicy=B" puts the bytes B in place of ExecPolicy, "index" overwrites the key's
        // index of alice's events, "-journal" and "-wal" put a file beside them; else SQL run on them.
        QTest::addColumn<QByteArray>("damage");
        QTest::addColumn<QString>("note"); // the one note, on that database
        QTest::addColumn<bool>("linked");  // whether alice's event is still found
        const auto row = [](const char* tag, const QByteArray& damage, const char* note, bool linked) {
            QTest::newRow(tag) << damage << QString::fromUtf8(note) << linked;
        };
        row("ExecPolicy empty", "ExecPolicy=", "no table provenance_tracking", true);
        row("events table missing", "DROP TABLE LSQuarantineEvent", "no table LSQuarantineEvent", false);
        row("events column missing", "ALTER TABLE LSQuarantineEvent DROP COLUMN LSQuarantineSenderName",
            "no column LSQuarantineSenderName in LSQuarantineEvent", false);
        // A value of 900 MB, were it computed.
        row("events column computed",
            "ALTER TABLE LSQuarantineEvent RENAME COLUMN LSQuarantineAgentName TO "
            "stored; ALTER TABLE "
            "LSQuarantineEvent ADD COLUMN LSQuarantineAgentName GENERATED ALWAYS "
            "AS (zeroblob(900000000)) "
            "VIRTUAL",
            "column lsquarantineagentname of LSQuarantineEvent is computed", false);
        row("events without their key: read once",
            "CREATE TABLE copy AS SELECT * FROM LSQuarantineEvent; DROP TABLE "
            "LSQuarantineEvent; "
            "ALTER TABLE copy RENAME TO LSQuarantineEvent",
            "", true);
        row("events in WAL mode", "PRAGMA journal_mode=WAL", "", true);
        row("events index damaged", "index", "is damaged (database disk image is malformed)", true);
        row("events mid-transaction", "-journal", "transaction that never finished", true);
        row("events with an unread log", "-wal",
            " has a write-ahead log (32 bytes) that was not read: its latest rows "
            "may be missing",
            true);
    }

    void damaged()
    {
        QFETCH(QByteArray, damage);
        QFETCH(QString, note);
        QFETCH(bool, linked);
        const QString volume =
            u"broken-"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString events =
            m_tree.file(volume + u"/Users/alice/"_s + kEvents, read(u"Users/alice/"_s + kEvents));
        const bool policyReplaced = damage.startsWith("ExecPolicy=");
        const QString policy =
            m_tree.file(volume + u'/' + kExecPolicy, policyReplaced ? damage.mid(11) : read(kExecPolicy));
        if (damage == "index") {
            qint64 page = 0;
            ReadOnlyDatabase(QFile::encodeName(events))
                .forEachRow("SELECT rootpage FROM sqlite_schema WHERE type = 'index'",
                            [&page](sqlite3_stmt* row) {
                                page = ReadOnlyDatabase::integer(row, 0).value_or(0);
                                return false;
                            });
            QFile file(events);
            QVERIFY(page > 1 && file.open(QIODevice::ReadWrite) && file.seek((page - 1) * 4096));
            file.write(QByteArray(4096, '\xff'));
        } else if (damage.startsWith('-')) {
            m_tree.file(events.mid(m_tree.root().size() + 1) + QString::fromLatin1(damage),
                        damage == "-wal" ? QByteArray(32, '\1') : kJournal + QByteArray(504, '\0'));
        } else if (!policyReplaced && !damage.isEmpty()) {
            QCOMPARE(MacVolumeFixture::execute(events, QString::fromUtf8(damage)), QString());
        }
        const QHash<QByteArray, QByteArray> contents{
            {QFile::encodeName(events), ToolRun::contents(QFile::encodeName(events))},
            {QFile::encodeName(policy), ToolRun::contents(QFile::encodeName(policy))}};
        // The evidence stays as it was: access times older than the modification times, which
        // any plain read (a folder's listing, a journal's header) would move.
        const QStringList paths = entries(m_tree.path(volume));
        const timespec old[2] = {{1000, 0}, {0, UTIME_OMIT}};
        for (const QString& path : paths)
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, 0), 0);
        const QStringList before = snapshot(paths);
        const MacSources sources = MacSources::at(QFile::encodeName(m_tree.path(volume)));
        for (const bool inMemory : {false, true}) {
            const auto databases =
                inMemory ? OriginDatabases::load(sources, contents) : OriginDatabases::load(sources);
            // A file beside a database is not there in memory.
            const QString expected = inMemory && damage.startsWith('-') ? QString() : note;
            const OriginDetails report = OriginDetails::inspect(QFile::encodeName(m_report), databases.get());
            QCOMPARE(report.quarantine->agent, u"Safari"_s);
            QCOMPARE(bool(report.provenanceRecord), !policyReplaced);
            QCOMPARE(report.quarantineEvent ? report.quarantineEvent->agentName : QString(),
                     linked ? u"Safari"_s : QString());
            QCOMPARE(databases->notes().size(), expected.isEmpty() ? 0 : 1);
            if (!expected.isEmpty())
                QVERIFY2(databases->notes().first().startsWith(policyReplaced ? policy : events) &&
                             databases->notes().first().contains(expected),
                         qPrintable(databases->notes().first()));
            if (!inMemory) {
                QCOMPARE(snapshot(paths), before);
                QCOMPARE(entries(m_tree.path(volume)), paths);           // nothing left beside
                QVERIFY(QFile::remove(events) && QFile::remove(policy)); // memory alone is left
            }
        }
    }

    // A lookup that runs past its budget is stopped, whatever the statement.
    void endlessQueryIsStopped()
    {
        ReadOnlyDatabase execPolicy(QFile::encodeName(database(kExecPolicy)));
        qint64 rows = 0;
        QVERIFY(!execPolicy.forEachRow("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL "
                                       "SELECT n + 1 FROM c) SELECT n FROM c",
                                       [&rows](sqlite3_stmt*) { return ++rows > 0; }));
        QCOMPARE(execPolicy.failure(), ReadOnlyDatabase::Failure::OverBudget);
        QVERIFY(rows > 1000);
        // Views are never run: a planted one can hide any statement behind a table's name.
        const QString planted = m_tree.path(u"planted.db"_s);
        QCOMPARE(MacVolumeFixture::execute(planted, u"CREATE TABLE t (x); INSERT INTO t VALUES (1); "
                                                    "CREATE VIEW v AS SELECT x FROM t"_s),
                 QString());
        ReadOnlyDatabase withView(QFile::encodeName(planted));
        const auto any = [](sqlite3_stmt*) { return true; };
        QVERIFY(withView.forEachRow("SELECT x FROM t", any) && !withView.forEachRow("SELECT x FROM v", any));
    }

    void quarantine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // flags|time|agent|eventID|flag names, or "none"
        QTest::newRow("lower-case id kept, ends at NUL")
            << QByteArray("0083;65a1b2c3;Chrome;2a7b3c4d-aaaa\0;junk", 40)
            << u"0083|2024-01-12T21:44:35Z|Chrome|2a7b3c4d-aaaa|0x0001,0x0002,0x0080"_s;
        QTest::newRow("trailing NUL of a share")
            << QByteArray("0040;00000000;;\0", 16) << u"0040|1970-01-01T00:00:00Z|||userApproved"_s;
        QTest::newRow("not hex") << "zz;later;Mail"_ba << u"zz||Mail||"_s;
        QTest::newRow("not hex, upper case") << "0000;LATER"_ba << u"0000||||"_s;
        QTest::newRow("too many digits") << "000000001;0000000065a1b2c3"_ba << u"000000001||||"_s;
        QTest::newRow("flags only") << "0000"_ba << u"0000||||"_s;
        QTest::newRow("empty: nothing") << QByteArray() << u"none"_s;
        QTest::newRow("NUL first: nothing") << QByteArray("\0;x;y", 5) << u"none"_s;
    }

    void quarantine()
    {
        QFETCH(QByteArray, bytes);
        const auto decoded = QuarantineValue::decode(bytes);
        const QuarantineValue v = decoded.value_or(QuarantineValue());
        const QString fields =
            QStringList{v.flags, v.time, v.agent, v.eventID, v.flagNames.join(u',')}.join(u'|');
        QTEST(decoded ? fields : u"none"_s, "expected");
    }

    void provenanceKeys()
    {
        const QByteArray little = MacVolumeFixture::provenanceValue(0x0102030405060708);
        const auto keys = ProvenanceRecord::keysOf(little);
        QCOMPARE(keys.size(), 2);
        QCOMPARE(keys.at(0), std::pair(qint64(0x0102030405060708), u"little-endian"_s));
        QCOMPARE(keys.at(1), std::pair(qint64(0x0807060504030201), u"big-endian"_s));
        QCOMPARE(ProvenanceRecord::keysOf(MacVolumeFixture::provenanceValue(-2)).at(0).first, -2);
        QCOMPARE(ProvenanceRecord::keysOf(little + '\0'), keys);
        QVERIFY(ProvenanceRecord::keysOf(little.left(10)).isEmpty());
        QVERIFY(ProvenanceRecord::keysOf(little + 'x').isEmpty());
        QVERIFY(ProvenanceRecord::keysOf(QByteArray::fromHex("010300") + little.mid(3) + '\0').isEmpty());
    }

    void times()
    {
        QCOMPARE(UtcTime::fromMacAbsolute(726842767.25), u"2024-01-13T12:46:07.25Z"_s);
        QCOMPARE(UtcTime::fromMacAbsolute(-0.5), u"2000-12-31T23:59:59.5Z"_s);
        QCOMPARE(UtcTime::fromMacAbsolute(1e300), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(0x7fffffffffffffff), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(-62135596800), u"0001-01-01T00:00:00Z"_s);
        QCOMPARE(UtcTime::fromUnixSeconds(-62135596801), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(253402300799), u"9999-12-31T23:59:59Z"_s);
        // Every day from 1600 to 2400 (each leap rule), at its first or last second, as QDateTime writes
        // them.
        for (qint64 day = -135140; day < 157054; ++day) {
            const qint64 second = day * 86400 + (day % 2 != 0 ? 86399 : 0);
            QCOMPARE(UtcTime::fromUnixSeconds(second),
                     QDateTime::fromSecsSinceEpoch(second, Qt::UTC).toString(Qt::ISODate));
        }
    }
};

QTEST_GUILESS_MAIN(TestOriginLinks)
#include "tst_originlinks.moc"
