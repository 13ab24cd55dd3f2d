// `--format` and `--mac-root` of quellmark-cli apps, crawl and files, on a Mac volume of real
// databases and files with real attributes, compared as whole output.
#include "tests/origin/MacVolumeFixture.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace Qt::StringLiterals;

namespace {

const QString kReport =
    uR"(,"quarantine":{"flags":"00c1","flagNames":["0x0001","userApproved","0x0080"],"time":"2024-01-12T21:44:35Z",)"
    uR"("agent":"Safari","eventID":"2A7B3C4D-1111-4222-8333-944455566677"},)"
    uR"("whereFroms":["https://example.org/files/report.pdf","https://example.org/downloads"],)"
    uR"("quarantineEvent":{"dataURL":"https://example.org/files/report.pdf","originURL":"https://example.org/downloads",)"
    uR"("originTitle":"Downloads","agentName":"Safari","agentBundleID":"com.apple.Safari","type":0,)"
    uR"("time":"2024-01-13T12:46:07.25Z","user":"alice","database":"@alice"},)"
    uR"("provenanceRecord":{"url":"file:///Applications/Tool.app/","bundleID":"com.example.tool","teamID":"ABCDE12345",)"
    uR"("signingID":"com.example.tool","cdhash":"5f3e0d1c2b3a49586776859403a2b1c0d9e8f7a6","flags":2,)"
    uR"("time":"2023-11-14T22:13:19Z","byteOrder":"little-endian","database":"@exec"}})"_s;
const QString kMail =
    uR"(,"quarantine":{"flags":"0082","flagNames":["0x0002","0x0080"],"time":"2024-01-12T21:44:35Z","agent":"Mail",)"
    uR"("eventID":"5e6f7a8b-aaaa-4bbb-8ccc-ddddeeeeffff"},)"
    uR"("quarantineEvent":{"agentName":"Mail","agentBundleID":"com.apple.mail","senderName":"Carol",)"
    uR"("senderAddress":"carol@example.org","type":2,"time":"2023-03-08T20:26:40Z","user":"bob","database":"@bob"},)"
    uR"("provenanceRecord":{"url":"file:///Applications/Other.app/","cdhash":"text-hash",)"
    uR"("time":"2023-11-14T22:13:20Z","byteOrder":"big-endian","database":"@exec"}})"_s;
const QString kReportIDs = uR"("provenanceID":"❓ 0x0102009210000000000000","quarantineApp":"🔸 Safari")"_s;

// A line's start: the entry at `path` (below the tree's root "@", as the line encodes it).
QString head(const QString& name, const QString& path, const QString& ids = kReportIDs)
{
    return uR"({"name":"%1","path":"@/%2",%3)"_s.arg(name, path, ids);
}

// The plain values of a copy of report.pdf in the timeline folder, for scripts and timelines.
QString plain(const QString& name, const QString& path, const QString& fields)
{
    return head(name, path) +
           uR"(,"fileName":"%1",%2"provenance":"0102009210000000000000",)"_s.arg(name, fields) +
           uR"("provenanceApp":null,"quarantineAgent":"Safari","source":{"com.apple.provenance":)"
           uR"("user.com.apple.provenance","com.apple.quarantine":"user.com.apple.quarantine"},"size":4,)"
           uR"("inode":{ino},"modified":"2023-11-14T22:13:20.5Z","changed":"*","accessed":"2020-09-13T12:26:40Z",)"
           uR"("quarantine":{"flags":"00c1","flagNames":["0x0001","userApproved","0x0080"],)"
           uR"("time":"2024-01-12T21:44:35Z","agent":"Safari","eventID":"2A7B3C4D-1111-4222-8333-944455566677"},)"
           uR"("attributes":[{"name":"com.apple.provenance","size":11,"value":"0102009210000000000000",)"
           uR"("encoding":"hex"},{"name":"com.apple.quarantine","size":57,"value":)"
           uR"("00c1;65a1b2c3;Safari;2A7B3C4D-1111-4222-8333-944455566677","encoding":"utf-8"}]})"
           "\n"_s;
}

// One event of the timeline of timeline/report.pdf.
QString timelineEvent(const QString& message, const QString& time, const QString& kind)
{
    return uR"({"message":"%1: @/timeline/report.pdf","datetime":"%2","timestamp_desc":"%3",)"
           uR"("filePath":"@/timeline/report.pdf",%4,"provenance":"0102009210000000000000",)"
           uR"("quarantineAgent":"Safari","eventID":"2A7B3C4D-1111-4222-8333-944455566677",)"
           uR"("dataURL":"https://example.org/files/report.pdf","originURL":"https://example.org/downloads"})"
           "\n"_s.arg(message, time, kind, kReportIDs);
}

} // namespace

class TestOriginCli : public QObject
{
    Q_OBJECT

    TestTree m_tree;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        QCOMPARE(MacVolumeFixture::populate(m_tree, u"mac"_s), QString());
        m_tree.file(u"elsewhere/empty"_s);
        // Without ExecPolicy: "lone" a volume of users' databases, "home/alice" a home alone.
        const QByteArray events = ToolRun::contents(
            QFile::encodeName(MacVolumeFixture::eventsPath(m_tree.path(u"mac/Users/alice"_s))));
        for (const QString& home : {u"lone/Users/alice"_s, u"home/alice"_s})
            m_tree.file(MacVolumeFixture::eventsPath(home), events);
        for (const QString& copy : {u"mac/Library/copy.pdf"_s, u"elsewhere/copy.pdf"_s, u"lone/copy.pdf"_s,
                                    u"home/alice/copy.pdf"_s})
            QCOMPARE(MacVolumeFixture::copyReport(m_tree, copy), QString());
        // Bare origins: no agent in the value, an event with only the agent's bundle and no URL,
        // a provenance row with only its URL (bob's).
        QCOMPARE(MacVolumeFixture::execute(
                     MacVolumeFixture::eventsPath(m_tree.path(u"mac/Users/alice"_s)),
                     u"INSERT INTO LSQuarantineEvent (LSQuarantineEventIdentifier, LSQuarantineTimeStamp, "
                     "LSQuarantineAgentBundleIdentifier) VALUES ('B4AE0000-0000-4000-8000-000000000000', "
                     "700000000, 'com.example.getter')"_s),
                 QString());
        const QString bare = m_tree.file(u"timeline/bare.pdf"_s);
        m_tree.setProvenance(bare, MacVolumeFixture::provenanceValue(77, false));
        m_tree.setQuarantine(bare, "0081;65a1b2c3;;B4AE0000-0000-4000-8000-000000000000");
        const QString tool = m_tree.folder(u"mac/Applications/Tool.app"_s);
        m_tree.setProvenance(tool, MacVolumeFixture::provenanceValue(4242));
        qputenv("QUELLMARK_APP_ROOTS", QFile::encodeName(m_tree.path(u"mac/Applications"_s)));
        // Copies with report.pdf's own two attributes and known times.
        for (const QByteArray name : {"report.pdf", "odd\xff\x1f.pdf", "say \"hi\" caf\xc3\xa9.pdf",
                                      "back\\slash.pdf", "a|b\nc.pdf"}) {
            const QByteArray file = m_tree.rawFile("timeline/" + name, "%PDF");
            m_tree.setRawAttribute(file, "user.com.apple.provenance",
                                   MacVolumeFixture::provenanceValue(4242));
            m_tree.setRawAttribute(file, "user.com.apple.quarantine",
                                   "00c1;65a1b2c3;Safari;"_ba + MacVolumeFixture::kAliceEvent);
            // The kernel's own namespaces are no Mac's: never listed (root may write them).
            QCOMPARE(::setxattr(file.constData(), "trusted.quellmark", "x", 1, 0), 0);
            const timespec times[2] = {{1600000000, 0}, {1700000000, 500000000}};
            QVERIFY(::chmod(file.constData(), 0644) == 0 &&
                    ::utimensat(AT_FDCWD, file.constData(), times, 0) == 0);
        }
    }

    void cli_data()
    {
        QTest::addColumn<QByteArrayList>("arguments"); // @ stands for the tree's root
        QTest::addColumn<int>("status");
        // The whole standard output: "*" matches any one value; {ino}, {uid}, {gid}, {ctime} are
        // those of the last argument; without "filePath" the lines are compared without plain values.
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err"); // a part of standard error; none at all when empty
        const QString quarantineOnly = kReport.left(kReport.indexOf(u",\"quarantineEvent\""_s)) + u'}';
        const QString noRecord = kReport.left(kReport.indexOf(u",\"provenanceRecord\""_s)) + u'}';
        const QString elsewhere = head(u"copy.pdf"_s, u"elsewhere/copy.pdf"_s);
        const QByteArrayList files{"files", "--format", "jsonl"};

        QTest::newRow("crawl, lines sorted")
            << QByteArrayList{"crawl", "--quarantine", "--format", "jsonl", "@/mac/Users"} << 0
            << head(u"mail.txt"_s, u"mac/Users/bob/mail.txt"_s,
                    uR"("provenanceID":"❓ 0x010200000000000000004d","quarantineApp":"🔸 Mail")"_s) +
                   kMail + u'\n' + head(u"report.pdf"_s, u"mac/Users/alice/Downloads/report.pdf"_s) +
                   kReport + u'\n'
            << QString();
        QTest::newRow("crawl, each folder its own Mac")
            << QByteArrayList{"crawl", "--quarantine", "--format", "jsonl", "@/elsewhere", "@/mac/Library"}
            << 0
            << elsewhere + quarantineOnly + u'\n' + head(u"copy.pdf"_s, u"mac/Library/copy.pdf"_s) + kReport +
                   u'\n'
            << QString();
        QTest::newRow("found upward, or none")
            << files + QByteArrayList{"@/mac/Library/copy.pdf", "@/elsewhere/copy.pdf"} << 0
            << head(u"copy.pdf"_s, u"mac/Library/copy.pdf"_s) + kReport + u'\n' + elsewhere + quarantineOnly +
                   u'\n'
            << QString();
        const auto found = [&noRecord](const QString& path, const QString& home) {
            return head(u"copy.pdf"_s, path) +
                   QString(noRecord).replace(u"@alice"_s, MacVolumeFixture::eventsPath(home)) + u'\n';
        };
        QTest::newRow("found upward, no ExecPolicy")
            << files + QByteArrayList{"@/lone/copy.pdf", "@/home/alice/copy.pdf"} << 0
            << found(u"lone/copy.pdf"_s, u"@/lone/Users/alice"_s) +
                   found(u"home/alice/copy.pdf"_s, u"@/home/alice"_s)
            << QString();
        QTest::newRow("outside, root given")
            << files + QByteArrayList{"--mac-root", "@/mac/", "@/elsewhere/copy.pdf"} << 0
            << elsewhere + kReport + u'\n' << QString();
        QTest::newRow("root given as a home")
            << files + QByteArrayList{"--mac-root", "@/mac/Users/alice", "@/elsewhere/copy.pdf"} << 0
            << elsewhere + noRecord + u'\n' << QString();
        QTest::newRow("no attributes")
            << files + QByteArrayList{"--mac-root", "@/mac", "@/elsewhere/empty"} << 0
            << head(u"empty"_s, u"elsewhere/empty"_s, uR"("provenanceID":"","quarantineApp":"")"_s) + u"}\n"_s
            << QString();
        QTest::newRow("apps")
            << QByteArrayList{"apps", "--format", "jsonl"} << 0
            << uR"({"name":"@/mac/Applications/Tool.app","path":"@/mac/Applications/Tool.app",)"
               uR"("provenanceID":"0x0102009210000000000000","quarantineApp":"no app",)"_s +
                   kReport.mid(kReport.indexOf(u"\"provenanceRecord\""_s)) + u'\n'
            << QString();

        QTest::newRow("jsonl, a name not UTF-8, with a control character")
            << files + QByteArrayList{"@/timeline/odd\xff\x1f.pdf"} << 0
            << plain(
                   u"odd\ufffd\\u001f.pdf"_s, u"timeline/odd%FF%1F.pdf"_s,
                   u"\"fileNameBase64\":\"b2Rk/x8ucGRm\",\"filePath\":\"@/timeline/odd\ufffd\\u001f.pdf\",\"filePathBase64\":\"*\","_s)
            << QString();
        // Each alone in a name: a name with two of them is escaped whole, whichever is missed.
        QTest::newRow("jsonl, a quote in a UTF-8 name")
            << files + QByteArrayList{"@/timeline/say \"hi\" caf\xc3\xa9.pdf"} << 0
            << plain(u"say \\\"hi\\\" caf\u00e9.pdf"_s, u"timeline/say%20%22hi%22%20caf%C3%A9.pdf"_s,
                     u"\"filePath\":\"@/timeline/say \\\"hi\\\" caf\u00e9.pdf\","_s)
            << QString();
        QTest::newRow("jsonl, a backslash in a name")
            << files + QByteArrayList{"@/timeline/back\\slash.pdf"} << 0
            << plain(u"back\\\\slash.pdf"_s, u"timeline/back%5Cslash.pdf"_s,
                     u"\"filePath\":\"@/timeline/back\\\\slash.pdf\","_s)
            << QString();
        QTest::newRow("timeline, linked times")
            << QByteArrayList{"files", "--format", "timeline", "--mac-root", "@/mac", "@/timeline/report.pdf"}
            << 0
            << timelineEvent(u"Quarantined by Safari"_s, u"2024-01-12T21:44:35Z"_s, u"Quarantine Time"_s) +
                   timelineEvent(u"Download recorded by Safari from https://example.org/files/report.pdf"_s,
                                 u"2024-01-13T12:46:07.25Z"_s, u"Quarantine Event Time"_s) +
                   timelineEvent(u"Provenance recorded for com.example.tool"_s, u"2023-11-14T22:13:19Z"_s,
                                 u"Provenance Record Time"_s) +
                   timelineEvent(u"Modified"_s, u"2023-11-14T22:13:20.5Z"_s, u"Content Modification Time"_s) +
                   timelineEvent(u"Changed"_s, u"*"_s, u"Metadata Modification Time"_s) +
                   timelineEvent(u"Accessed"_s, u"2020-09-13T12:26:40Z"_s, u"Last Access Time"_s)
            << QString();
        const auto bareEvent = [](const QString& message, const QString& time, const QString& kind) {
            return uR"({"message":"%1: @/timeline/bare.pdf","datetime":"%2","timestamp_desc":"%3",)"
                   uR"("filePath":"@/timeline/bare.pdf","provenanceID":"❓ 0x010200000000000000004d",)"
                   uR"("quarantineApp":"*","provenance":"010200000000000000004d",)"
                   uR"("eventID":"B4AE0000-0000-4000-8000-000000000000"})"
                   "\n"_s.arg(message, time, kind);
        };
        QTest::newRow("timeline, bare origins")
            << QByteArrayList{"files", "--format", "timeline", "--mac-root", "@/mac", "@/timeline/bare.pdf"}
            << 0
            << bareEvent(u"Quarantined by an unnamed agent"_s, u"2024-01-12T21:44:35Z"_s,
                         u"Quarantine Time"_s) +
                   bareEvent(u"Download recorded by com.example.getter"_s, u"2023-03-08T20:26:40Z"_s,
                             u"Quarantine Event Time"_s) +
                   bareEvent(u"Provenance recorded for file:///Applications/Other.app/"_s,
                             u"2023-11-14T22:13:20Z"_s, u"Provenance Record Time"_s) +
                   bareEvent(u"Modified"_s, u"*"_s, u"Content Modification Time"_s) +
                   bareEvent(u"Changed"_s, u"*"_s, u"Metadata Modification Time"_s) +
                   bareEvent(u"Accessed"_s, u"*"_s, u"Last Access Time"_s)
            << QString();
        // Fields end at a bar, lines at a line feed.
        QTest::newRow("bodyfile, a bar and a line feed in the name")
            << QByteArrayList{"files", "--format", "bodyfile", "@/timeline/a|b\nc.pdf"} << 0
            << u"0|@/timeline/a%7Cb\u240Ac.pdf|{ino}|-rw-r--r--|{uid}|{gid}|4|1600000000|1700000000|{ctime}|*\n"_s
            << QString();

        QTest::newRow("unknown format") << QByteArrayList{"crawl", "--format", "xml", "."} << 2 << QString()
                                        << u"--format takes csv, jsonl, timeline or bodyfile, not 'xml'"_s;
        QTest::newRow("files take text") << QByteArrayList{"files", "--format", "csv", "."} << 2 << QString()
                                         << u"--format takes text, jsonl, timeline or bodyfile, not 'csv'"_s;
        QTest::newRow("root not a folder")
            << QByteArrayList{"apps", "--format", "jsonl", "--mac-root", "/nonexistent/mac"} << 2 << QString()
            << u"--mac-root: '/nonexistent/mac' is not a folder"_s;
    }

    void cli()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        for (QByteArray& argument : arguments)
            argument.replace('@', QFile::encodeName(m_tree.root()));
        struct stat st = {};
        ::lstat(arguments.last().constData(), &st);
        const ToolRun::Outcome outcome = ToolRun(ToolRun::built("quellmark-cli"), arguments).run();
        QVERIFY2(err.isEmpty() ? outcome.err.isEmpty() : outcome.err.contains(err.toUtf8()),
                 outcome.err.constData());
        QCOMPARE(outcome.status, status);

        // Birth times are left out: not every file system keeps them.
        static const QRegularExpression born(
            u",\"born\":\"[^\"]*\"|.*\"timestamp_desc\":\"Creation Time\".*\n"_s);
        QStringList lines =
            QString::fromUtf8(outcome.out).replace(m_tree.root(), u"@"_s).remove(born).split(u'\n');
        for (QString& line : lines)
            line = out.contains(u"\"filePath\""_s) ? line : MacVolumeFixture::withoutPlainFields(line);
        if (arguments.first() == "crawl")
            std::sort(lines.begin(), lines.end() - 1);
        out.replace(u"@exec"_s, MacVolumeFixture::execPolicyPath(u"@/mac"_s))
            .replace(u"@alice"_s, MacVolumeFixture::eventsPath(u"@/mac/Users/alice"_s))
            .replace(u"@bob"_s, MacVolumeFixture::eventsPath(u"@/mac/Users/bob"_s))
            .replace(u"{ino}"_s, QString::number(st.st_ino))
            .replace(u"{uid}"_s, QString::number(st.st_uid))
            .replace(u"{gid}"_s, QString::number(st.st_gid))
            .replace(u"{ctime}"_s, QString::number(st.st_ctim.tv_sec));
        const QString got = lines.join(u'\n');
        const QString pattern = QRegularExpression::escape(out).replace(u"\\*"_s, u"[^\"|\\n]*"_s);
        if (!QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(got).hasMatch())
            QCOMPARE(got, out);
    }
};

QTEST_GUILESS_MAIN(TestOriginCli)
#include "tst_origincli.moc"
