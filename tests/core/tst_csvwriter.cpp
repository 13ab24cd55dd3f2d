#include "core/CsvWriter.h"
#include "core/PathEncoding.h"
#include "core/RawText.h"
#include "core/Utf8Text.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// What the export folder holds: its names, then the bytes of crawl.csv.
QByteArray folderState(const QString& folder)
{
    QFile file(folder + QStringLiteral("/crawl.csv"));
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return names.join(u',').toUtf8() + ": " +
           (file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>");
}

} // namespace

// The text written for lists and CSV files: encoded paths, strict UTF-8, the CSV bytes.
class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("texts"); // encoded path | strict UTF-8 text, "-" when not UTF-8
        QTest::newRow("ASCII")
            << QByteArray("/a-b_c.d~e/!$&'()*+,;=:@?#[]\"<>\\^`{|}\t\x7f %")
            << "/a-b_c.d~e/!$&'()*+,;=:@%3F%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D%09%7F%20%25 | "
               "/a-b_c.d~e/!$&'()*+,;=:@?#[]\"<>\\^`{|}\t\x7f %";
        QTest::newRow("multi-byte, byte order mark kept")
            << QByteArray("\xef\xbb\xbf/\xc3\xa9\xf0\x9f\xa6\x8a\xf4\x8f\xbf\xbf")
            << "%EF%BB%BF/%C3%A9%F0%9F%A6%8A%F4%8F%BF%BF | \uFEFF/é🦊\U0010FFFF";
        QTest::newRow("Latin-1, cut at the end") << QByteArray("/caf\xe9/\xe2\x82") << "/caf%E9/%E2%82 | -";
    }

    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, texts);
        QCOMPARE(encodePath(bytes) + QLatin1String(" | ") +
                     decodeUtf8Strictly(bytes).value_or(QStringLiteral("-")),
                 texts);
    }

    void rawText_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // an argument as the system hands it over
        QTest::addColumn<QString>("shown");    // in a message
        QTest::newRow("controls as pictures") << QByteArray("a\tb\r\n\x1b[0m\x7f") << u"a␉b␍␊␛[0m␡"_qs;
        QTest::newRow("UTF-8 kept") << QByteArray("/\xc3\xa9\xf0\x9f\xa6\x8a\xf4\x8f\xbf\xbf")
                                    << u"/é🦊\U0010FFFF"_qs;
        QTest::newRow("bytes that are not UTF-8")
            << QByteArray("d\xff/\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82")
            << u"d\uFFFD/\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"_qs;
    }

    void rawText()
    {
        // Through a text-based parser and back, every byte as it was.
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString text = RawText::fromBytes(bytes);
        QCOMPARE(RawText::toBytes(text), bytes);
        QCOMPARE(RawText::toBytes(text + u'=' + text), bytes + '=' + bytes);
        QCOMPARE(RawText::display(text), shown);
        // A lone surrogate that stands for no byte is written as U+FFFD.
        QCOMPARE(RawText::toBytes(QString(QChar(0xDC10)) + QChar(0xD800)),
                 QByteArray("\xef\xbf\xbd\xef\xbf\xbd"));
    }

    void bytes_data()
    {
        QTest::addColumn<int>("form"); // 0: QStrings; 1: UTF-8 bytes; 2: UTF-8, the last field in two pieces
        QTest::newRow("QString rows") << 0;
        QTest::newRow("UTF-8 rows") << 1;
        QTest::newRow("UTF-8 rows, last field in two") << 2;
    }

    void bytes()
    {
        QFETCH(int, form);
        const QList<QStringList> rows = {
            {QStringLiteral("/Café.app"), QStringLiteral("❓ 0xab"), QStringLiteral("a;b\t'c' ")},
            {QStringLiteral("/x,y.app"), QString(), QStringLiteral("say \"hi\"")},
            {QStringLiteral("line\nfeed"), QStringLiteral("cr\r"), QStringLiteral("\"")},
            {QStringLiteral("/plain"), QString(), QStringLiteral("say \"hi\"")}};
        CsvWriter writer({QStringLiteral("Path"), QStringLiteral("ID"), QStringLiteral("App")});
        for (const QStringList& row : rows) {
            const QByteArray last = row[2].toUtf8();
            const qsizetype half = form == 2 ? last.size() / 2 : last.size(); // `say "hi"`: the quotes after
            if (form == 0)
                writer.addRow(row);
            else
                writer.addUtf8Row({row[0].toUtf8(), row[1].toUtf8(), last.first(half)}, last.sliced(half));
        }
        QCOMPARE(writer.rowCount(), 4);
        // UTF-8 without a byte order mark, a line feed after every line, quoted only when needed.
        QCOMPARE(writer.bytes(),
                 QByteArray("Path,ID,App\n/Caf\xc3\xa9.app,\xe2\x9d\x93 0xab,a;b\t'c' \n"
                            "\"/x,y.app\",,\"say \"\"hi\"\"\"\n\"line\nfeed\",\"cr\r\",\"\"\"\"\n"
                            "/plain,,\"say \"\"hi\"\"\"\n"));
    }

    void failureKeepsEarlierFile_data()
    {
        QTest::addColumn<int>("limit"); // the largest file the writer may make; -1: its folder is read-only
        QTest::addColumn<int>("error");
        QTest::newRow("full disk, large list written straight through") << 16384 << int(EFBIG);
        QTest::newRow("full disk, no room at all") << 0 << int(EFBIG);
        QTest::newRow("read-only folder, writable file") << -1 << int(EACCES);
    }

    void failureKeepsEarlierFile()
    {
        QFETCH(int, limit);
        QFETCH(int, error);
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem().constData());
        tree.openToOthers();
        const QString destination = tree.file(QStringLiteral("crawl.csv"), "Filepath\n/old\n");
        QCOMPARE(::chmod(QFile::encodeName(tree.root()).constData(), limit < 0 ? 0755 : 0777), 0);
        QCOMPARE(::chmod(QFile::encodeName(destination).constData(), 0666), 0);
        CsvWriter writer({QStringLiteral("Filepath")});
        for (int i = 0; i < 2000; ++i)
            writer.addRow({QStringLiteral("/Volumes/Disk/item %1").arg(i)});
        // A file size limit stands in for a full disk: writes past it fail with EFBIG.
        bool ok = false;
        const QByteArray result = TestTree::asUnprivileged(
            [&] {
                ::signal(SIGXFSZ, SIG_IGN);
                if (const rlimit size{rlim_t(limit), rlim_t(limit)}; limit >= 0)
                    ::setrlimit(RLIMIT_FSIZE, &size);
                return writer.writeTo(destination).value_or(QStringLiteral("written")).toUtf8();
            },
            &ok);
        QVERIFY2(ok, result.constData());
        QCOMPARE(result, QByteArray(std::strerror(error)));
        QCOMPARE(folderState(tree.root()), QByteArray("crawl.csv: Filepath\n/old\n"));
        // Without the limit the same bytes replace it, leaving nothing else behind.
        QCOMPARE(writer.writeTo(destination), std::nullopt);
        QCOMPARE(folderState(tree.root()), "crawl.csv: " + writer.bytes());
    }
};

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
