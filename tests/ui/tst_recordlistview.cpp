#include "core/RecordRoles.h"
#include "ui/RecordListView.h"
#include "ui/TextRowDelegate.h"

#include <QClipboard>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QtTest>

namespace {

class OnePieceRow : public TextRowDelegate
{
public:
    using TextRowDelegate::TextRowDelegate;
    QStringList pieces(const QModelIndex& index) const override { return {index.data().toString()}; }
};

QStandardItem* record(const QString& text)
{
    auto* item = new QStandardItem(text);
    item->setData(QStringLiteral("export ") + text, ExportTextRole);
    return item;
}

} // namespace

class TestRecordListView : public QObject
{
    Q_OBJECT

private slots:
    void everyRowCanBeScrolledTo_data();
    void everyRowCanBeScrolledTo();
    void copyJoinsSelectionInListOrder();
};

void TestRecordListView::everyRowCanBeScrolledTo_data()
{
    QTest::addColumn<bool>("fixedFont");
    QTest::newRow("fixed-width font") << true;
    QTest::newRow("proportional font") << false;
}

void TestRecordListView::everyRowCanBeScrolledTo()
{
    QFETCH(bool, fixedFont);
    // Uniform row sizes measure one row (Qt takes the last); a long row before it must
    // still be reachable.
    QStandardItemModel model;
    RecordListView view;
    auto* delegate = new OnePieceRow(&view);
    if (fixedFont)
        delegate->setRowFont(TextRowDelegate::fixedFont(12));
    view.setItemDelegate(delegate);
    view.setModel(&model);
    view.resize(200, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QString longText =
        QStringLiteral("/Volumes/Data/") + QString(300, QLatin1Char('w')) + QStringLiteral("🔸 end");
    model.invisibleRootItem()->appendRows({record(longText), record(QStringLiteral("short"))});
    const int textWidth = QFontMetrics(delegate->rowFont()).horizontalAdvance(longText);
    QTRY_VERIFY(view.horizontalScrollBar()->maximum() + view.viewport()->width() >= textWidth);

    // A reset forgets the old width.
    model.clear();
    model.appendRow(record(QStringLiteral("short")));
    QTRY_COMPARE(view.horizontalScrollBar()->maximum(), 0);
}

void TestRecordListView::copyJoinsSelectionInListOrder()
{
    QStandardItemModel model;
    for (const char* text : {"a", "b", "c"})
        model.appendRow(record(QString::fromLatin1(text)));
    RecordListView view;
    view.setModel(&model);
    // Nothing selected: the clipboard keeps what it had.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    view.copySelection();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    view.selectionModel()->select(model.index(2, 0), QItemSelectionModel::Select);
    view.selectionModel()->select(model.index(0, 0), QItemSelectionModel::Select);
    QCOMPARE(view.selectedExportTexts(),
             (QStringList{QStringLiteral("export a"), QStringLiteral("export c")}));
    QTest::keySequence(&view, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("export a\nexport c"));
}

QTEST_MAIN(TestRecordListView)
#include "tst_recordlistview.moc"
