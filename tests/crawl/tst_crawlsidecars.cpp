#include "crawl/CrawlQueue.h"
#include "crawl/Crawler.h"
#include "origin/OriginDetails.h"
#include "origin/OriginJson.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kProvenance = QByteArray::fromHex("010200aabbccddeeff1100");

QByteArray sidecar(bool provenance, bool quarantine)
{
    AppleDoubleFile file;
    if (provenance)
        file.add("com.apple.provenance", kProvenance);
    if (quarantine)
        file.add("com.apple.quarantine", "0083;65a1b2c3;Safari;1F2E3D4C");
    return file.bytes();
}

} // namespace

// What a crawl lists where files came with AppleDouble sidecars, from the window's model and
// from `quellmark-cli crawl`, with and without --no-sidecars.
class TestCrawlSidecars : public QObject
{
    Q_OBJECT

    TestTree m_tree;

    // The CSV lines below the header, sorted (the order is the walk's, checked elsewhere).
    static QStringList sortedRows(const QByteArray& csv)
    {
        QStringList rows = QString::fromUtf8(csv).split(u'\n', Qt::SkipEmptyParts).mid(1);
        rows.sort();
        return rows;
    }

    // What `quellmark-cli crawl` with `options` prints for the tree, once it exited with 0.
    QByteArray crawlOutput(const QStringList& options)
    {
        QProcess tool;
        tool.start(qEnvironmentVariable("QUELLMARK_BINARY_DIR") + u"/bin/quellmark-cli"_s,
                   QStringList{u"crawl"_s} + options + QStringList{m_tree.root()});
        if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
            return "failed: " + tool.readAllStandardError();
        return tool.readAllStandardOutput();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        // A file with its sidecar beside it; one that has a provenance of its own as well.
        m_tree.file(u"invoice.pdf"_s);
        m_tree.file(u"._invoice.pdf"_s, sidecar(true, true));
        m_tree.setProvenance(m_tree.file(u"own.txt"_s), "\x0a");
        m_tree.file(u"._own.txt"_s, sidecar(true, true));
        // A Finder zip unzipped into Archive.
        m_tree.file(u"Archive/Docs/a.pdf"_s);
        m_tree.file(u"Archive/__MACOSX/Docs/._a.pdf"_s, sidecar(false, true));
        // A damaged sidecar lends nothing.
        m_tree.file(u"b.txt"_s);
        QByteArray damaged = sidecar(true, true);
        damaged.chop(1);
        m_tree.file(u"._b.txt"_s, damaged);
        // A sidecar carrying an attribute itself is still a sidecar; a "._" file that is not
        // AppleDouble is an entry like any other.
        m_tree.setProvenance(m_tree.file(u"._tagged"_s, sidecar(true, false)), "\x0c");
        m_tree.setProvenance(m_tree.file(u"._notad"_s, "not AppleDouble"), "\x0b");
        // A sidecar whose file was deleted is all that is left of it: listed with its values.
        m_tree.file(u"._gone.zip"_s, sidecar(true, true));
    }

    void cleanup()
    {
        crawlQueue()->waitForDone();
        QCoreApplication::sendPostedEvents();
    }

    void listing_data()
    {
        QTest::addColumn<QString>("through"); // "window" or the tool's options
        QTest::addColumn<bool>("sidecars");
        QTest::newRow("window") << u"window"_s << true;
        QTest::newRow("tool") << u"--quarantine"_s << true;
        QTest::newRow("tool, --no-sidecars") << u"--quarantine --no-sidecars"_s << false;
    }

    void listing()
    {
        QFETCH(QString, through);
        QFETCH(bool, sidecars);
        const QString root = m_tree.root();
        QStringList expected =
            sidecars
                ? QStringList{u"invoice.pdf,❓ 0x010200aabbccddeeff1100,🔸 Safari,%1/invoice.pdf"_s,
                              u"own.txt,❓ 0x0a,🔸 Safari,%1/own.txt"_s,
                              u"a.pdf,,🔸 Safari,%1/Archive/Docs/a.pdf"_s, u"._notad,❓ 0x0b,,%1/._notad"_s,
                              u"._tagged,❓ 0x0c,,%1/._tagged"_s,
                              u"._gone.zip,❓ 0x010200aabbccddeeff1100,🔸 Safari,%1/._gone.zip"_s}
                : QStringList{u"own.txt,❓ 0x0a,,%1/own.txt"_s, u"._tagged,❓ 0x0c,,%1/._tagged"_s,
                              u"._notad,❓ 0x0b,,%1/._notad"_s};
        for (QString& row : expected)
            row = row.arg(root);
        expected.sort();

        QByteArray csv;
        if (through == u"window"_s) {
            Crawler model;
            QSignalSpy finished(&model, &Crawler::crawlFinished);
            model.startCrawl(root, true);
            QVERIFY(finished.wait(30000));
            QTemporaryDir out;
            const QString saved = out.filePath(u"window.csv"_s);
            QCOMPARE(model.writeCSV(saved).status, CsvWriteResult::Written);
            QFile file(saved);
            QVERIFY(file.open(QIODevice::ReadOnly));
            csv = file.readAll();
        } else {
            csv = crawlOutput(through.split(u' '));
        }
        QCOMPARE(sortedRows(csv), expected);
    }

    // The details of a listed file come from where its row's values came from.
    void detailsTakeTheSidecarToo()
    {
        const QByteArray invoice = QFile::encodeName(m_tree.path(u"invoice.pdf"_s));
        const OriginDetails lent = OriginDetails::inspect(invoice, nullptr, true);
        QCOMPARE(lent.provenance, kProvenance);
        QCOMPARE(lent.quarantine ? lent.quarantine->agent : QString(), u"Safari"_s);
        QCOMPARE(lent.fromSidecar, (QStringList{u"com.apple.provenance"_s, u"com.apple.quarantine"_s}));
        const OriginDetails without = OriginDetails::inspect(invoice, nullptr, false);
        QVERIFY(without.provenance.isEmpty() && !without.quarantine && without.fromSidecar.isEmpty());
        // A value of the file's own wins.
        const OriginDetails own =
            OriginDetails::inspect(QFile::encodeName(m_tree.path(u"own.txt"_s)), nullptr, true);
        QCOMPARE(own.provenance, QByteArray("\x0a"));
        QCOMPARE(own.fromSidecar, QStringList{u"com.apple.quarantine"_s});
        // Where each value came from: the file's own attribute, the sidecar beside it, or __MACOSX.
        QCOMPARE(own.sources, (QHash<QString, QString>{{u"com.apple.provenance"_s, u"user.com.apple.provenance"_s},
                                                       {u"com.apple.quarantine"_s, u"._name"_s}}));
        QCOMPARE(OriginDetails::inspect(QFile::encodeName(m_tree.path(u"Archive/Docs/a.pdf"_s)), nullptr, true)
                     .sources,
                 (QHash<QString, QString>{{u"com.apple.quarantine"_s, u"__MACOSX"_s}}));
        const OriginDetails orphan =
            OriginDetails::inspect(QFile::encodeName(m_tree.path(u"._gone.zip"_s)), nullptr, true);
        QVERIFY(orphan.orphanSidecar);
        QCOMPARE(orphan.quarantine ? orphan.quarantine->agent : QString(), u"Safari"_s);

        for (const bool sidecars : {true, false}) {
            QStringList options{u"--quarantine"_s, u"--format=jsonl"_s};
            if (!sidecars)
                options << u"--no-sidecars"_s;
            const QByteArray out = crawlOutput(options);
            QVERIFY2(!out.startsWith("failed"), out.constData());
            QCOMPARE(out.contains(R"("name":"invoice.pdf")"), sidecars);
            QCOMPARE(out.contains(R"("agent":"Safari","eventID":"1F2E3D4C")"), sidecars);
            QCOMPARE(out.contains(R"("orphanSidecar":true)"), sidecars);
            // Each line is the one the file's path gives: what the walk kept is what a read finds.
            for (const QByteArray& line : out.split('\n')) {
                if (line.isEmpty())
                    continue;
                const QJsonObject row = QJsonDocument::fromJson(line).object();
                const QString path = row.value(u"path"_s).toString();
                const OriginDetails read = OriginDetails::inspect(OriginDetails::rawPathOf(path), nullptr, sidecars);
                QCOMPARE(OriginJson::line(row.value(u"name"_s).toString(), path, row.value(u"provenanceID"_s).toString(),
                                          row.value(u"quarantineApp"_s).toString(), read),
                         line);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCrawlSidecars)
#include "tst_crawlsidecars.moc"
