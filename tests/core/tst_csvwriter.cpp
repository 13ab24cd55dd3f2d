#include "core/CsvWriter.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void bytes()
    {
        CsvWriter writer({QStringLiteral("Path"), QStringLiteral("ID"), QStringLiteral("App")});
        writer.addRow({QStringLiteral("/Café.app"), QStringLiteral("❓ 0xab"), QStringLiteral("a;b\t'c' ")});
        writer.addRow({QStringLiteral("/x,y.app"), QString(), QStringLiteral("say \"hi\"")});
        writer.addRow({QStringLiteral("line\nfeed"), QStringLiteral("cr\r"), QStringLiteral("\"")});
        QCOMPARE(writer.rowCount(), 3);
        // UTF-8 without a byte order mark, a line feed after every line, quoted only when needed.
        QCOMPARE(writer.bytes(),
                 QByteArray("Path,ID,App\n/Caf\xc3\xa9.app,\xe2\x9d\x93 0xab,a;b\t'c' \n"
                            "\"/x,y.app\",,\"say \"\"hi\"\"\"\n\"line\nfeed\",\"cr\r\",\"\"\"\"\n"));
        QVERIFY(!writer.writeTo(QStringLiteral("/nonexistent-folder/out.csv")).value_or(QString()).isEmpty());
    }

    void failureKeepsEarlierFile_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("limit"); // the largest file the writer may make; -1: its folder is read-only
        QTest::addColumn<int>("error");
        QTest::newRow("full disk, large list written straight through") << 2000 << 16384 << int(EFBIG);
        QTest::newRow("full disk, short list") << 40 << 200 << int(EFBIG);
        QTest::newRow("full disk, no room at all") << 10 << 0 << int(EFBIG);
        QTest::newRow("read-only folder, writable file") << 10 << -1 << int(EACCES);
    }

    void failureKeepsEarlierFile()
    {
        QFETCH(int, rows);
        QFETCH(int, limit);
        QFETCH(int, error);
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem().constData());
        tree.openToOthers();
        const QString destination = tree.file(QStringLiteral("crawl.csv"), "Filepath\n/old\n");
        QCOMPARE(::chmod(QFile::encodeName(tree.root()).constData(), limit < 0 ? 0755 : 0777), 0);
        QCOMPARE(::chmod(QFile::encodeName(destination).constData(), 0666), 0);
        CsvWriter writer({QStringLiteral("Filepath")});
        for (int i = 0; i < rows; ++i)
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
        QCOMPARE(contents(destination), QByteArray("Filepath\n/old\n"));
        QCOMPARE(entries(tree.root()), QStringList{QStringLiteral("crawl.csv")});
        // Without the limit the same bytes replace it, leaving nothing else behind.
        QCOMPARE(writer.writeTo(destination), std::nullopt);
        QCOMPARE(contents(destination), writer.bytes());
        QCOMPARE(entries(tree.root()), QStringList{QStringLiteral("crawl.csv")});
    }
};

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
