// A Mac volume of real databases and files with real attributes: finding the databases,
// linking each file to its rows, the JSON line, damaged inputs, and the evidence untouched.
#include "origin/MacSources.h"
#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"
#include "origin/OriginJson.h"
#include "origin/ReadOnlyDatabase.h"
#include "tests/origin/MacVolumeFixture.h"
#include "tests/support/TestTree.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kExecPolicy = u"private/var/db/SystemPolicyConfiguration/ExecPolicy"_s;
const QString kEvents = u"Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2"_s;
const QString kAliceEvent = QString::fromLatin1(MacVolumeFixture::kAliceEvent);

QString jsonOf(const OriginDetails& details)
{
    return MacVolumeFixture::withoutPlainFields(QString::fromUtf8(OriginJson::line(u"n"_s, u"p"_s, u"i"_s, u"q"_s, details)));
}

// Every file below `folder`: its name, bytes, modification and access times.
QStringList snapshot(const QString& folder)
{
    QStringList listing;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat status;
        ::stat(QFile::encodeName(path).constData(), &status);
        // Read without moving the access time, which is part of what is compared.
        QByteArray hash;
        if (const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOATIME); fd >= 0) {
            QFile file;
            if (S_ISREG(status.st_mode) && file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle))
                hash = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
            else
                ::close(fd);
        }
        listing << u"%1 %2 %3.%4 %5.%6"_s.arg(path, QString::fromLatin1(hash))
                       .arg(status.st_mtim.tv_sec)
                       .arg(status.st_mtim.tv_nsec)
                       .arg(status.st_atim.tv_sec)
                       .arg(status.st_atim.tv_nsec);
    }
    listing.sort();
    return listing;
}

} // namespace

class TestOriginLinks : public QObject
{
    Q_OBJECT

private:
    TestTree m_tree;
    QString m_mac;
    QString m_report;
    QString m_mail;

    QString database(const QString& relative) const { return m_mac + u'/' + relative; }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        QCOMPARE(MacVolumeFixture::populate(m_tree, u"mac"_s), QString());
        m_mac = m_tree.path(u"mac"_s);
        m_report = m_tree.path(u"mac/Users/alice/Downloads/report.pdf"_s);
        m_mail = m_tree.path(u"mac/Users/bob/mail.txt"_s);
    }

    void sources_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<bool>("named"); // given as the Mac root, not searched from
        QTest::addColumn<bool>("execPolicy");
        QTest::addColumn<QStringList>("users");

        const QStringList both{u"alice"_s, u"bob"_s};
        QTest::newRow("from a file deep inside")
            << u"mac/Users/alice/Downloads/report.pdf"_s << false << true << both;
        QTest::newRow("from the volume root") << u"mac"_s << false << true << both;
        QTest::newRow("from a home folder")
            << u"mac/Users/bob"_s << false << true << QStringList{u"bob"_s, u"alice"_s};
        QTest::newRow("volume named") << u"mac/"_s << true << true << both;
        QTest::newRow("home named") << u"mac/Users/bob"_s << true << false << QStringList{u"bob"_s};
        QTest::newRow("outside") << u"elsewhere"_s << false << false << QStringList{};
        QTest::newRow("named, nothing there") << u"mac/Users"_s << true << false << QStringList{};
    }

    void sources()
    {
        QFETCH(QString, start);
        QFETCH(bool, named);
        QFETCH(bool, execPolicy);
        QFETCH(QStringList, users);
        m_tree.folder(u"elsewhere"_s);
        const QByteArray path = QFile::encodeName(m_tree.path(start));
        const MacSources found = named ? MacSources::at(path) : MacSources::above(path);
        QCOMPARE(found.execPolicy, execPolicy ? QFile::encodeName(database(kExecPolicy)) : QByteArray());
        QList<QByteArray> expected;
        for (const QString& user : users)
            expected << QFile::encodeName(database(u"Users/"_s + user + u'/' + kEvents));
        QCOMPARE(found.quarantineEvents, expected);
    }

    void links()
    {
        const auto databases = OriginDatabases::load(MacSources::above(QFile::encodeName(m_mac)));
        QCOMPARE(databases->notes(), QStringList());

        const OriginDetails report = OriginDetails::inspect(QFile::encodeName(m_report), databases.get());
        QCOMPARE(report.notes, QStringList());
        QCOMPARE(
            jsonOf(report),
            uR"({"name":"n","path":"p","provenanceID":"i","quarantineApp":"q",)"
            uR"("quarantine":{"flags":"00c1","flagNames":["0x0001","userApproved","0x0080"],)"
            uR"("time":"2024-01-12T21:44:35Z","agent":"Safari","eventID":"2A7B3C4D-1111-4222-8333-944455566677"},)"
            uR"("whereFroms":["https://example.org/files/report.pdf","https://example.org/downloads"],)"
            uR"("quarantineEvent":{"dataURL":"https://example.org/files/report.pdf",)"
            uR"("originURL":"https://example.org/downloads","originTitle":"Downloads","agentName":"Safari",)"
            uR"("agentBundleID":"com.apple.Safari","type":0,"time":"2024-01-13T12:46:07.25Z",)"
            uR"("user":"alice","database":"%1"},)"
            uR"("provenanceRecord":{"url":"file:///Applications/Tool.app/","bundleID":"com.example.tool",)"
            uR"("teamID":"ABCDE12345","signingID":"com.example.tool",)"
            uR"("cdhash":"5f3e0d1c2b3a49586776859403a2b1c0d9e8f7a6","flags":2,"time":"2023-11-14T22:13:19Z",)"
            uR"("byteOrder":"little-endian","database":"%2"}})"_s.arg(database(u"Users/alice/"_s + kEvents),
                                                                     database(kExecPolicy)));

        const OriginDetails mail = OriginDetails::inspect(QFile::encodeName(m_mail), databases.get());
        QCOMPARE(mail.notes, QStringList());
        QCOMPARE(
            jsonOf(mail),
            uR"({"name":"n","path":"p","provenanceID":"i","quarantineApp":"q",)"
            uR"("quarantine":{"flags":"0082","flagNames":["0x0002","0x0080"],"time":"2024-01-12T21:44:35Z",)"
            uR"("agent":"Mail","eventID":"5e6f7a8b-aaaa-4bbb-8ccc-ddddeeeeffff"},)"
            uR"("quarantineEvent":{"agentName":"Mail","agentBundleID":"com.apple.mail","senderName":"Carol",)"
            uR"("senderAddress":"carol@example.org","type":2,"time":"2023-03-08T20:26:40Z",)"
            uR"("user":"bob","database":"%1"},)"
            uR"("provenanceRecord":{"url":"file:///Applications/Other.app/","cdhash":"text-hash",)"
            uR"("time":"2023-11-14T22:13:20Z","byteOrder":"big-endian","database":"%2"}})"_s.arg(
                database(u"Users/bob/"_s + kEvents), database(kExecPolicy)));
        QCOMPARE(mail.provenanceRecord->linkPk, 4242);

        // Without databases: the decoded attributes alone.
        const OriginDetails alone = OriginDetails::inspect(QFile::encodeName(m_report), nullptr);
        QVERIFY(alone.quarantine && alone.whereFroms);
        QVERIFY(!alone.quarantineEvent && !alone.provenanceRecord);
        const OriginDetails plain =
            OriginDetails::inspect(QFile::encodeName(m_tree.file(u"plain"_s)), databases.get());
        QCOMPARE(jsonOf(plain), uR"({"name":"n","path":"p","provenanceID":"i","quarantineApp":"q"})"_s);
    }

    // Databases planted or left damaged: each is used as far as it can be, never trusted, and
    // what could not be used is noted.
    void damaged_data()
    {
        QTest::addColumn<QString>("sql");      // run on the copy of alice's events database
        QTest::addColumn<QByteArray>("bytes"); // or these bytes in place of ExecPolicy
        QTest::addColumn<QString>("harm");     // then: "index" overwrites the key's index, "journal" leaves one
        QTest::addColumn<QString>("note");     // the one note, on that database
        QTest::addColumn<bool>("linked");      // whether alice's event is still found

        const QString recursive = u"ALTER TABLE LSQuarantineEvent RENAME TO stored; "
                                  "CREATE VIEW LSQuarantineEvent AS WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL "
                                  "SELECT n + 1 FROM c) SELECT s.* FROM c, stored s"_s;
        QTest::newRow("ExecPolicy not SQLite")
            << QString() << QByteArray(4096, 'x') << QString() << u"file is not a database"_s << true;
        QTest::newRow("ExecPolicy empty")
            << QString() << QByteArray() << QString() << u"no table provenance_tracking"_s << true;
        QTest::newRow("events table missing")
            << u"DROP TABLE LSQuarantineEvent"_s << QByteArray() << QString() << u"no table LSQuarantineEvent"_s
            << false;
        QTest::newRow("events column missing")
            << u"ALTER TABLE LSQuarantineEvent DROP COLUMN LSQuarantineSenderName"_s << QByteArray() << QString()
            << u"no column LSQuarantineSenderName in LSQuarantineEvent"_s << false;
        QTest::newRow("events an endless view") << recursive << QByteArray() << QString()
                                                << u"LSQuarantineEvent is a view, not a table"_s << false;
        QTest::newRow("events column computed")
            << u"ALTER TABLE LSQuarantineEvent RENAME COLUMN LSQuarantineAgentName TO stored; "
               "ALTER TABLE LSQuarantineEvent ADD COLUMN LSQuarantineAgentName GENERATED ALWAYS AS "
               "(zeroblob(900000000)) VIRTUAL"_s
            << QByteArray() << QString() << u"column lsquarantineagentname of LSQuarantineEvent is computed"_s
            << false;
        QTest::newRow("events without their key: read once")
            << u"CREATE TABLE copy AS SELECT * FROM LSQuarantineEvent; DROP TABLE LSQuarantineEvent; "
               "ALTER TABLE copy RENAME TO LSQuarantineEvent"_s
            << QByteArray() << QString() << QString() << true;
        QTest::newRow("events index damaged") << QString() << QByteArray() << u"index"_s
                                              << u"is damaged (database disk image is malformed)"_s << true;
        QTest::newRow("events mid-transaction")
            << QString() << QByteArray() << u"journal"_s << u"transaction that never finished"_s << true;
    }

    void damaged()
    {
        QFETCH(QString, sql);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, harm);
        QFETCH(QString, note);
        QFETCH(bool, linked);
        const QString volume =
            m_tree.folder(u"broken-"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-'));
        const QString events = volume + u"/Users/alice/"_s + kEvents;
        const QString execPolicy = volume + u'/' + kExecPolicy;
        QDir().mkpath(QFileInfo(events).path());
        QDir().mkpath(QFileInfo(execPolicy).path());
        QVERIFY(QFile::copy(database(u"Users/alice/"_s + kEvents), events));
        const bool replaced = !bytes.isNull() || (sql.isEmpty() && harm.isEmpty());
        if (replaced) {
            QFile file(execPolicy);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        } else {
            QVERIFY(QFile::copy(database(kExecPolicy), execPolicy));
        }
        if (!sql.isEmpty())
            QCOMPARE(MacVolumeFixture::execute(events, sql), QString());
        if (harm == u"index"_s) {
            qint64 page = 0;
            ReadOnlyDatabase(QFile::encodeName(events))
                .forEachRow("SELECT rootpage FROM sqlite_schema WHERE type = 'index'", [&page](sqlite3_stmt* row) {
                    page = ReadOnlyDatabase::integer(row, 0).value_or(0);
                    return false;
                });
            QVERIFY(page > 1);
            QFile file(events);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek((page - 1) * 4096));
            file.write(QByteArray(4096, '\xff'));
        } else if (harm == u"journal"_s) {
            QFile journal(events + u"-journal"_s);
            QVERIFY(journal.open(QIODevice::WriteOnly));
            journal.write(QByteArray::fromHex("d9d505f920a163d7") + QByteArray(504, '\0'));
        }
        // The same files read into memory, as from inside an image, fare the same (a journal
        // beside them aside: it is not read there).
        QHash<QByteArray, QByteArray> contents;
        for (const QString& path : {events, execPolicy}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            contents.insert(QFile::encodeName(path), file.readAll());
        }
        const MacSources sources = MacSources::at(QFile::encodeName(volume));
        for (const bool inMemory : {false, true}) {
            const auto databases = inMemory ? OriginDatabases::load(sources, contents) : OriginDatabases::load(sources);
            const QString expected = inMemory && harm == u"journal"_s ? QString() : note;

            // The file still shows what it carries; a table that could not be used links nothing.
            const OriginDetails report = OriginDetails::inspect(QFile::encodeName(m_report), databases.get());
            QCOMPARE(report.quarantine->agent, u"Safari"_s);
            QCOMPARE(bool(report.provenanceRecord), !replaced);
            QCOMPARE(bool(report.quarantineEvent), linked);
            if (linked)
                QCOMPARE(report.quarantineEvent->agentName, u"Safari"_s);
            QCOMPARE(databases->notes().size(), expected.isEmpty() ? 0 : 1);
            if (!expected.isEmpty()) {
                QVERIFY2(databases->notes().first().contains(expected), qPrintable(databases->notes().first()));
                QVERIFY(databases->notes().first().startsWith(replaced ? execPolicy : events));
            }
            // Only the bytes in memory are left to be read.
            QVERIFY(inMemory || (QFile::remove(events) && QFile::remove(execPolicy)));
        }
    }

    // A lookup that runs past its budget is stopped, whatever the statement.
    void endlessQueryIsStopped()
    {
        ReadOnlyDatabase execPolicy(QFile::encodeName(database(kExecPolicy)));
        qint64 rows = 0;
        QVERIFY(!execPolicy.forEachRow("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c) "
                                     "SELECT n FROM c",
                                     [&rows](sqlite3_stmt*) { return ++rows > 0; }));
        QCOMPARE(execPolicy.failure(), ReadOnlyDatabase::Failure::OverBudget);
        QVERIFY(rows > 1000);
    }

    void lyingPlistIsIgnored()
    {
        const QString file = m_tree.file(u"lying.bin"_s);
        QByteArray plist = MacVolumeFixture::whereFromsPlist({u"https://example.org/"_s});
        plist[plist.size() - 1] = char(0x70); // the offset table moved past the end
        m_tree.setRawAttribute(QFile::encodeName(file), "user.com.apple.metadata:kMDItemWhereFroms", plist);
        m_tree.setQuarantine(file, "0081;65a1b2c3;Firefox;");
        const OriginDetails details = OriginDetails::inspect(QFile::encodeName(file), nullptr);
        QVERIFY(!details.whereFroms);
        QCOMPARE(details.quarantine->agent, u"Firefox"_s);
        QCOMPARE(details.problems,
                 QStringList{u"com.apple.metadata:kMDItemWhereFroms is not a property list of texts (%1 bytes: "
                             "its trailer points outside it); ignored"_s.arg(plist.size())});
    }

    void evidenceUnchanged()
    {
        // A journal left in WAL mode, and access times older than the modification times,
        // which a plain read would move forward.
        QCOMPARE(MacVolumeFixture::execute(database(u"Users/bob/"_s + kEvents), u"PRAGMA journal_mode=WAL"_s),
                 QString());
        // And a journal of an unfinished transaction, whose header is read.
        const QString journal = database(u"Users/alice/"_s + kEvents) + u"-journal"_s;
        QFile unfinished(journal);
        QVERIFY(unfinished.open(QIODevice::WriteOnly));
        unfinished.write(QByteArray::fromHex("d9d505f920a163d7") + QByteArray(504, '\0'));
        unfinished.close();
        const QStringList files{database(kExecPolicy), database(u"Users/alice/"_s + kEvents),
                                database(u"Users/bob/"_s + kEvents), journal, m_mac + u"/Users"_s};
        for (const QString& file : files) {
            const timespec times[2] = {{1000, 0}, {0, UTIME_OMIT}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
        }
        const QStringList before = snapshot(m_mac);
        for (int crawl = 0; crawl < 2; ++crawl) {
            const auto databases = OriginDatabases::load(MacSources::above(QFile::encodeName(m_report)));
            QVERIFY(OriginDetails::inspect(QFile::encodeName(m_mail), databases.get()).quarantineEvent);
        }
        QCOMPARE(snapshot(m_mac), before);
        QFile::remove(journal);
    }

    void unreadLogIsNoted()
    {
        const QString volume = m_tree.folder(u"withlog"_s);
        const QString events = volume + u'/' + kEvents;
        QDir().mkpath(QFileInfo(events).path());
        QVERIFY(QFile::copy(database(u"Users/alice/"_s + kEvents), events));
        QFile log(events + u"-wal"_s);
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write(QByteArray(32, '\1'));
        log.close();
        const auto databases = OriginDatabases::load(MacSources::at(QFile::encodeName(volume)));
        QCOMPARE(
            databases->notes(),
            QStringList{
                events +
                u" has a write-ahead log (32 bytes) that was not read: its latest rows may be missing"_s});
        QVERIFY(databases->event(kAliceEvent.toLower()));
    }

    void pathLongerThanTheKernelTakes()
    {
        // 24 folders of 200 bytes, each name not UTF-8: beyond PATH_MAX.
        const QByteArray level = QByteArray(199, 'd') + '\xff';
        const QString script = uR"(cd -P "$1" && L=$(printf '%s\377' "$2") &&
            for i in $(seq 24); do mkdir "$L" && cd -P "$L" || exit 1; done &&
            touch f && setfattr -n user.com.apple.quarantine -v "0081;65a1b2c3;Deep;$3" f)"_s;
        QCOMPARE(QProcess::execute(u"sh"_s, {u"-c"_s, script, u"sh"_s, m_tree.folder(u"deep"_s),
                                             QString(199, u'd'), kAliceEvent}),
                 0);
        QByteArray path = QFile::encodeName(m_tree.path(u"deep"_s));
        for (int i = 0; i < 24; ++i)
            path += '/' + level;
        path += "/f";
        QVERIFY(path.size() > 4096);
        const auto databases = OriginDatabases::load(MacSources::at(QFile::encodeName(m_mac)));
        const OriginDetails details = OriginDetails::inspect(path, databases.get());
        QCOMPARE(details.notes, QStringList());
        QCOMPARE(details.quarantine->agent, u"Deep"_s);
        QCOMPARE(details.quarantineEvent->agentName, u"Safari"_s);
        // The listed form of the same path leads to the same file.
        QCOMPARE(OriginDetails::rawPathOf(QString::fromLatin1(path.toPercentEncoding("/"))), path);
        QProcess::execute(u"rm"_s, {u"-rf"_s, m_tree.path(u"deep"_s)});
    }
};

QTEST_GUILESS_MAIN(TestOriginLinks)
#include "tst_originlinks.moc"
