#include "core/CsvWriter.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void headerAndRows();
    void field_data();
    void field();
    void quotedFieldsInLines();
    void utf8WithoutByteOrderMark();
    void writesAndReplaces();
    void missingFolder();
    void destinationIsAFolder();
    void unwritableFolderAsNobody();
    void fullDiskKeepsEarlierFile_data();
    void fullDiskKeepsEarlierFile();
};

namespace {

const QStringList kHeader{QStringLiteral("Filepath"), QStringLiteral("Provenance ID"),
                          QStringLiteral("Quarantine App")};

QByteArray contents(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Runs `work` in a forked child and returns what it returned; `ok` tells whether it exited cleanly.
QByteArray inChild(const std::function<QByteArray()>& work, bool* ok)
{
    int fds[2];
    *ok = false;
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        ::close(fds[0]);
        const QByteArray result = work();
        qsizetype done = 0;
        while (done < result.size()) {
            const ssize_t n = ::write(fds[1], result.constData() + done, size_t(result.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

QByteArray outcome(const std::optional<QString>& failure)
{
    return failure ? "failed:" + failure->toUtf8() : QByteArray("written");
}

} // namespace

void TestCsvWriter::headerAndRows()
{
    CsvWriter writer(kHeader);
    QCOMPARE(writer.rowCount(), 0);
    QCOMPARE(writer.bytes(), QByteArray("Filepath,Provenance ID,Quarantine App\n"));

    writer.addRow(
        {QStringLiteral("/Applications/Safari.app"), QStringLiteral("0x0102"), QStringLiteral("unknown")});
    writer.addRow(
        {QStringLiteral("/Applications/My App.app"), QStringLiteral("no ID"), QStringLiteral("Browser")});
    writer.addRow({QString(), QString(), QString()});
    QCOMPARE(writer.rowCount(), 3);
    QCOMPARE(writer.bytes(), QByteArray("Filepath,Provenance ID,Quarantine App\n"
                                        "/Applications/Safari.app,0x0102,unknown\n"
                                        "/Applications/My App.app,no ID,Browser\n"
                                        ",,\n"));
}

void TestCsvWriter::field_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << QStringLiteral("/Applications/Safari.app")
                           << QStringLiteral("/Applications/Safari.app");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("blanks") << QStringLiteral("  a b  ") << QStringLiteral("  a b  ");
    QTest::newRow("semicolons and tabs") << QStringLiteral("a;b\tc") << QStringLiteral("a;b\tc");
    QTest::newRow("single quote") << QStringLiteral("it's") << QStringLiteral("it's");
    QTest::newRow("marks and emoji") << QStringLiteral("✅ /Applications/Café 🦊.app")
                                     << QStringLiteral("✅ /Applications/Café 🦊.app");
    QTest::newRow("percent-encoded") << QStringLiteral("/a%20b%2C") << QStringLiteral("/a%20b%2C");
    QTest::newRow("comma") << QStringLiteral("Smith, John") << QStringLiteral("\"Smith, John\"");
    QTest::newRow("quote") << QStringLiteral("say \"hi\"") << QStringLiteral("\"say \"\"hi\"\"\"");
    QTest::newRow("only a quote") << QStringLiteral("\"") << QStringLiteral("\"\"\"\"");
    QTest::newRow("line feed") << QStringLiteral("a\nb") << QStringLiteral("\"a\nb\"");
    QTest::newRow("carriage return") << QStringLiteral("a\rb") << QStringLiteral("\"a\rb\"");
    QTest::newRow("CR LF") << QStringLiteral("a\r\n") << QStringLiteral("\"a\r\n\"");
    QTest::newRow("everything") << QStringLiteral(",\"\r\n") << QStringLiteral("\",\"\"\r\n\"");
}

void TestCsvWriter::field()
{
    QFETCH(QString, value);
    QFETCH(QString, written);
    QCOMPARE(CsvWriter::field(value), written);
}

void TestCsvWriter::quotedFieldsInLines()
{
    CsvWriter writer({QStringLiteral("a"), QStringLiteral("b,c")});
    writer.addRow({QStringLiteral("/x,y.app"), QStringLiteral("plain"), QStringLiteral("line\nbreak")});
    QCOMPARE(writer.bytes(), QByteArray("a,\"b,c\"\n\"/x,y.app\",plain,\"line\nbreak\"\n"));
}

void TestCsvWriter::utf8WithoutByteOrderMark()
{
    CsvWriter writer(kHeader);
    writer.addRow(
        {QStringLiteral("/Applications/Café.app"), QStringLiteral("❓ 0xab"), QStringLiteral("🔸 浏览器")});
    const QByteArray bytes = writer.bytes();
    QVERIFY(bytes.startsWith("Filepath,"));
    QVERIFY(!bytes.contains("\xef\xbb\xbf"));
    QVERIFY(bytes.contains("Caf\xc3\xa9.app"));
    QVERIFY(bytes.contains("\xe2\x9d\x93 0xab"));
    QVERIFY(bytes.contains("\xf0\x9f\x94\xb8 \xe6\xb5\x8f\xe8\xa7\x88\xe5\x99\xa8"));
    QVERIFY(!bytes.contains('\r'));
    QVERIFY(bytes.endsWith('\n'));
}

void TestCsvWriter::writesAndReplaces()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem().constData());
    const QString destination = tree.path(QStringLiteral("Quellmark_App_List.csv"));

    CsvWriter first(kHeader);
    first.addRow({QStringLiteral("/a.app"), QStringLiteral("0x01"), QStringLiteral("A")});
    QCOMPARE(first.writeTo(destination), std::nullopt);
    QCOMPARE(contents(destination), first.bytes());

    CsvWriter second(kHeader);
    second.addRow({QStringLiteral("/b.app"), QStringLiteral("0x02"), QStringLiteral("B")});
    QCOMPARE(second.writeTo(destination), std::nullopt);
    QCOMPARE(contents(destination), second.bytes());
    // Nothing left over beside the file (no temporary copies).
    QCOMPARE(entries(tree.root()), QStringList{QStringLiteral("Quellmark_App_List.csv")});
}

void TestCsvWriter::missingFolder()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem().constData());
    CsvWriter writer(kHeader);
    const auto failure = writer.writeTo(tree.path(QStringLiteral("gone/out.csv")));
    QVERIFY(failure.has_value());
    QVERIFY(!failure->isEmpty());
    QVERIFY(entries(tree.root()).isEmpty());
}

void TestCsvWriter::destinationIsAFolder()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem().constData());
    const QString folder = tree.folder(QStringLiteral("out.csv"));
    tree.file(QStringLiteral("out.csv/keep"), "kept");
    CsvWriter writer(kHeader);
    const auto failure = writer.writeTo(folder);
    QVERIFY(failure.has_value());
    QVERIFY(!failure->isEmpty());
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(contents(tree.path(QStringLiteral("out.csv/keep"))), QByteArray("kept"));
    QCOMPARE(entries(tree.root()), QStringList{QStringLiteral("out.csv")});
}

void TestCsvWriter::unwritableFolderAsNobody()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem().constData());
    tree.openToOthers();
    const QString folder = tree.folder(QStringLiteral("readonly"));
    const QString earlier = tree.file(QStringLiteral("readonly/list.csv"), "earlier\n");
    const QString fresh = tree.path(QStringLiteral("readonly/fresh.csv"));
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    // The file itself may be written by anyone; only an in-place write could change it.
    QCOMPARE(::chmod(QFile::encodeName(earlier).constData(), 0666), 0);

    CsvWriter writer(kHeader);
    writer.addRow({QStringLiteral("/a.app"), QStringLiteral("0x01"), QStringLiteral("A")});
    bool ok = false;
    const QByteArray result = TestTree::asUnprivileged(
        [&] { return outcome(writer.writeTo(earlier)) + '\n' + outcome(writer.writeTo(fresh)); }, &ok);
    QVERIFY2(ok, result.constData());
    const QList<QByteArray> lines = result.split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).startsWith("failed:") && lines.at(0).size() > 7, lines.at(0).constData());
    QVERIFY2(lines.at(1).startsWith("failed:") && lines.at(1).size() > 7, lines.at(1).constData());
    QCOMPARE(contents(earlier), QByteArray("earlier\n"));
    QCOMPARE(entries(folder), QStringList{QStringLiteral("list.csv")});
}

void TestCsvWriter::fullDiskKeepsEarlierFile_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("limit");
    QTest::newRow("large list, written straight through") << 2000 << 16384;
    QTest::newRow("short list, failing when flushed") << 40 << 200;
    QTest::newRow("no room at all") << 10 << 0;
}

void TestCsvWriter::fullDiskKeepsEarlierFile()
{
    QFETCH(int, rows);
    QFETCH(int, limit);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem().constData());
    const QString destination =
        tree.file(QStringLiteral("crawl.csv"), "Filepath,Provenance ID,Quarantine App\n/old\n");
    const QByteArray before = contents(destination);

    CsvWriter writer(kHeader);
    for (int i = 0; i < rows; ++i)
        writer.addRow({QStringLiteral("/Volumes/Disk/item %1").arg(i), QStringLiteral("0x0102"), QString()});
    QVERIFY(writer.bytes().size() > limit);

    // A file size limit stands in for a full disk: writes past it fail with EFBIG.
    bool ok = false;
    const QByteArray result = inChild(
        [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit size
            {
                rlim_t(limit), rlim_t(limit)
            };
            if (::setrlimit(RLIMIT_FSIZE, &size) != 0)
                return QByteArray("setrlimit failed");
            return outcome(writer.writeTo(destination));
        },
        &ok);
    QVERIFY2(ok, result.constData());
    QCOMPARE(result, "failed:" + QByteArray(std::strerror(EFBIG)));
    QCOMPARE(contents(destination), before);
    QCOMPARE(entries(tree.root()), QStringList{QStringLiteral("crawl.csv")});

    // Without the limit the same bytes go through.
    QCOMPARE(writer.writeTo(destination), std::nullopt);
    QCOMPARE(contents(destination), writer.bytes());
}

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
