#include "core/PathEncoding.h"
#include "core/ProvenanceRegistry.h"
#include "drop/FileInfo.h"
#include "tests/support/TestTree.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QtTest>

#include <climits>
#include <sys/stat.h>

namespace {

// A file URL as a file manager writes it: every byte outside a path's plain characters escaped.
QUrl urlForRawPath(const QByteArray& rawPath)
{
    return QUrl::fromEncoded("file://" + rawPath.toPercentEncoding("/"));
}

} // namespace

class TestFileInfo : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void attributes_data();
    void attributes();
    void nameAndPath_data();
    void nameAndPath();
    void folderKeepsTrailingSlash();
    void symbolicLinkIsFollowed();
    void sameFileTwice();
    void recordsAppendInCallOrder();
    void laterRegistryLoadLeavesRecordsAlone();
    void missingFileStillListed();
    void unreadableFileStillListed();
    void pathLongerThanPathMax();
    void roles();
};

void TestFileInfo::cleanup()
{
    provenanceApps().clear();
}

void TestFileInfo::attributes_data()
{
    QTest::addColumn<QByteArray>("provenance"); // null: not set
    QTest::addColumn<QByteArray>("quarantine"); // null: not set
    QTest::addColumn<bool>("registered");
    QTest::addColumn<QString>("expectedProvenance");
    QTest::addColumn<QString>("expectedQuarantine");

    const QByteArray none;
    const QByteArray id = QByteArray::fromHex("0102abff");
    const QByteArray safari = "0083;65f0a1b2;Safari;3A4B-11";
    QTest::newRow("neither") << none << none << false << QString() << QString();
    QTest::newRow("both, unregistered")
        << id << safari << false << QStringLiteral("❓ 0x0102abff") << QStringLiteral("🔸 Safari");
    QTest::newRow("both, registered")
        << id << safari << true << QStringLiteral("✅ /Applications/Tool.app") << QStringLiteral("🔸 Safari");
    QTest::newRow("provenance only, registered")
        << id << none << true << QStringLiteral("✅ /Applications/Tool.app") << QString();
    QTest::newRow("quarantine only") << none << safari << false << QString() << QStringLiteral("🔸 Safari");
    QTest::newRow("empty provenance value") << QByteArray("") << none << false << QString() << QString();
    QTest::newRow("empty quarantine value") << none << QByteArray("") << false << QString() << QString();
    QTest::newRow("quarantine third field empty")
        << none << QByteArray("0081;65f0a1b2;;Chrome") << false << QString() << QStringLiteral("🔸 Chrome");
    QTest::newRow("quarantine two fields")
        << none << QByteArray("0081;65f0a1b2") << false << QString() << QStringLiteral("🔸 unknown");
    QTest::newRow("quarantine not UTF-8")
        << none << QByteArray("0081;65f0;\xff\xfe;x") << false << QString() << QStringLiteral("🔸 unknown");
    const QByteArray longId(40, '\xab');
    QTest::newRow("long provenance") << longId << none << false
                                     << QStringLiteral("❓ 0x") + QString::fromLatin1(longId.toHex())
                                     << QString();
}

void TestFileInfo::attributes()
{
    QFETCH(QByteArray, provenance);
    QFETCH(QByteArray, quarantine);
    QFETCH(bool, registered);
    QFETCH(QString, expectedProvenance);
    QFETCH(QString, expectedQuarantine);

    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString file = tree.file(QStringLiteral("item.bin"), "content");
    if (!provenance.isNull())
        tree.setProvenance(file, provenance);
    if (!quarantine.isNull())
        tree.setQuarantine(file, quarantine);
    if (registered)
        provenanceApps().set(QStringLiteral("0x0102abff"), QStringLiteral("/Applications/Tool.app"));

    FileInfo model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addFile(QUrl::fromLocalFile(file));
    QCOMPARE(model.rowCount(), 1);
    const FileDetail& detail = model.fileList().at(0);
    QCOMPARE(detail.name, QStringLiteral("item.bin"));
    QCOMPARE(detail.provenanceID, expectedProvenance);
    QCOMPARE(detail.quarantineApp, expectedQuarantine);
    QCOMPARE(
        detail.exportText(),
        QStringLiteral("item.bin | %1 | %2 | %3").arg(detail.path, expectedProvenance, expectedQuarantine));
    // The drop window only reads the registry.
    QCOMPARE(provenanceApps().size(), registered ? 1 : 0);
}

void TestFileInfo::nameAndPath_data()
{
    QTest::addColumn<QByteArray>("rawName");
    QTest::addColumn<bool>("fromLocalFile"); // else from a percent-encoded URL
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<QString>("expectedPathEnd");

    QTest::newRow("plain") << QByteArray("report.pdf") << true << QStringLiteral("report.pdf")
                           << QStringLiteral("/report.pdf");
    QTest::newRow("space") << QByteArray("my file.txt") << true << QStringLiteral("my file.txt")
                           << QStringLiteral("/my%20file.txt");
    QTest::newRow("space, encoded URL") << QByteArray("my file.txt") << false << QStringLiteral("my file.txt")
                                        << QStringLiteral("/my%20file.txt");
    QTest::newRow("non-ASCII") << QByteArray("café ü.txt") << true << QStringLiteral("café ü.txt")
                               << QStringLiteral("/caf%C3%A9%20%C3%BC.txt");
    QTest::newRow("percent and hash") << QByteArray("50%#1?.txt") << true << QStringLiteral("50%#1?.txt")
                                      << QStringLiteral("/50%25%231%3F.txt");
    QTest::newRow("kept punctuation")
        << QByteArray("a+b=c,d;e@f(1)!.txt") << false << QStringLiteral("a+b=c,d;e@f(1)!.txt")
        << QStringLiteral("/a+b=c,d;e@f(1)!.txt");
    QTest::newRow("not UTF-8") << QByteArray("bad\xff\xfe.bin") << false
                               << QStringLiteral("bad") + QChar(0xfffd) + QChar(0xfffd) +
                                      QStringLiteral(".bin")
                               << QStringLiteral("/bad%FF%FE.bin");
}

void TestFileInfo::nameAndPath()
{
    QFETCH(QByteArray, rawName);
    QFETCH(bool, fromLocalFile);
    QFETCH(QString, expectedName);
    QFETCH(QString, expectedPathEnd);

    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QByteArray raw = tree.rawFile(rawName, "x");
    // The attribute calls must reach the file itself, whatever its name.
    tree.setRawAttribute(raw, "user.com.apple.provenance", "\x0a");

    const QUrl url = fromLocalFile ? QUrl::fromLocalFile(QFile::decodeName(raw)) : urlForRawPath(raw);
    FileInfo model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addFile(url);
    const FileDetail& detail = model.fileList().at(0);
    QCOMPARE(detail.name, expectedName);
    QCOMPARE(detail.path, encodePath(QFile::encodeName(tree.root())) + expectedPathEnd);
    QCOMPARE(detail.provenanceID, QStringLiteral("❓ 0x0a"));
}

void TestFileInfo::folderKeepsTrailingSlash()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString folder = tree.folder(QStringLiteral("Some Folder"));
    tree.file(QStringLiteral("Some Folder/inside.txt"));
    tree.setQuarantine(folder, "0081;1;Files;");

    FileInfo model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addFile(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    model.addFile(QUrl::fromLocalFile(folder));
    QCOMPARE(model.rowCount(), 2);
    const QString base = encodePath(QFile::encodeName(tree.root()));
    QCOMPARE(model.fileList().at(0).name, QStringLiteral("Some Folder"));
    QCOMPARE(model.fileList().at(0).path, base + QStringLiteral("/Some%20Folder/"));
    QCOMPARE(model.fileList().at(0).quarantineApp, QStringLiteral("🔸 Files"));
    QCOMPARE(model.fileList().at(1).name, QStringLiteral("Some Folder"));
    QCOMPARE(model.fileList().at(1).path, base + QStringLiteral("/Some%20Folder"));
    QCOMPARE(model.fileList().at(1).quarantineApp, QStringLiteral("🔸 Files"));

    FileInfo root;
    root.addFile(QUrl::fromLocalFile(QStringLiteral("/")));
    QCOMPARE(root.fileList().at(0).name, QStringLiteral("/"));
    QCOMPARE(root.fileList().at(0).path, QStringLiteral("/"));
}

void TestFileInfo::symbolicLinkIsFollowed()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString target = tree.file(QStringLiteral("target"));
    tree.setProvenance(target, "\x01\x02");
    const QString link = tree.symlink(target, QStringLiteral("the link"));

    FileInfo model;
    model.addFile(QUrl::fromLocalFile(link));
    QCOMPARE(model.fileList().at(0).name, QStringLiteral("the link"));
    QVERIFY(model.fileList().at(0).path.endsWith(QStringLiteral("/the%20link")));
    QCOMPARE(model.fileList().at(0).provenanceID, QStringLiteral("❓ 0x0102"));
}

void TestFileInfo::sameFileTwice()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString file = tree.file(QStringLiteral("twice"));
    tree.setProvenance(file, "\x07");

    FileInfo model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addFile(QUrl::fromLocalFile(file));
    model.addFile(QUrl::fromLocalFile(file));
    QCOMPARE(model.rowCount(), 2);
    const FileDetail& first = model.fileList().at(0);
    const FileDetail& second = model.fileList().at(1);
    QVERIFY(first.id != second.id);
    QCOMPARE(second.exportText(), first.exportText());
    QCOMPARE(model.data(model.index(0), IdRole).toUuid(), first.id);
    QCOMPARE(model.data(model.index(1), IdRole).toUuid(), second.id);
}

void TestFileInfo::recordsAppendInCallOrder()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QStringList names{QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")};

    FileInfo model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &FileInfo::fileListChanged);
    for (const QString& name : names)
        model.addFile(QUrl::fromLocalFile(tree.file(name)));

    QCOMPARE(inserted.count(), 3);
    QCOMPARE(changed.count(), 3);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(inserted.at(row).at(1).toInt(), row);
        QCOMPARE(inserted.at(row).at(2).toInt(), row);
        QCOMPARE(model.fileList().at(row).name, names.at(row));
    }
}

void TestFileInfo::laterRegistryLoadLeavesRecordsAlone()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString file = tree.file(QStringLiteral("download.zip"));
    tree.setProvenance(file, "\xbe\xef");

    FileInfo model;
    model.addFile(QUrl::fromLocalFile(file));
    QCOMPARE(model.fileList().at(0).provenanceID, QStringLiteral("❓ 0xbeef"));

    provenanceApps().set(QStringLiteral("0xbeef"), QStringLiteral("/Applications/Browser.app"));
    QCOMPARE(model.fileList().at(0).provenanceID, QStringLiteral("❓ 0xbeef"));
    QCOMPARE(model.data(model.index(0), FileInfo::ProvenanceIDRole).toString(), QStringLiteral("❓ 0xbeef"));

    model.addFile(QUrl::fromLocalFile(file));
    QCOMPARE(model.fileList().at(1).provenanceID, QStringLiteral("✅ /Applications/Browser.app"));
}

void TestFileInfo::missingFileStillListed()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString gone = tree.path(QStringLiteral("gone away.txt"));

    FileInfo model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.addFile(QUrl::fromLocalFile(gone));
    QCOMPARE(model.rowCount(), 1);
    const FileDetail& detail = model.fileList().at(0);
    QCOMPARE(detail.name, QStringLiteral("gone away.txt"));
    QCOMPARE(detail.exportText(), QStringLiteral("gone away.txt | ") + encodePath(QFile::encodeName(gone)) +
                                      QStringLiteral(" |  | "));
}

void TestFileInfo::unreadableFileStillListed()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString file = tree.file(QStringLiteral("locked/secret.txt"));
    tree.setProvenance(file, "\x01");
    tree.setQuarantine(file, "0081;1;Mail;");
    tree.openToOthers();
    QVERIFY(QFile::setPermissions(tree.path(QStringLiteral("locked")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QUrl url = QUrl::fromLocalFile(file);

    // The owner sees both values; another user, who cannot search the folder, sees none.
    QCOMPARE(FileInfo::detailFor(url).exportText(),
             QStringLiteral("secret.txt | %1 | ❓ 0x01 | 🔸 Mail").arg(encodePath(QFile::encodeName(file))));
    bool ok = false;
    const QByteArray seen =
        TestTree::asUnprivileged([&] { return FileInfo::detailFor(url).exportText().toUtf8(); }, &ok);
    QVERIFY(ok);
    QCOMPARE(QString::fromUtf8(seen),
             QStringLiteral("secret.txt | %1 |  | ").arg(encodePath(QFile::encodeName(file))));
}

void TestFileInfo::pathLongerThanPathMax()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    QByteArray raw = QFile::encodeName(tree.root());
    while (raw.size() <= PATH_MAX)
        raw += '/' + QByteArray(200, 'd');
    raw += "/end file";

    FileInfo model;
    model.addFile(urlForRawPath(raw));
    QCOMPARE(model.rowCount(), 1);
    const FileDetail& detail = model.fileList().at(0);
    QCOMPARE(detail.name, QStringLiteral("end file"));
    QCOMPARE(detail.path, encodePath(raw));
    QVERIFY(detail.path.size() > PATH_MAX);
    QVERIFY(detail.provenanceID.isEmpty());
    QVERIFY(detail.quarantineApp.isEmpty());
}

void TestFileInfo::roles()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString file = tree.file(QStringLiteral("r.txt"));
    tree.setProvenance(file, "\x05");
    tree.setQuarantine(file, "0081;1;Agent;");

    FileInfo model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    model.addFile(QUrl::fromLocalFile(file));
    const QModelIndex index = model.index(0);
    const FileDetail& detail = model.fileList().at(0);
    QCOMPARE(index.data(Qt::DisplayRole).toString(), QStringLiteral("r.txt"));
    QCOMPARE(index.data(FileInfo::NameRole).toString(), QStringLiteral("r.txt"));
    QCOMPARE(index.data(FileInfo::PathRole).toString(), detail.path);
    QCOMPARE(index.data(FileInfo::ProvenanceIDRole).toString(), QStringLiteral("❓ 0x05"));
    QCOMPARE(index.data(FileInfo::QuarantineAppRole).toString(), QStringLiteral("🔸 Agent"));
    QCOMPARE(index.data(IdRole).toUuid(), detail.id);
    QCOMPARE(index.data(ExportTextRole).toString(), detail.exportText());
    QVERIFY(!model.index(1).isValid());
    QCOMPARE(model.rowCount(index), 0);

    const auto names = model.roleNames();
    QCOMPARE(names.value(IdRole), QByteArray("id"));
    QCOMPARE(names.value(FileInfo::ProvenanceIDRole), QByteArray("provenanceID"));
    QCOMPARE(names.value(FileInfo::QuarantineAppRole), QByteArray("quarantineApp"));
}

QTEST_GUILESS_MAIN(TestFileInfo)
#include "tst_fileinfo.moc"
