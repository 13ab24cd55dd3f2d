#include "origin/OriginDetails.h"
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

// What a crawl lists where files came with AppleDouble sidecars, from `quellmark-cli crawl` (which lists what
// the window's model does), with and without --no-sidecars.
class TestCrawlSidecars : public QObject
{
    Q_OBJECT

    TestTree m_tree;

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

    void listing_data()
    {
        QTest::addColumn<QString>("folder"); // the working folder
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QStringList>("rows"); // sorted, below the header; ROOT: the tree
        const QString a = u"a.pdf,,🔸 Safari,ROOT/Archive/Docs/a.pdf"_s;
        const QStringList own{u"._notad,❓ 0x0b,,ROOT/._notad"_s, u"._tagged,❓ 0x0c,,ROOT/._tagged"_s};
        const QStringList all =
            own + QStringList{u"invoice.pdf,❓ 0x010200aabbccddeeff1100,🔸 Safari,ROOT/invoice.pdf"_s,
                              u"own.txt,❓ 0x0a,🔸 Safari,ROOT/own.txt"_s, a,
                              u"._gone.zip,❓ 0x010200aabbccddeeff1100,🔸 Safari,ROOT/._gone.zip"_s};
        QTest::newRow("tool") << QString() << QByteArrayList{"--quarantine", "ROOT"} << all;
        QTest::newRow("tool, --no-sidecars")
            << QString() << QByteArrayList{"--quarantine", "--no-sidecars", "ROOT"}
            << own + QStringList{u"own.txt,❓ 0x0a,,ROOT/own.txt"_s};
        // Unzipped in place and crawled from there: the archive folder is beside the one named.
        QTest::newRow("tool, in the unzip folder")
            << u"Archive"_s << QByteArrayList{"--quarantine", "Docs"} << QStringList{a};
        QTest::newRow("tool, the unzip folder")
            << QString() << QByteArrayList{"--quarantine", "Archive"} << QStringList{a};
        QTest::newRow("tool, in the unzipped folder")
            << u"Archive/Docs"_s << QByteArrayList{"--quarantine", "."} << QStringList{a};
        QTest::newRow("tool, from below")
            << u"Archive/Docs/sub"_s << QByteArrayList{"--quarantine", "../../Docs"} << QStringList{a};
        // Lines: the name, then where each value came from and whether the file is gone.
        const QString sidecar = uR"("com.apple.provenance":"._name","com.apple.quarantine":"._name"})"_s;
        QTest::newRow("tool, jsonl")
            << QString() << QByteArrayList{"--quarantine", "--format=jsonl", "ROOT"}
            << QStringList{
                   u"._notad {\"com.apple.provenance\":\"user.com.apple.provenance\"}"_s,
                   u"._tagged {\"com.apple.provenance\":\"user.com.apple.provenance\"} orphan"_s,
                   u"invoice.pdf {"_s + sidecar,
                   u"._gone.zip {"_s + sidecar + u" orphan"_s,
                   uR"(own.txt {"com.apple.provenance":"user.com.apple.provenance","com.apple.quarantine":"._name"})"_s,
                   uR"(a.pdf {"com.apple.quarantine":"__MACOSX"})"_s};
        QTest::newRow("tool, jsonl, --no-sidecars")
            << QString() << QByteArrayList{"--quarantine", "--no-sidecars", "--format=jsonl", "ROOT"}
            << QStringList{u"._notad {\"com.apple.provenance\":\"user.com.apple.provenance\"}"_s,
                           u"._tagged {\"com.apple.provenance\":\"user.com.apple.provenance\"}"_s,
                           uR"(own.txt {"com.apple.provenance":"user.com.apple.provenance"})"_s};
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
        for (QByteArray& argument : arguments)
            argument.replace("ROOT", root);
        // Run in `folder` below the tree.
        const ToolRun::Outcome crawl =
            ToolRun{ToolRun::built("quellmark-cli"), QByteArrayList{"crawl"} + arguments,
                    QFile::encodeName(m_tree.path(folder))}
                .run();
        QVERIFY2(crawl.status == 0, crawl.err.constData());
        const QByteArray& csv = crawl.out;
        const bool jsonl = arguments.contains("--format=jsonl");
        QStringList shown = QString::fromUtf8(csv).split(u'\n', Qt::SkipEmptyParts).mid(jsonl ? 0 : 1);
        if (jsonl) {
            // What the walk kept is what a read of each path finds (past the row's own four fields).
            QByteArrayList paths{"files", "--format=jsonl",
                                 arguments.contains("--no-sidecars") ? "--no-sidecars" : "--"};
            for (QString& line : shown) {
                const QJsonObject row = QJsonDocument::fromJson(line.toUtf8()).object();
                paths << OriginDetails::rawPathOf(row.value(u"path"_s).toString());
                line = row.value(u"name"_s).toString() + u' ' +
                       QString::fromUtf8(
                           QJsonDocument(row.value(u"source"_s).toObject()).toJson(QJsonDocument::Compact)) +
                       (row.value(u"orphanSidecar"_s).toBool() ? u" orphan"_s : QString());
            }
            const auto details = [](const QByteArray& lines) {
                QByteArrayList kept = lines.split('\n');
                for (QByteArray& line : kept)
                    line = line.mid(line.indexOf(",\"fileName\""));
                return kept;
            };
            QCOMPARE(details(ToolRun{ToolRun::built("quellmark-cli"), paths}.run().out), details(csv));
        }
        shown.sort(); // the walk's order is checked elsewhere
        QCOMPARE(shown, rows);
    }

    // The details pane notes each value lent by the sidecar; a file's own value is not lent.
    void lentValues()
    {
        QCOMPARE(
            OriginDetails::inspect(QFile::encodeName(m_tree.path(u"own.txt"_s)), nullptr, true).fromSidecar,
            QStringList{u"com.apple.quarantine"_s});
    }
};

QTEST_GUILESS_MAIN(TestCrawlSidecars)
#include "tst_crawlsidecars.moc"
