#include "core/PathEncoding.h"
#include "drop/FileInfo.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QtTest>

#include <climits>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

void row(const char* tag, const char* name, const char* provenance, const char* quarantine,
         const char* expected, const char* sidecar = "")
{
    QTest::newRow(tag) << name << provenance << quarantine << expected << sidecar;
}

// A file URL as a file manager writes it: every byte outside a path's plain characters escaped.
QUrl dropUrl(const QByteArray& rawPath)
{
    return QUrl::fromEncoded("file://" + rawPath.toPercentEncoding("/"));
}

// `quellmark-cli files` run in `folder`: its status, standard output and standard error.
QStringList files(const QByteArrayList& arguments, const QString& folder = QString())
{
    const ToolRun::Outcome run = ToolRun(ToolRun::built("quellmark-cli"), QByteArrayList{"files"} + arguments,
                                         QFile::encodeName(folder))
                                     .run();
    return {QString::number(run.status), QString::fromUtf8(run.out), QString::fromUtf8(run.err)};
}

} // namespace

// The records of dropped items: the model that lists them, and `quellmark-cli files`,
// which prints them.
class TestFileInfo : public QObject
{
    Q_OBJECT

private slots:
    void records_data()
    {
        // Names and values are percent-encoded bytes; a name ending in "/" is a folder; "-" leaves an
        // attribute unset. ROOT stands for the test folder's encoded path.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("provenance");
        QTest::addColumn<QString>("quarantine");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("sidecar"); // an AppleDouble file with both values, lent to the item

        row("both, unregistered", "a", "%05", "0083;65f0a1b2;Safari;3A4B", "a | ROOT/a | ❓ 0x05 | 🔸 Safari");
        row("non-ASCII", "café ü", "-", "-", "café ü | ROOT/caf%C3%A9%20%C3%BC |  | ");
        row("percent and hash", "50%25#1?", "%0A", "-", "50%#1? | ROOT/50%25%231%3F | ❓ 0x0a | ");
        row("not UTF-8", "bad%FF", "%0A", "-", "bad\uFFFD | ROOT/bad%FF | ❓ 0x0a | ");
        row("folder", "Some Folder/", "%0A", "-", "Some Folder | ROOT/Some%20Folder/ | ❓ 0x0a | ");
        // Copied rows and the command line's lines stay one line each; the path was encoded anyway.
        row("control characters", "tab%09and%0Aline%7F", "-", "0083;1;Evil%0D%0AAgent;2",
            "tab␉and␊line␡ | ROOT/tab%09and%0Aline%7F |  | 🔸 Evil␍␊Agent");
        // Which values win, and damaged sidecars, are covered with the sidecar reader; here: that the
        // model and the tool look where it does.
        const char* lent = " | ❓ 0x010200aabbccddeeff1100 | 🔸 Safari";
        row("sidecar beside", "a", "-", "-", (QByteArray("a | ROOT/a") + lent).constData(), "._a");
        row("sidecar in an unzipped Finder archive", "Docs/a", "-", "-",
            (QByteArray("a | ROOT/Docs/a") + lent).constData(), "__MACOSX/Docs/._a");
        row("sidecar of a folder", "Docs/", "-", "-", (QByteArray("Docs | ROOT/Docs/") + lent).constData(),
            "._Docs");
    }

    void records()
    {
        QFETCH(QString, name);
        QFETCH(QString, provenance);
        QFETCH(QString, quarantine);
        QFETCH(QString, expected);
        QFETCH(QString, sidecar);
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        if (!sidecar.isEmpty())
            tree.file(sidecar, AppleDoubleFile()
                                   .add("com.apple.provenance", QByteArray::fromHex("010200aabbccddeeff1100"))
                                   .add("com.apple.quarantine", "0083;65a1b2c3;Safari;1F2E3D4C")
                                   .bytes());
        const auto bytes = [](const QString& text) { return QByteArray::fromPercentEncoding(text.toUtf8()); };
        const QByteArray relative = bytes(name);
        const QByteArray raw = tree.rawPath(relative);
        QVERIFY(relative.endsWith('/') ? ::mkdir(raw.constData(), 0755) == 0
                                       : !tree.rawFile(relative).isEmpty());
        if (provenance != u"-"_s)
            tree.setRawAttribute(raw, "user.com.apple.provenance", bytes(provenance));
        if (quarantine != u"-"_s)
            tree.setRawAttribute(raw, "user.com.apple.quarantine", bytes(quarantine));

        FileInfo model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.addFile(dropUrl(raw));
        // The same file twice gives two records; a folder's path ends in "/" also when its URL does not.
        model.addFile(dropUrl(relative.endsWith('/') ? raw.chopped(1) : raw));
        model.setSidecars(false); // then the item's own values
        model.addFile(dropUrl(raw));
        expected.replace(u"ROOT"_s, encodePath(QFile::encodeName(tree.root())));
        const QString own = sidecar.isEmpty() ? expected : expected.section(u" | "_s, 0, 1) + u" |  | "_s;
        QCOMPARE(model.fileList().at(0).exportText() + u'\n' +
                     model.index(1).data(ExportTextRole).toString() + u'\n' +
                     model.fileList().at(2).exportText(),
                 expected + u'\n' + expected + u'\n' + own);
        QVERIFY(model.fileList().at(0).id != model.index(1).data(IdRole).toUuid());

        // The command line prints the same record for a name it can be given, relative to the working
        // folder or absolute.
        const QString path = QFile::decodeName(relative);
        if (QFile::encodeName(path) != relative)
            return;
        QCOMPARE(files({"./" + relative, QFile::encodeName(tree.path(path))}, tree.root()),
                 (QStringList{u"0"_s, expected + u'\n' + expected + u'\n', QString()}));
        QCOMPARE(files({"--no-sidecars", "./" + relative}, tree.root()),
                 (QStringList{u"0"_s, own + u'\n', QString()}));
    }

    void unreadable()
    {
        TestTree tree;
        tree.file(u"open/f"_s);
        tree.file(u"closed/f"_s);
        tree.openToOthers();
        QCOMPARE(::chmod(QFile::encodeName(tree.path(u"closed"_s)).constData(), 0700), 0);
        // As another user, for whom the folder's permission bits count: each record, then the count.
        bool ok = false;
        const QByteArray seen = TestTree::asUnprivileged(
            [&] {
                FileInfo model;
                QString shown;
                for (const QString& item : {u"open/f"_s, u"open/gone"_s, u"closed/f"_s}) {
                    model.addFile(QUrl::fromLocalFile(tree.path(item)));
                    shown += model.fileList().last().exportText() + u'\n';
                }
                return (shown + QString::number(model.unreadableCount())).toUtf8();
            },
            &ok);
        QVERIFY(ok);
        QCOMPARE(QString::fromUtf8(seen),
                 u"f | ROOT/open/f |  | \ngone | ROOT/open/gone | ⚠️ not found | \n"
                 u"f | ROOT/closed/f | ⚠️ permission denied | \n2"_s.replace(u"ROOT"_s, tree.root()));
    }

    void deepPath()
    {
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        // Deeper than PATH_MAX: listed with empty values and the whole path. (A path that cannot be
        // examined is covered with the command line's other outcomes; it gives the same record.)
        QByteArray deep = QFile::encodeName(tree.root());
        while (deep.size() <= PATH_MAX)
            deep += '/' + QByteArray(200, 'd');
        QCOMPARE(FileInfo::detailFor(dropUrl(deep + "/end")).exportText(),
                 u"end | %1/end |  | "_s.arg(encodePath(deep)));
    }
};

QTEST_GUILESS_MAIN(TestFileInfo)
#include "tst_fileinfo.moc"
