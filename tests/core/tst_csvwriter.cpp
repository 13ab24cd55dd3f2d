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
        // Encoded path | strict UTF-8 text ("-" when not UTF-8) | shown in a message, each byte kept
        // through a text-based parser.
        QTest::addColumn<QString>("texts");
        QTest::newRow("ASCII, controls as pictures")
            << QByteArray("/a-b_c.d~e/!$&'()*+,;=:@?#[]\"<>\\^`{|}\t\x7f %\r\n\x1b")
            << u"/a-b_c.d~e/!$&'()*+,;=:@%3F%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D%09%7F%20%25%0D%0A%1B | "
               "/a-b_c.d~e/!$&'()*+,;=:@?#[]\"<>\\^`{|}\t\x7f %\r\n\x1b | "
               "/a-b_c.d~e/!$&'()*+,;=:@?#[]\"<>\\^`{|}␉␡ %␍␊␛"_qs;
        QTest::newRow("multi-byte, byte order mark kept, one control alone")
            << QByteArray("\xef\xbb\xbf/\xc3\xa9\xf0\x9f\xa6\x8a\xf4\x8f\xbf\xbf\x1f")
            << u"%EF%BB%BF/%C3%A9%F0%9F%A6%8A%F4%8F%BF%BF%1F | \uFEFF/é🦊\U0010FFFF\x1f | \uFEFF/é🦊\U0010FFFF␟"_qs;
        QTest::newRow("Latin-1, overlong, surrogate, past U+10FFFF, cut at the end")
            << QByteArray("/caf\xe9/\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82")
            << u"/caf%E9/%C0%AF%E0%80%AF%ED%A0%80%F4%90%80%80%E2%82 | - | /caf\uFFFD/"_qs +
                   QString(14, QChar(0xFFFD));
    }

    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, texts);
        const QString text = RawText::fromBytes(bytes);
        QCOMPARE(RawText::toBytes(text + u'=' + text), bytes + '=' + bytes);
        QCOMPARE(encodePath(bytes) + QLatin1String(" | ") +
                     decodeUtf8Strictly(bytes).value_or(QStringLiteral("-")) + QLatin1String(" | ") +
                     RawText::display(text),
                 texts);
        // A lone surrogate that stands for no byte is written as U+FFFD.
        QCOMPARE(RawText::toBytes(QString(QChar(0xDC10)) + QChar(0xD800)),
                 QByteArray("\xef\xbf\xbd\xef\xbf\xbd"));
    }

    void bytes_data()
    {
        // Rows as a walk adds them (fields as QStrings: fuzz_csvwriter): the last field whole or in two
        // pieces.
        QTest::addColumn<bool>("split");
        QTest::newRow("last field whole") << false;
        QTest::newRow("last field in two") << true;
    }

    void bytes()
    {
        QFETCH(bool, split);
        const QList<QByteArrayList> rows = {{"/Caf\xc3\xa9.app", "\xe2\x9d\x93 0xab", "a;b\t'c' "},
                                            {"/x,y.app", "", "say \"hi\""},
                                            {"line\nfeed", "cr\r", "\""},
                                            {"/plain", "", "say \"hi\""}};
        CsvWriter writer({QStringLiteral("Path"), QStringLiteral("ID"), QStringLiteral("App")});
        for (const QByteArrayList& row : rows) {
            const qsizetype half = split ? row[2].size() / 2 : row[2].size(); // `say "hi"`: the quotes after
            writer.addUtf8Row({row[0], row[1], row[2].first(half)}, row[2].sliced(half));
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
