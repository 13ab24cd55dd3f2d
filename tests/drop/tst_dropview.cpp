#include "core/PathEncoding.h"
#include "core/ProvenanceRegistry.h"
#include "drop/DropPlaceholder.h"
#include "drop/DropView.h"
#include "drop/FileInfo.h"
#include "drop/QuellmarkDropDelegate.h"
#include "tests/drop/DropEvents.h"
#include "tests/support/TestTree.h"
#include "ui/RecordListView.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPointer>
#include <QtTest>

class TestDropView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newWindowShowsOnlyPlaceholder();
    void dropShowsRowsAndHidesPlaceholder();
    void placeholderReturnsAtNextDrop();
    void rowTexts_data();
    void rowTexts();
    void copyInListOrder();
    void copyWithNothingSelected();
    void dropClearsSelection();
    void minimumListSize();
    void placeholderStaysCentred();
    void placeholderIsDrawnInColour();
    void screenshots();

private:
    // Drops `files` on the window's list and waits until all are listed.
    void dropFiles(const QStringList& files);
    QStringList visiblePieces(int row) const;

    std::unique_ptr<TestTree> m_tree;
    std::unique_ptr<DropView> m_view;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestDropView::init()
{
    m_tree = std::make_unique<TestTree>();
    QVERIFY2(m_tree->isValid(), m_tree->problem());
    m_view = std::make_unique<DropView>();
    m_view->resize(700, 320);
    // Every model the window is given is checked while it is in use.
    connect(m_view.get(), &DropView::fileInfoChanged, this, [this](FileInfo* model) {
        m_tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    });
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestDropView::cleanup()
{
    m_tester.reset();
    m_view.reset();
    m_tree.reset();
    provenanceApps().clear();
}

void TestDropView::dropFiles(const QStringList& files)
{
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    const auto data = DropEvents::mime(urls);
    QVERIFY(DropEvents::drop(m_view->list()->viewport(), data.get()));
    QTRY_COMPARE(m_view->fileInfo()->rowCount(), int(files.size()));
}

QStringList TestDropView::visiblePieces(int row) const
{
    auto* rowDelegate = dynamic_cast<DropView::FileRow*>(m_view->list()->itemDelegate());
    if (!rowDelegate)
        return {};
    QStringList pieces = rowDelegate->pieces(m_view->fileInfo()->index(row));
    pieces.removeAll(QString());
    return pieces;
}

void TestDropView::newWindowShowsOnlyPlaceholder()
{
    QCOMPARE(m_view->windowTitle(), QStringLiteral("Drop Files"));
    QCOMPARE(m_view->centralWidget(), m_view->list());
    QCOMPARE(m_view->list()->model(), m_view->fileInfo());
    QCOMPARE(m_view->fileInfo()->rowCount(), 0);
    QVERIFY(m_view->placeholder()->isVisible());
    QCOMPARE(m_view->placeholder()->size(), QSize(150, 150));
    QCOMPARE(m_view->list()->selectionMode(), QAbstractItemView::ExtendedSelection);
    QVERIFY(dynamic_cast<DropView::FileRow*>(m_view->list()->itemDelegate()));
    QCOMPARE(static_cast<DropView::FileRow*>(m_view->list()->itemDelegate())->rowFont(),
             QApplication::font());
}

void TestDropView::dropShowsRowsAndHidesPlaceholder()
{
    QSignalSpy replaced(m_view.get(), &DropView::fileInfoChanged);
    FileInfo* initial = m_view->fileInfo();
    QPointer<FileInfo> watch(initial);
    dropFiles({m_tree->file(QStringLiteral("one")), m_tree->file(QStringLiteral("two"))});
    QCOMPARE(replaced.count(), 1);
    QVERIFY(m_view->fileInfo() != initial);
    QCOMPARE(m_view->list()->model(), m_view->fileInfo());
    QVERIFY(!m_view->placeholder()->isVisible());
    // The replaced model is discarded.
    QTRY_VERIFY(watch.isNull());
}

void TestDropView::placeholderReturnsAtNextDrop()
{
    dropFiles({m_tree->file(QStringLiteral("first"))});
    QVERIFY(!m_view->placeholder()->isVisible());
    QSignalSpy drained(m_view->dropDelegate(), &QuellmarkDropDelegate::drained);
    const auto data = DropEvents::mime({QUrl::fromLocalFile(m_tree->file(QStringLiteral("second")))});
    QVERIFY(DropEvents::drop(m_view->list()->viewport(), data.get()));
    QCOMPARE(m_view->fileInfo()->rowCount(), 0);
    QVERIFY(m_view->placeholder()->isVisible());
    QVERIFY(drained.wait());
    QVERIFY(!m_view->placeholder()->isVisible());

    // A refused drag leaves the list as it was.
    const auto text = DropEvents::mime({}, QStringLiteral("just text"));
    QVERIFY(!DropEvents::drop(m_view->list()->viewport(), text.get()));
    QCOMPARE(m_view->fileInfo()->rowCount(), 1);
}

void TestDropView::rowTexts_data()
{
    QTest::addColumn<QByteArray>("provenance");
    QTest::addColumn<QByteArray>("quarantine");
    QTest::addColumn<QStringList>("values"); // between the name and the path

    QTest::newRow("neither") << QByteArray() << QByteArray() << QStringList{};
    QTest::newRow("both") << QByteArray("\xab") << QByteArray("0081;1;Safari;")
                          << QStringList{QStringLiteral("❓ 0xab"), QStringLiteral("🔸 Safari")};
    QTest::newRow("provenance only") << QByteArray("\xab") << QByteArray()
                                     << QStringList{QStringLiteral("❓ 0xab")};
    QTest::newRow("quarantine only") << QByteArray() << QByteArray("0081;1;Safari;")
                                     << QStringList{QStringLiteral("🔸 Safari")};
}

void TestDropView::rowTexts()
{
    QFETCH(QByteArray, provenance);
    QFETCH(QByteArray, quarantine);
    QFETCH(QStringList, values);
    const QString file = m_tree->file(QStringLiteral("row file"));
    if (!provenance.isNull())
        m_tree->setProvenance(file, provenance);
    if (!quarantine.isNull())
        m_tree->setQuarantine(file, quarantine);
    dropFiles({file});
    const QStringList expected =
        QStringList{QStringLiteral("row file")} + values + QStringList{encodePath(QFile::encodeName(file))};
    QCOMPARE(visiblePieces(0), expected);

    // More texts make a wider row; the height is one line of the default font.
    const QSize hint =
        m_view->list()->itemDelegate()->sizeHint(QStyleOptionViewItem(), m_view->fileInfo()->index(0));
    const QFontMetrics metrics(QApplication::font());
    QVERIFY(hint.width() >= metrics.horizontalAdvance(expected.join(QString())));
    QVERIFY(hint.height() >= metrics.height());
}

void TestDropView::copyInListOrder()
{
    dropFiles({m_tree->file(QStringLiteral("r0")), m_tree->file(QStringLiteral("r1")),
               m_tree->file(QStringLiteral("r2"))});
    QItemSelectionModel* selection = m_view->list()->selectionModel();
    // The third row first, then the first.
    selection->select(m_view->fileInfo()->index(2), QItemSelectionModel::Select);
    selection->select(m_view->fileInfo()->index(0), QItemSelectionModel::Select);
    const QList<FileDetail>& list = m_view->fileInfo()->fileList();
    QCOMPARE(m_view->list()->selectedExportTexts(),
             (QStringList{list.at(0).exportText(), list.at(2).exportText()}));

    QApplication::clipboard()->clear();
    m_view->list()->setFocus();
    QTest::keySequence(m_view->list(), QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(),
             list.at(0).exportText() + QLatin1Char('\n') + list.at(2).exportText());
}

void TestDropView::copyWithNothingSelected()
{
    dropFiles({m_tree->file(QStringLiteral("only"))});
    QApplication::clipboard()->setText(QStringLiteral("unchanged"));
    QVERIFY(m_view->list()->selectedExportTexts().isEmpty());
    m_view->list()->copySelection();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("unchanged"));
}

void TestDropView::dropClearsSelection()
{
    const QString file = m_tree->file(QStringLiteral("again"));
    dropFiles({file});
    m_view->list()->selectAll();
    QCOMPARE(m_view->list()->selectedExportTexts().size(), 1);
    dropFiles({file});
    QVERIFY(m_view->list()->selectedExportTexts().isEmpty());
    QVERIFY(!m_view->list()->selectionModel()->hasSelection());
}

void TestDropView::minimumListSize()
{
    m_view->resize(100, 80);
    QCoreApplication::processEvents();
    QVERIFY(m_view->list()->width() >= 600);
    QVERIFY(m_view->list()->height() >= 200);
    QVERIFY(m_view->minimumSizeHint().width() >= 600);
}

void TestDropView::placeholderStaysCentred()
{
    for (const QSize size : {QSize(700, 320), QSize(1000, 700), QSize(640, 260)}) {
        m_view->resize(size);
        QTRY_COMPARE(m_view->placeholder()->geometry().center(), m_view->list()->viewport()->rect().center());
    }
}

void TestDropView::placeholderIsDrawnInColour()
{
    const QImage image = m_view->placeholder()->grab().toImage();
    QCOMPARE(image.size() / image.devicePixelRatio(), QSize(150, 150));
    const qreal scale = image.width() / 100.0;
    auto at = [&](qreal x, qreal y) { return image.pixelColor(QPoint(int(x * scale), int(y * scale))); };
    // The badge is green, its plus white; the sheet takes the text colour for its outline.
    const QColor badge = at(64, 80);
    QVERIFY2(badge.green() > 150 && badge.red() < 100 && badge.blue() < 140, qPrintable(badge.name()));
    QCOMPARE(at(72, 72), QColor(Qt::white));
    QCOMPARE(at(18, 50).rgb(), m_view->placeholder()->palette().color(QPalette::WindowText).rgb());
}

void TestDropView::screenshots()
{
    // For looking at by eye: QUELLMARK_SCREENSHOT_DIR=/tmp ctest -R tst_dropview
    const QString folder = qEnvironmentVariable("QUELLMARK_SCREENSHOT_DIR");
    const QImage empty = m_view->grab().toImage();

    const QString app = m_tree->folder(QStringLiteral("Applications/Archiver.app"));
    provenanceApps().set(QStringLiteral("0x0a0b0c0d"), app);
    const QString registered = m_tree->file(QStringLiteral("Downloads/report 2024.pdf"));
    m_tree->setProvenance(registered, QByteArray::fromHex("0a0b0c0d"));
    m_tree->setQuarantine(registered, "0083;65f0a1b2;Firefox;4F1C");
    const QString unknown = m_tree->file(QStringLiteral("Downloads/installer.dmg"));
    m_tree->setProvenance(unknown, QByteArray::fromHex("5eed"));
    const QString quarantined = m_tree->file(QStringLiteral("Downloads/notes.txt"));
    m_tree->setQuarantine(quarantined, "0081;65f0a1b2;;Mail");
    const QString plain = m_tree->file(QStringLiteral("Downloads/plain file.txt"));
    const QString folderItem = m_tree->folder(QStringLiteral("Downloads/Photos"));
    dropFiles({registered, unknown, quarantined, plain, folderItem + QLatin1Char('/')});
    m_view->list()->selectionModel()->select(m_view->fileInfo()->index(1), QItemSelectionModel::Select);
    const QImage filled = m_view->grab().toImage();

    QVERIFY(!empty.isNull());
    QVERIFY(empty != filled);
    if (!folder.isEmpty()) {
        QVERIFY(empty.save(folder + QStringLiteral("/dropview-empty.png")));
        QVERIFY(filled.save(folder + QStringLiteral("/dropview-files.png")));
    }
}

QTEST_MAIN(TestDropView)
#include "tst_dropview.moc"
