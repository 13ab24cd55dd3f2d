#include "core/PathEncoding.h"
#include "drop/FileInfo.h"
#include "drop/QuellmarkDropDelegate.h"
#include "tests/drop/DropEvents.h"
#include "tests/support/TestTree.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QPointer>
#include <QtTest>

#include <vector>

// Stands in for the drop window: keeps every model it is given, so a test can look at
// replaced ones too, and puts each under QAbstractItemModelTester.
class ModelHolder
{
public:
    QuellmarkDropDelegate::Binding binding()
    {
        return {[this] { return current(); },
                [this](FileInfo* fileInfo) {
                    m_models.emplace_back(fileInfo);
                    m_testers.push_back(std::make_unique<QAbstractItemModelTester>(
                        fileInfo, QAbstractItemModelTester::FailureReportingMode::QtTest));
                }};
    }
    FileInfo* current() const { return m_models.empty() ? nullptr : m_models.back().get(); }
    FileInfo* at(size_t i) const { return m_models.at(i).get(); }
    size_t count() const { return m_models.size(); }

private:
    std::vector<std::unique_ptr<FileInfo>> m_models;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> m_testers;
};

class TestQuellmarkDropDelegate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void validate_data();
    void validate();
    void dragEnterChoosesCopy_data();
    void dragEnterChoosesCopy();
    void filesOnly();
    void textOnlyIsRefused();
    void mixKeepsOnlyFiles();
    void folderIsOneRecord();
    void secondDropReplacesFirst();
    void queuedFileGoesToNewerModel();
    void sameFileInTwoDrops();
    void manyFilesKeepOrder();
    void closingDropsQueuedFiles();

private:
    QList<QString> names(const FileInfo* model) const;

    std::unique_ptr<TestTree> m_tree;
    std::unique_ptr<ModelHolder> m_holder;
    std::unique_ptr<QWidget> m_target;
    QPointer<QuellmarkDropDelegate> m_delegate;
};

void TestQuellmarkDropDelegate::init()
{
    m_tree = std::make_unique<TestTree>();
    QVERIFY2(m_tree->isValid(), m_tree->problem());
    m_holder = std::make_unique<ModelHolder>();
    m_holder->binding().set(new FileInfo);
    m_target = std::make_unique<QWidget>();
    m_target->resize(300, 200);
    m_delegate = new QuellmarkDropDelegate(m_holder->binding(), m_target.get());
    m_delegate->attach(m_target.get());
}

void TestQuellmarkDropDelegate::cleanup()
{
    m_target.reset();
    m_holder.reset();
    m_tree.reset();
}

QList<QString> TestQuellmarkDropDelegate::names(const FileInfo* model) const
{
    QList<QString> list;
    for (const FileDetail& detail : model->fileList())
        list << detail.name;
    return list;
}

void TestQuellmarkDropDelegate::validate_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QUrl>>("expectedFiles");

    const QUrl a = QUrl::fromLocalFile(QStringLiteral("/tmp/a"));
    const QUrl b = QUrl::fromLocalFile(QStringLiteral("/tmp/b c/"));
    const QUrl web(QStringLiteral("https://example.org/a"));
    const QUrl mail(QStringLiteral("mailto:someone@example.org"));
    const QUrl localhost(QStringLiteral("file://localhost/tmp/a"));
    QTest::newRow("one file") << QList<QUrl>{a} << QString() << QList<QUrl>{a};
    QTest::newRow("two files") << QList<QUrl>{b, a} << QString() << QList<QUrl>{b, a};
    QTest::newRow("text only") << QList<QUrl>{} << QStringLiteral("/tmp/a") << QList<QUrl>{};
    QTest::newRow("web link only") << QList<QUrl>{web} << QString() << QList<QUrl>{};
    QTest::newRow("mix") << QList<QUrl>{web, a, mail, b} << QStringLiteral("some text") << QList<QUrl>{a, b};
    QTest::newRow("file with host") << QList<QUrl>{localhost} << QString() << QList<QUrl>{localhost};
    QTest::newRow("nothing") << QList<QUrl>{} << QString() << QList<QUrl>{};
}

void TestQuellmarkDropDelegate::validate()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, text);
    QFETCH(QList<QUrl>, expectedFiles);
    const auto data = DropEvents::mime(urls, text);
    QCOMPARE(QuellmarkDropDelegate::fileUrls(data.get()), expectedFiles);
    QCOMPARE(QuellmarkDropDelegate::validateDrop(data.get()), !expectedFiles.isEmpty());
    QCOMPARE(DropEvents::enter(m_target.get(), data.get()), !expectedFiles.isEmpty());
    QVERIFY(!QuellmarkDropDelegate::validateDrop(nullptr));
}

void TestQuellmarkDropDelegate::dragEnterChoosesCopy_data()
{
    QTest::addColumn<Qt::DropActions>("offered");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<Qt::DropAction>("chosen");

    QTest::newRow("copy or move") << (Qt::CopyAction | Qt::MoveAction) << true << Qt::CopyAction;
    QTest::newRow("all") << (Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) << true << Qt::CopyAction;
    QTest::newRow("link only") << Qt::DropActions(Qt::LinkAction) << true << Qt::LinkAction;
    QTest::newRow("move only") << Qt::DropActions(Qt::MoveAction) << false << Qt::MoveAction;
}

void TestQuellmarkDropDelegate::dragEnterChoosesCopy()
{
    QFETCH(Qt::DropActions, offered);
    QFETCH(bool, accepted);
    QFETCH(Qt::DropAction, chosen);
    const auto data = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("f")))});
    Qt::DropAction action = Qt::IgnoreAction;
    QCOMPARE(DropEvents::enter(m_target.get(), data.get(), offered, &action), accepted);
    if (accepted)
        QCOMPARE(action, chosen);
    // A move is never taken: the source might delete the originals.
    QCOMPARE(DropEvents::drop(m_target.get(), data.get(), offered), accepted);
    QCOMPARE(m_holder->count(), accepted ? size_t(2) : size_t(1));
}

void TestQuellmarkDropDelegate::filesOnly()
{
    const QString one = m_tree->file(QStringLiteral("one.txt"));
    m_tree->setProvenance(one, "\x01\x02");
    const QString two = m_tree->file(QStringLiteral("two words.txt"));
    m_tree->setQuarantine(two, "0081;1;Browser;");
    FileInfo* before = m_holder->current();
    before->addFile(QUrl::fromLocalFile(m_tree->file(QStringLiteral("earlier"))));

    QSignalSpy drained(m_delegate, &QuellmarkDropDelegate::drained);
    const auto data = DropEvents::mime({QUrl::fromLocalFile(one), QUrl::fromLocalFile(two)});
    QVERIFY(DropEvents::drop(m_target.get(), data.get()));

    // A new, empty model at once; the files follow from the event loop.
    QCOMPARE(m_holder->count(), size_t(2));
    QVERIFY(m_holder->current() != before);
    QCOMPARE(m_holder->current()->rowCount(), 0);
    QCOMPARE(m_delegate->pendingCount(), 2);
    QVERIFY(drained.wait());
    QCOMPARE(names(m_holder->current()),
             (QList<QString>{QStringLiteral("one.txt"), QStringLiteral("two words.txt")}));
    QCOMPARE(m_holder->current()->fileList().at(0).provenanceID, QStringLiteral("❓ 0x0102"));
    QCOMPARE(m_holder->current()->fileList().at(1).quarantineApp, QStringLiteral("🔸 Browser"));
    QCOMPARE(m_holder->current()->fileList().at(1).path, encodePath(QFile::encodeName(two)));
    QCOMPARE(before->rowCount(), 1);
}

void TestQuellmarkDropDelegate::textOnlyIsRefused()
{
    FileInfo* before = m_holder->current();
    before->addFile(QUrl::fromLocalFile(m_tree->file(QStringLiteral("kept"))));
    const auto data = DropEvents::mime({}, QStringLiteral("file:///etc/passwd"));
    QVERIFY(!DropEvents::enter(m_target.get(), data.get()));
    QVERIFY(!DropEvents::drop(m_target.get(), data.get()));
    QVERIFY(!m_delegate->performDrop(data.get()));
    QCOMPARE(m_holder->count(), size_t(1));
    QCOMPARE(m_holder->current(), before);
    QCOMPARE(names(before), QList<QString>{QStringLiteral("kept")});
    QCOMPARE(m_delegate->pendingCount(), 0);
}

void TestQuellmarkDropDelegate::mixKeepsOnlyFiles()
{
    const QString a = m_tree->file(QStringLiteral("a"));
    const QString b = m_tree->file(QStringLiteral("b"));
    QSignalSpy drained(m_delegate, &QuellmarkDropDelegate::drained);
    const auto data = DropEvents::mime({QUrl(QStringLiteral("https://example.org/x")), QUrl::fromLocalFile(b),
                                        QUrl(QStringLiteral("mailto:a@example.org")), QUrl::fromLocalFile(a)},
                                       QStringLiteral("dragged text"));
    QVERIFY(DropEvents::drop(m_target.get(), data.get()));
    QVERIFY(drained.wait());
    QCOMPARE(names(m_holder->current()), (QList<QString>{QStringLiteral("b"), QStringLiteral("a")}));
}

void TestQuellmarkDropDelegate::folderIsOneRecord()
{
    const QString folder = m_tree->folder(QStringLiteral("Folder"));
    m_tree->file(QStringLiteral("Folder/inner1"));
    m_tree->file(QStringLiteral("Folder/inner2"));
    m_tree->setProvenance(folder, "\x09");
    QSignalSpy drained(m_delegate, &QuellmarkDropDelegate::drained);
    const auto data = DropEvents::mime({QUrl::fromLocalFile(folder + QLatin1Char('/'))});
    QVERIFY(DropEvents::drop(m_target.get(), data.get()));
    QVERIFY(drained.wait());
    QCOMPARE(m_holder->current()->rowCount(), 1);
    QCOMPARE(m_holder->current()->fileList().at(0).name, QStringLiteral("Folder"));
    QVERIFY(m_holder->current()->fileList().at(0).path.endsWith(QStringLiteral("/Folder/")));
    QCOMPARE(m_holder->current()->fileList().at(0).provenanceID, QStringLiteral("❓ 0x09"));
}

void TestQuellmarkDropDelegate::secondDropReplacesFirst()
{
    QSignalSpy drained(m_delegate, &QuellmarkDropDelegate::drained);
    const auto first = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("x1"))),
                                         QUrl::fromLocalFile(m_tree->file(QStringLiteral("x2")))});
    QVERIFY(DropEvents::drop(m_target.get(), first.get()));
    QVERIFY(drained.wait());
    FileInfo* firstModel = m_holder->current();
    QCOMPARE(firstModel->rowCount(), 2);

    const auto second = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("y1"))),
                                          QUrl::fromLocalFile(m_tree->file(QStringLiteral("y2"))),
                                          QUrl::fromLocalFile(m_tree->file(QStringLiteral("y3")))});
    QVERIFY(DropEvents::drop(m_target.get(), second.get()));
    // The two earlier records are gone from view at once.
    QVERIFY(m_holder->current() != firstModel);
    QCOMPARE(m_holder->current()->rowCount(), 0);
    QVERIFY(drained.wait());
    QCOMPARE(names(m_holder->current()),
             (QList<QString>{QStringLiteral("y1"), QStringLiteral("y2"), QStringLiteral("y3")}));
    QCOMPARE(firstModel->rowCount(), 2);
}

void TestQuellmarkDropDelegate::queuedFileGoesToNewerModel()
{
    QSignalSpy drained(m_delegate, &QuellmarkDropDelegate::drained);
    const auto first = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("a1"))),
                                         QUrl::fromLocalFile(m_tree->file(QStringLiteral("a2")))});
    const auto second = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("b1")))});
    // Both drops before the event loop runs: the first drop's files are still queued.
    QVERIFY(DropEvents::drop(m_target.get(), first.get()));
    QVERIFY(DropEvents::drop(m_target.get(), second.get()));
    QCOMPARE(m_holder->count(), size_t(3));
    QVERIFY(drained.wait());
    QCOMPARE(m_holder->at(1)->rowCount(), 0);
    QCOMPARE(names(m_holder->current()),
             (QList<QString>{QStringLiteral("a1"), QStringLiteral("a2"), QStringLiteral("b1")}));
}

void TestQuellmarkDropDelegate::sameFileInTwoDrops()
{
    QSignalSpy drained(m_delegate, &QuellmarkDropDelegate::drained);
    const auto data = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("same")))});
    QVERIFY(DropEvents::drop(m_target.get(), data.get()));
    QVERIFY(drained.wait());
    const QUuid firstId = m_holder->current()->fileList().at(0).id;
    QVERIFY(DropEvents::drop(m_target.get(), data.get()));
    QVERIFY(drained.wait());
    QCOMPARE(names(m_holder->current()), QList<QString>{QStringLiteral("same")});
    QVERIFY(m_holder->current()->fileList().at(0).id != firstId);
}

void TestQuellmarkDropDelegate::manyFilesKeepOrder()
{
    QList<QUrl> urls;
    QList<QString> expected;
    for (int i = 0; i < 2000; ++i) {
        const QString name = QStringLiteral("f%1").arg(1999 - i, 4, 10, QLatin1Char('0'));
        urls << QUrl::fromLocalFile(m_tree->file(name));
        expected << name;
    }
    QSignalSpy drained(m_delegate, &QuellmarkDropDelegate::drained);
    const auto data = DropEvents::mime(urls);
    QVERIFY(DropEvents::drop(m_target.get(), data.get()));
    QCOMPARE(m_holder->current()->rowCount(), 0);
    QVERIFY(drained.wait());
    QCOMPARE(drained.count(), 1);
    QCOMPARE(names(m_holder->current()), expected);
}

void TestQuellmarkDropDelegate::closingDropsQueuedFiles()
{
    const auto data = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("late")))});
    QVERIFY(DropEvents::drop(m_target.get(), data.get()));
    FileInfo* model = m_holder->current();
    // The window goes away with its delegate before the queued file's turn.
    m_target.reset();
    QVERIFY(m_delegate.isNull());
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
    QCOMPARE(model->rowCount(), 0);
}

QTEST_MAIN(TestQuellmarkDropDelegate)
#include "tst_quellmarkdropdelegate.moc"
