// Origin evidence written by whoever is investigated, to trap the analyst: property lists
// and databases built to hang, exhaust memory or crash a reader, and names that command a
// terminal. Each is run through quellmark-cli under a memory limit; a trap that is not
// stopped shows as a crash here, or as the suite's own timeout.
#include "tests/origin/MacVolumeFixture.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QTest>
#include <QtEndian>

#include <functional>
#include <numeric>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

constexpr char kWhereFroms[] = "com.apple.metadata:kMDItemWhereFroms";
constexpr char kEvent[] = "0081;65a1b2c3;Safari;6C5A0E1E-0000-4000-8000-000000000001";

QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// An object's marker with its length: in the low four bits, or after it as an integer.
QByteArray marker(uchar type, quint32 length)
{
    return length < 15 ? QByteArray(1, char(type | length))
                       : QByteArray(1, char(type | 0x0F)) + char(0x12) + be32(length);
}

QByteArray text(const QByteArray& ascii)
{
    return marker(0x50, quint32(ascii.size())) + ascii;
}

QByteArray array(const QList<quint32>& refs)
{
    QByteArray bytes = marker(0xA0, quint32(refs.size()));
    for (quint32 ref : refs)
        bytes += be32(ref);
    return bytes;
}

// A binary property list of `objects` (references four bytes wide), object 0 at the top.
QByteArray bplist(const QList<QByteArray>& objects)
{
    QByteArray bytes("bplist00"), table, trailer(32, '\0');
    for (const QByteArray& object : objects) {
        table += be32(quint32(bytes.size()));
        bytes += object;
    }
    trailer[6] = trailer[7] = 4;
    qToBigEndian(quint64(objects.size()), trailer.data() + 8);
    qToBigEndian(quint64(bytes.size()), trailer.data() + 24);
    return bytes + table + trailer;
}

// A property list of `count` objects, object `i` made by `object(i)`.
QByteArray chain(quint32 count, const std::function<QByteArray(quint32)>& object)
{
    QList<QByteArray> objects;
    for (quint32 i = 0; i < count; ++i)
        objects << object(i);
    return bplist(objects);
}

} // namespace

class TestHostileOrigin : public QObject
{
    Q_OBJECT

    TestTree m_tree; // removes even what lies deeper than PATH_MAX

    // quellmark-cli with `arguments`, in at most 2 GiB of address space where the sanitizers,
    // which reserve far more, are not built in.
    ToolRun::Outcome cli(const QByteArrayList& arguments, bool unprivileged = false,
                         const QByteArray& folder = {})
    {
        ToolRun call{ToolRun::built("quellmark-cli"), arguments, folder};
        call.unprivileged = unprivileged;
#if !defined(__SANITIZE_ADDRESS__)
        call.inChild = [] {
            const rlimit limit{2ul << 30, 2ul << 30};
            return ::setrlimit(RLIMIT_AS, &limit) == 0;
        };
#endif
        return call.run();
    }

    // alice's events database in the volume at `mac`, with her row for kEvent.
    static QString aliceEvents(const QString& mac)
    {
        const QString events = MacVolumeFixture::eventsPath(mac + u"/Users/alice"_s);
        const QString error = MacVolumeFixture::writeQuarantineEvents(
            events, {{QString::fromLatin1(kEvent).section(u';', 3), 700000000.0, QVariant(), u"Safari"_s,
                      QVariant(), QVariant(), QVariant(), 0, QVariant(), QVariant(), QVariant()}});
        return error.isEmpty() ? events : error;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
    }

    // Where-froms lists in AppleDouble files (which may be far larger than attributes), and the
    // databases a user could plant under their own home (damaged ones in general: tst_originlinks).
    // A note on standard error comes with the status of a partial result, 3.
    void traps_data()
    {
        QTest::addColumn<QByteArray>("plist"); // the file's where-froms list; none when null
        QTest::addColumn<QString>("sql");      // run on alice's database after her row is written
        QTest::addColumn<QByteArray>("err");   // on standard error
        QTest::addColumn<QByteArray>("json");  // in the line; empty: no event may be linked
        const QByteArray safari(R"("agent":"Safari")");
        const auto plist = [&](const char* tag, const QByteArray& plist, const QByteArray& err,
                               const QByteArray& json) {
            QTest::newRow(tag) << plist << QString() << err << (json.isEmpty() ? safari : json);
        };
        const auto database = [](const char* tag, const QString& sql, const QByteArray& err,
                                 const QByteArray& json) {
            QTest::newRow(tag) << QByteArray() << sql << err << json;
        };
        const auto dataURL = [](int bytes) {
            return u"UPDATE LSQuarantineEvent SET LSQuarantineDataURLString = replace(hex(zeroblob(%1)), '00', 'x')"_s
                .arg(bytes);
        };
        QList<quint32> all(50000);
        std::iota(all.begin(), all.end(), 1);
        QByteArray lying = bplist({array({1}), text("https://example.org/")});
        lying[lying.size() - 1] = char(0x70); // the offset table moved past the end
        QByteArray lyingCount = MacVolumeFixture::whereFromsPlist({u"https://example.org/"_s});
        lyingCount[lyingCount.size() - 17] = char(0x7f); // far more objects than there are
        // Read one level deep: arrays nested or shared any number of times end at this branch.
        plist("nested 60,000 deep",
              chain(60000, [](quint32 i) { return i < 59999 ? array({i + 1}) : text("end"); }),
              "element 0 is not a text", {});
        plist("one text shared past the cap",
              bplist({array(QList<quint32>(2000, 1)), text(QByteArray(1000, 'x'))}),
              "its texts add up to more than 1048576 bytes", {});
        plist("50,000 texts, each read once",
              chain(50001,
                    [&all](quint32 i) { return i ? text("u" + QByteArray::number(i - 1)) : array(all); }),
              {}, R"(,"u49998","u49999"])");
        plist("a text past the field cap", bplist({array({1}), text(QByteArray(20000, 'x'))}), {},
              "xxx … (20000 bytes in all)\"]");
        plist("offsets past the end", bplist({array({5})}), "element 0 is damaged", {});
        plist("trailer past the end", lying, "its trailer points outside it", {});
        plist("object count lies", lyingCount, "its trailer points outside it", {});
        plist("xml", "<?xml version=\"1.0\"?><plist><array><string>x</string></array></plist>",
              "not a binary property list", {});
        plist("only a header", "bplist00", "not a binary property list", {});
        plist("UTF-16 text", MacVolumeFixture::whereFromsPlist({u"https://exämple.org/ü"_s}), {},
              "\"whereFroms\":[\"https://exämple.org/ü\"]");
        plist("empty list", MacVolumeFixture::whereFromsPlist({}), {}, "\"whereFroms\":[]");
        // A column computed on reading is refused unread (tst_originlinks).
        database("a stored value past the limit", dataURL(17 << 20), "a value is larger than 16777216 bytes",
                 {});
        database("a long value, cut", dataURL(100000), {}, "xxx … (100000 bytes in all)");
        // A user whose name sorts first holds the rival row.
        database(
            "a rival row for the same event",
            u"ATTACH '@aaa' AS other; INSERT INTO other.LSQuarantineEvent SELECT * FROM LSQuarantineEvent; "
            "UPDATE other.LSQuarantineEvent SET LSQuarantineAgentName = 'Planted'"_s,
            {}, R"("agentName":"Safari")");
    }

    void traps()
    {
        QFETCH(QByteArray, plist);
        QFETCH(QString, sql);
        QFETCH(QByteArray, err);
        QFETCH(QByteArray, json);
        const QString mac = u"traps/"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString file = m_tree.file(mac + u"/Users/alice/Downloads/file.zip"_s);
        AppleDoubleFile sidecar;
        if (!plist.isNull())
            sidecar.add(kWhereFroms, plist);
        m_tree.file(mac + u"/Users/alice/Downloads/._file.zip"_s,
                    sidecar.add("com.apple.quarantine", kEvent).bytes());
        const QString alice = aliceEvents(m_tree.path(mac));
        QVERIFY2(QFile::exists(alice), qPrintable(alice));
        const QString rival = MacVolumeFixture::eventsPath(m_tree.path(mac + u"/Users/aaa"_s));
        if (sql.contains(u"@aaa"_s))
            QCOMPARE(MacVolumeFixture::writeQuarantineEvents(rival, {}), QString());
        if (!sql.isEmpty())
            QCOMPARE(MacVolumeFixture::execute(alice, QString(sql).replace(u"@aaa"_s, rival)), QString());
        const ToolRun::Outcome outcome = cli({"files", "--format", "jsonl", "--mac-root",
                                              QFile::encodeName(m_tree.path(mac)), QFile::encodeName(file)});
        QCOMPARE(outcome.status, err.isEmpty() ? 0 : 3);
        QVERIFY2(err.isEmpty() ? outcome.err.isEmpty() : outcome.err.contains(err), outcome.err.constData());
        QCOMPARE(outcome.out.count('\n'), 1);
        QVERIFY2(outcome.out.contains(R"("agent":"Safari")") && outcome.out.contains(json) &&
                     outcome.out.contains(R"("user":"alice")") == !json.isEmpty(),
                 outcome.out.left(400).constData());
    }

    // Names and values reach the terminal as text, never as commands; what could not be read
    // is said, with the status of a partial result.
    void messages_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("lockedSidecar");
        QTest::addColumn<QByteArray>("err");

        QTest::newRow("escape sequence")
            << QByteArray("a\x1b]0;owned\x07\x1b[2Jb") << false << QByteArray("a␛]0;owned␇␛[2Jb");
        QTest::newRow("C1 control") << QByteArray("c\xc2\x9b"
                                                  "31mc")
                                    << false << QByteArray("c<U+009B>31mc");
        QTest::newRow("sidecar not readable")
            << QByteArray("locked") << true
            << QByteArray("its AppleDouble file could not be read: Permission denied");
    }

    void messages()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, lockedSidecar);
        QFETCH(QByteArray, err);
        const QByteArray folder = "messages/" + QByteArray(QTest::currentDataTag()).replace(' ', '-');
        const QByteArray file = m_tree.rawFile(folder + '/' + name);
        // A damaged where-froms list makes a note naming the file.
        m_tree.setRawAttribute(file, "user.com.apple.metadata:kMDItemWhereFroms",
                               lockedSidecar ? "" : "bplist00");
        m_tree.setRawAttribute(file, "user.com.apple.provenance", "\x01"); // so the crawl lists it
        if (lockedSidecar) {
            const QByteArray sidecar = m_tree.rawFile(folder + "/._" + name, AppleDoubleFile().bytes());
            QCOMPARE(::chmod(sidecar.constData(), 0), 0);
        }
        m_tree.openToOthers();
        for (const QByteArrayList& arguments :
             {QByteArrayList{"files", "--format", "jsonl", file},
              QByteArrayList{"crawl", "--format", "jsonl", m_tree.rawPath(folder)}}) {
            const ToolRun::Outcome outcome = cli(arguments, lockedSidecar);
            QCOMPARE(outcome.status, 3);
            QVERIFY2(outcome.err.contains(err) || arguments.first() == "crawl", outcome.err.constData());
            QVERIFY2(!outcome.err.contains('\x1b') && !outcome.err.contains("\xc2\x9b"),
                     outcome.err.constData());
        }
    }

    // Folders not UTF-8 and deeper than PATH_MAX, entered one at a time: a file's attribute
    // and another's sidecar are read, and both link to the volume's event.
    void pastPathMax()
    {
        const QString mac = m_tree.folder(u"deepmac"_s);
        QVERIFY(QFile::exists(aliceEvents(mac)));
        // f holds its own event, g's sidecar lends it the volume's.
        const QByteArray deep =
            m_tree.rawPath(m_tree.deepFile("deep", 24, QByteArray(199, 'd') + '\xff', "f", "\x01"))
                .chopped(2);
        QVERIFY(deep.size() > 4096);
        const ToolRun::Outcome made =
            ToolRun("/usr/bin/python3",
                    {"-c",
                     "import os, sys; open('g', 'w'); os.setxattr('f', sys.argv[1], "
                     "sys.argv[2].encode()); open('._g', 'wb').write(bytes.fromhex(sys.argv[3]))",
                     "user.com.apple.quarantine", QByteArray(kEvent).replace("Safari", "Deep"),
                     AppleDoubleFile().add("com.apple.quarantine", kEvent).bytes().toHex()},
                    deep)
                .run();
        QVERIFY2(made.status == 0, made.err.constData());
        const ToolRun::Outcome outcome =
            cli({"files", "--format", "jsonl", "--mac-root", QFile::encodeName(mac), "f", "g"}, false, deep);
        QCOMPARE(outcome.err, QByteArray());
        QCOMPARE(outcome.status, 0);
        const QByteArrayList lines = outcome.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).contains(R"("agent":"Deep")") && lines.at(1).contains(R"("agent":"Safari")"),
                 outcome.out.right(600).constData());
        for (const QByteArray& line : lines)
            QVERIFY2(line.contains(R"("agentName":"Safari")") &&
                         line.contains("/f\"") != line.contains("/g\""),
                     line.right(400).constData());
    }
};

QTEST_GUILESS_MAIN(TestHostileOrigin)
#include "tst_hostileorigin.moc"
