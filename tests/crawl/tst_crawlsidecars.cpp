#include "crawl/CrawlQueue.h"
#include "crawl/Crawler.h"
#include "origin/OriginDetails.h"
#include "origin/OriginJson.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QJsonDocument>
#include <QJsonObject>
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

    // What `quellmark-cli crawl` prints, run in the folder `folder` below the tree, once it exited with 0.
    QByteArray crawlOutput(const QByteArrayList& arguments, const QString& folder = {})
    {
        const ToolRun::Outcome outcome =
            ToolRun{ToolRun::built("quellmark-cli"), QByteArrayList{"crawl"} + arguments,
                    QFile::encodeName(m_tree.path(folder))}
                .run();
        return outcome.status == 0 ? outcome.out : "failed: " + outcome.err;
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
        m_tree.folder(u"Archive/Docs/sub"_s);
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
        QTest::addColumn<QString>("folder"); // the working folder; "window": the crawl window's list
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QStringList>("rows"); // sorted, below the header; ROOT: the tree
        const QString a = u"a.pdf,,🔸 Safari,ROOT/Archive/Docs/a.pdf"_s;
        const QStringList own{u"._notad,❓ 0x0b,,ROOT/._notad"_s, u"._tagged,❓ 0x0c,,ROOT/._tagged"_s};
        const QStringList all =
            own + QStringList{u"invoice.pdf,❓ 0x010200aabbccddeeff1100,🔸 Safari,ROOT/invoice.pdf"_s,
                              u"own.txt,❓ 0x0a,🔸 Safari,ROOT/own.txt"_s, a,
                              u"._gone.zip,❓ 0x010200aabbccddeeff1100,🔸 Safari,ROOT/._gone.zip"_s};
        QTest::newRow("window") << u"window"_s << QByteArrayList{"ROOT"} << all;
        QTest::newRow("tool") << QString() << QByteArrayList{"--quarantine", "ROOT"} << all;
        QTest::newRow("tool, --no-sidecars") << QString() << QByteArrayList{"--quarantine", "--no-sidecars", "ROOT"}
                                             << own + QStringList{u"own.txt,❓ 0x0a,,ROOT/own.txt"_s};
        // Unzipped in place and crawled from there: the archive folder is beside the one named.
        QTest::newRow("tool, in the unzip folder") << u"Archive"_s << QByteArrayList{"--quarantine", "Docs"}
                                                   << QStringList{a};
        QTest::newRow("tool, the unzip folder") << QString() << QByteArrayList{"--quarantine", "Archive"}
                                                << QStringList{a};
        QTest::newRow("tool, in the unzipped folder") << u"Archive/Docs"_s << QByteArrayList{"--quarantine", "."}
                                                      << QStringList{a};
        QTest::newRow("tool, from below") << u"Archive/Docs/sub"_s
                                          << QByteArrayList{"--quarantine", "../../Docs"} << QStringList{a};
    }

    void listing()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArrayList, arguments);
        QFETCH(QStringList, rows);
        const QByteArray root = QFile::encodeName(m_tree.root());
        for (QString& row : rows)
            row.replace(u"ROOT"_s, m_tree.root());
        rows.sort();
        QByteArray csv;
        if (folder == u"window"_s) {
            Crawler model;
            QSignalSpy finished(&model, &Crawler::crawlFinished);
            model.startCrawl(m_tree.root(), true);
            QVERIFY(finished.wait(30000));
            const QString saved = m_tree.path(u"Archive/Docs/sub/window.csv"_s);
            QCOMPARE(model.writeCSV(saved).status, CsvWriteResult::Written);
            QFile file(saved);
            QVERIFY(file.open(QIODevice::ReadOnly));
            csv = file.readAll();
            QVERIFY(file.remove());
        } else {
            for (QByteArray& argument : arguments)
                argument.replace("ROOT", root);
            csv = crawlOutput(arguments, folder);
        }
        QStringList shown = QString::fromUtf8(csv).split(u'\n', Qt::SkipEmptyParts).mid(1);
        shown.sort(); // the walk's order is checked elsewhere
        QCOMPARE(shown, rows);
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
            QByteArrayList arguments{"--quarantine", "--format=jsonl", QFile::encodeName(m_tree.root())};
            if (!sidecars)
                arguments << "--no-sidecars";
            const QByteArray out = crawlOutput(arguments);
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
