// `--format jsonl` and `--mac-root` of quellmark-cli apps, crawl and files, on a Mac volume
// of real databases and files with real attributes.
#include "tests/origin/MacVolumeFixture.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

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

struct Run
{
    int status = -1;
    QStringList lines; // standard output, without the plain fields
    QString errors;
};

Run cli(const QStringList& arguments)
{
    QByteArrayList raw;
    for (const QString& argument : arguments)
        raw << QFile::encodeName(argument);
    const ToolRun::Outcome outcome = ToolRun(ToolRun::built("quellmark-cli"), raw).run();
    Run run{outcome.status, QString::fromUtf8(outcome.out).split(u'\n'), QString::fromUtf8(outcome.err)};
    for (QString& line : run.lines)
        line = MacVolumeFixture::withoutPlainFields(line);
    return run;
}

} // namespace

class TestOriginCli : public QObject
{
    Q_OBJECT

private:
    TestTree m_tree;
    QString m_mac;

    // The line of the file at `relative` in the tree; `origin` from its first field on.
    QString line(const QString& relative, const QString& provenance, const QString& quarantine,
                 const QString& origin) const
    {
        // The rows name the databases they came from.
        QString linked = origin;
        linked.replace(u"@exec"_s, MacVolumeFixture::execPolicyPath(m_mac))
            .replace(u"@alice"_s, MacVolumeFixture::eventsPath(m_mac + u"/Users/alice"_s))
            .replace(u"@bob"_s, MacVolumeFixture::eventsPath(m_mac + u"/Users/bob"_s));
        return uR"({"name":"%1","path":"%2","provenanceID":"%3","quarantineApp":"%4"%5)"_s.arg(
            relative.section(u'/', -1), QString::fromLatin1(QFile::encodeName(m_tree.path(relative)).toPercentEncoding("/")),
            provenance, quarantine, linked);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        QCOMPARE(MacVolumeFixture::populate(m_tree, u"mac"_s), QString());
        m_mac = m_tree.path(u"mac"_s);
    }

    void crawl()
    {
        const Run run = cli({u"crawl"_s, u"--quarantine"_s, u"--format"_s, u"jsonl"_s, m_mac});
        QCOMPARE(run.errors, QString());
        QCOMPARE(run.status, 0);
        QStringList lines = run.lines;
        lines.sort();
        QCOMPARE(lines, (QStringList{QString(),
                                     line(u"mac/Users/bob/mail.txt"_s, u"❓ 0x010200000000000000004d"_s, u"🔸 Mail"_s, kMail),
                                     line(u"mac/Users/alice/Downloads/report.pdf"_s, u"❓ 0x0102009210000000000000"_s,
                                          u"🔸 Safari"_s, kReport)}));
    }

    void files_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("file"); // a copy of report.pdf with its attributes, or an empty file
        QTest::addColumn<QString>("origin");
        const QString quarantineOnly = kReport.left(kReport.indexOf(u",\"quarantineEvent\""_s)) + u'}';
        const QString noRecord = kReport.left(kReport.indexOf(u",\"provenanceRecord\""_s)) + u'}';
        QTest::newRow("found upward") << QStringList{} << u"mac/Users/alice/Downloads/copy.pdf"_s << kReport;
        QTest::newRow("outside, no root") << QStringList{} << u"elsewhere/copy.pdf"_s << quarantineOnly;
        QTest::newRow("outside, root given") << QStringList{u"--mac-root"_s, u"mac/"_s} << u"elsewhere/copy.pdf"_s << kReport;
        QTest::newRow("root given as a home")
            << QStringList{u"--mac-root"_s, u"mac/Users/alice"_s} << u"elsewhere/copy.pdf"_s << noRecord;
        QTest::newRow("no attributes") << QStringList{u"--mac-root"_s, u"mac"_s} << u"elsewhere/empty"_s << u"}"_s;
    }

    void files()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, file);
        QFETCH(QString, origin);
        const bool copy = file.endsWith(u".pdf"_s);
        if (!copy)
            m_tree.file(file);
        else if (!QFile::exists(m_tree.path(file)))
            QCOMPARE(MacVolumeFixture::copyReport(m_tree, file), QString());
        for (QString& option : options)
            option = option.startsWith(u"mac"_s) ? m_tree.path(option) : option;
        const Run run = cli(QStringList{u"files"_s, u"--format"_s, u"jsonl"_s} + options + QStringList{m_tree.path(file)});
        QCOMPARE(run.errors, QString());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.lines, (QStringList{line(file, copy ? u"❓ 0x0102009210000000000000"_s : QString(),
                                              copy ? u"🔸 Safari"_s : QString(), origin),
                                         QString()}));
    }

    // The plain values and the times, for scripts and timelines, read back field by field.
    void timelines_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("name"); // the file, a copy of report.pdf
        QTest::addColumn<QStringList>("expected");
        const QString kAttributes = u"attributes=com.apple.provenance/hex/11,com.apple.quarantine/utf-8/57"_s;
        const QString kSources = uR"(source={"com.apple.provenance":"user.com.apple.provenance",)"
                                 uR"("com.apple.quarantine":"user.com.apple.quarantine"})"_s;

        QTest::newRow("jsonl") << u"jsonl"_s << QByteArray("report.pdf")
                               << QStringList{u"fileName=report.pdf"_s, u"filePath=@/report.pdf"_s,
                                              u"provenance=0102009210000000000000"_s, u"provenanceApp=null"_s,
                                              u"quarantineAgent=Safari"_s, u"size=4"_s,
                                              u"modified=2023-11-14T22:13:20.5Z"_s,
                                              u"accessed=2020-09-13T12:26:40Z"_s, kAttributes, kSources};
        QTest::newRow("jsonl, a name not UTF-8")
            << u"jsonl"_s << QByteArray("odd\xff.pdf")
            << QStringList{u"fileName=odd\ufffd.pdf"_s, u"fileNameBase64=b2Rk/y5wZGY="_s, u"filePath=@/odd\ufffd.pdf"_s,
                           u"provenance=0102009210000000000000"_s, u"provenanceApp=null"_s,
                           u"quarantineAgent=Safari"_s, u"size=4"_s, u"modified=2023-11-14T22:13:20.5Z"_s,
                           u"accessed=2020-09-13T12:26:40Z"_s, kAttributes, kSources};
        // Each must be escaped on its own: either alone would break the line.
        for (const QByteArray& name : {QByteArray("say \"hi\".pdf"), QByteArray("back\\slash.pdf")}) {
            const QString text = QString::fromUtf8(name);
            QTest::addRow("jsonl, %s", name.constData())
                << u"jsonl"_s << name
                << QStringList{u"fileName="_s + text, u"filePath=@/"_s + text, u"provenance=0102009210000000000000"_s,
                               u"provenanceApp=null"_s, u"quarantineAgent=Safari"_s, u"size=4"_s,
                               u"modified=2023-11-14T22:13:20.5Z"_s, u"accessed=2020-09-13T12:26:40Z"_s, kAttributes,
                               kSources};
        }
        QTest::newRow("timeline") << u"timeline"_s << QByteArray("report.pdf")
                                  << QStringList{u"Quarantine Time=2024-01-12T21:44:35Z"_s,
                                                 u"Quarantine Event Time=2024-01-13T12:46:07.25Z"_s,
                                                 u"Provenance Record Time=2023-11-14T22:13:19Z"_s,
                                                 u"Content Modification Time=2023-11-14T22:13:20.5Z"_s,
                                                 u"Metadata Modification Time=changed"_s,
                                                 u"Last Access Time=2020-09-13T12:26:40Z"_s};
        QTest::newRow("bodyfile") << u"bodyfile"_s << QByteArray("report.pdf")
                                  << QStringList{u"0"_s, u"@/report.pdf"_s, u"inode"_s, u"-rw-r--r--"_s, u"0"_s,
                                                 u"0"_s, u"4"_s, u"1600000000"_s, u"1700000000"_s, u"changed"_s,
                                                 u"born"_s};
        QTest::newRow("bodyfile, a bar in the name")
            << u"bodyfile"_s << QByteArray("a|b.pdf")
            << QStringList{u"0"_s, u"@/a%7Cb.pdf"_s, u"inode"_s, u"-rw-r--r--"_s, u"0"_s, u"0"_s, u"4"_s,
                           u"1600000000"_s, u"1700000000"_s, u"changed"_s, u"born"_s};
    }

    void timelines()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, name);
        QFETCH(QStringList, expected);
        const QString folder = m_tree.folder(u"timeline"_s);
        const QByteArray file = QFile::encodeName(folder) + '/' + name;
        if (struct stat made; ::lstat(file.constData(), &made) != 0) {
            m_tree.rawFile("timeline/" + name, "%PDF");
            for (const char* attribute : {"user.com.apple.provenance", "user.com.apple.quarantine"}) {
                char value[256];
                const ssize_t size = ::getxattr(QFile::encodeName(m_mac + u"/Users/alice/Downloads/report.pdf"_s),
                                                attribute, value, sizeof value);
                QVERIFY(size > 0);
                m_tree.setRawAttribute(file, attribute, QByteArray(value, size));
            }
            QCOMPARE(::chmod(file.constData(), 0644), 0);
            const timespec times[2] = {{1600000000, 0}, {1700000000, 500000000}};
            QCOMPARE(::utimensat(AT_FDCWD, file.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
        }
        struct stat st;
        QCOMPARE(::lstat(file.constData(), &st), 0);
        const ToolRun::Outcome run = ToolRun(ToolRun::built("quellmark-cli"),
                                             {"files", "--format", format.toLatin1(), "--mac-root",
                                              QFile::encodeName(m_mac), file})
                                         .run();
        QCOMPARE(run.status, 0);
        QStringList got;
        for (const QString& line : QString::fromUtf8(run.out).split(u'\n')) {
            if (line.isEmpty())
                continue;
            if (format == u"bodyfile"_s) {
                got = line.split(u'|');
                QCOMPARE(got.size(), 11);
                QCOMPARE(got.at(2), QString::number(st.st_ino));
                QCOMPARE(got.at(9), QString::number(st.st_ctim.tv_sec));
                got[2] = u"inode"_s, got[9] = u"changed"_s, got[10] = u"born"_s;
                got[4] = got[4] == QString::number(st.st_uid) ? u"0"_s : got[4];
                got[5] = got[5] == QString::number(st.st_gid) ? u"0"_s : got[5];
                continue;
            }
            const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
            QVERIFY2(!object.isEmpty(), qPrintable(line));
            if (format == u"timeline"_s) {
                QVERIFY(object.value(u"message"_s).toString().endsWith(object.value(u"filePath"_s).toString()));
                const QString when = object.value(u"timestamp_desc"_s) == u"Metadata Modification Time"_s
                                         ? u"changed"_s
                                         : object.value(u"datetime"_s).toString();
                got << object.value(u"timestamp_desc"_s).toString() + u'=' + when;
                continue;
            }
            for (const QString& key : {u"fileName"_s, u"fileNameBase64"_s, u"filePath"_s, u"provenance"_s,
                                       u"provenanceApp"_s, u"quarantineAgent"_s, u"size"_s, u"modified"_s,
                                       u"accessed"_s}) {
                const QJsonValue value = object.value(key);
                if (!value.isUndefined())
                    got << key + u'=' + (value.isNull() ? u"null"_s : value.isDouble() ? QString::number(value.toInteger()) : value.toString());
            }
            QCOMPARE(object.value(u"inode"_s).toInteger(), qint64(st.st_ino));
            QStringList attributes;
            for (const QJsonValue& attribute : object.value(u"attributes"_s).toArray())
                attributes << attribute[u"name"_s].toString() + u'/' + attribute[u"encoding"_s].toString() + u'/' +
                                  QString::number(attribute[u"size"_s].toInteger());
            got << u"attributes="_s + attributes.join(u',');
            got << u"source="_s + QString::fromUtf8(QJsonDocument(object.value(u"source"_s).toObject())
                                                        .toJson(QJsonDocument::Compact));
        }
        got.removeIf([](const QString& event) { return event.startsWith(u"Creation Time="_s); });
        for (QString& value : expected)
            value.replace(u'@', folder);
        QCOMPARE(got, expected);
    }

    void apps()
    {
        const QString tool = m_tree.folder(u"mac/Applications/Tool.app"_s);
        m_tree.setProvenance(tool, MacVolumeFixture::provenanceValue(4242));
        qputenv("QUELLMARK_APP_ROOTS", QFile::encodeName(m_tree.path(u"mac/Applications"_s)));
        const Run run = cli({u"apps"_s, u"--format"_s, u"jsonl"_s});
        qunsetenv("QUELLMARK_APP_ROOTS");
        QCOMPARE(run.errors, QString());
        QCOMPARE(run.status, 0);
        const QString path = QString::fromLatin1(QFile::encodeName(tool).toPercentEncoding("/"));
        QCOMPARE(
            run.lines,
            (QStringList{
                uR"({"name":"%1","path":"%2","provenanceID":"0x0102009210000000000000","quarantineApp":"no app",)"
                uR"("provenanceRecord":{"url":"file:///Applications/Tool.app/","bundleID":"com.example.tool",)"
                uR"("teamID":"ABCDE12345","signingID":"com.example.tool",)"
                uR"("cdhash":"5f3e0d1c2b3a49586776859403a2b1c0d9e8f7a6","flags":2,)"
                uR"("time":"2023-11-14T22:13:19Z","byteOrder":"little-endian","database":"%3"}})"_s.arg(
                    tool, path, MacVolumeFixture::execPolicyPath(m_mac)),
                QString()}));
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown format") << QStringList{u"crawl"_s, u"--format"_s, u"xml"_s, u"."_s}
                                        << u"--format takes csv, jsonl, timeline or bodyfile, not 'xml'"_s;
        QTest::newRow("files take text") << QStringList{u"files"_s, u"--format"_s, u"csv"_s, u"."_s}
                                         << u"--format takes text, jsonl, timeline or bodyfile, not 'csv'"_s;
        QTest::newRow("root not a folder")
            << QStringList{u"apps"_s, u"--format"_s, u"jsonl"_s, u"--mac-root"_s, u"/nonexistent/mac"_s}
            << u"--mac-root: '/nonexistent/mac' is not a folder"_s;
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        const Run run = cli(arguments);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.errors.contains(error), qPrintable(run.errors));
    }
};

QTEST_GUILESS_MAIN(TestOriginCli)
#include "tst_origincli.moc"
