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

// Rows "row 0", "row 1", ... that can be appended in batches, as a crawl appends them.
class GrowingModel : public QAbstractListModel
{
public:
    int count = 0;
    int longRow = -1; // a row far wider than the others
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : count; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::DisplayRole)
            return index.row() == longRow ? QString(400, QLatin1Char('w'))
                                          : QStringLiteral("row %1").arg(index.row());
        if (role == ExportTextRole)
            return QStringLiteral("export %1").arg(index.row());
        return {};
    }
    void append(int rows)
    {
        beginInsertRows({}, count, count + rows - 1);
        count += rows;
        endInsertRows();
    }
};

// Whether the picture has more than one colour: rows drawn, not a blank area.
bool hasContent(const QImage& image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != first)
                return true;
    return false;
}

// Shows the model's rows in a list of 300 by 200 pixels.
bool show(RecordListView& view, QAbstractItemModel& model)
{
    view.setItemDelegate(new OnePieceRow(&view));
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

QStandardItem* record(const QString& text)
{
    auto* item = new QStandardItem(text);
    item->setData(QStringLiteral("export ") + text, ExportTextRole);
    return item;
}

} // namespace

using namespace Qt::StringLiterals;

class TestRecordListView : public QObject
{
    Q_OBJECT

private slots:
    void everyRowCanBeScrolledTo_data();
    void everyRowCanBeScrolledTo();
    void copyJoinsSelectionInListOrder();
    void rowsAreWhereTheirNumberSays_data();
    void rowsAreWhereTheirNumberSays();
    void keysAndClicksSelect();
    void appendingKeepsViewAndSelection();
    void longListsAreMeasuredInTurns();
    void controlCharactersAreDrawnAsPictures_data();
    void controlCharactersAreDrawnAsPictures();
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

void TestRecordListView::rowsAreWhereTheirNumberSays_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("scrollTo");
    QTest::newRow("a few, at the top") << 3 << 0;
    QTest::newRow("a million, in the middle") << 1000000 << 500000;
    QTest::newRow("a million, at the end") << 1000000 << 999999;
}

void TestRecordListView::rowsAreWhereTheirNumberSays()
{
    QFETCH(int, rows);
    QFETCH(int, scrollTo);
    GrowingModel model;
    RecordListView view;
    QVERIFY(show(view, model));
    model.append(rows);
    const QModelIndex target = model.index(scrollTo, 0);
    view.scrollTo(target);
    const QRect place = view.visualRect(target);
    QVERIFY(view.viewport()->rect().contains(place.center()));
    QCOMPARE(view.indexAt(place.center()), target);
    QCOMPARE(place.height(), view.rowHeight());
    // Rows follow one another with no gap; nothing below the last one.
    const QModelIndex top = view.indexAt(QPoint(1, 1));
    QVERIFY(top.isValid());
    QCOMPARE(view.visualRect(model.index(top.row() + 1, 0)).top(), view.visualRect(top).bottom() + 1);
    const QRect last = view.visualRect(model.index(rows - 1, 0));
    QVERIFY(!view.indexAt(QPoint(1, last.bottom() + 2)).isValid());
    QVERIFY(hasContent(view.viewport()->grab().toImage()));
}

void TestRecordListView::keysAndClicksSelect()
{
    GrowingModel model;
    model.append(500);
    RecordListView view;
    QVERIFY(show(view, model));
    const auto clickRow = [&view](int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers,
                          view.visualRect(view.model()->index(row, 0)).center());
    };
    clickRow(2);
    clickRow(5, Qt::ShiftModifier);
    clickRow(0, Qt::ControlModifier);
    QCOMPARE(view.selectedExportTexts(),
             (QStringList{u"export 0"_s, u"export 2"_s, u"export 3"_s, u"export 4"_s, u"export 5"_s}));
    const int page = view.viewport()->height() / view.rowHeight();
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.currentIndex().row(), page);
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.currentIndex().row(), 499);
    QVERIFY(view.viewport()->rect().contains(view.visualRect(view.currentIndex())));
    QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(view.currentIndex().row(), 499);
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::keyClick(&view, Qt::Key_Up);
    QCOMPARE(view.currentIndex().row(), 0);
    QCOMPARE(view.indexAt(QPoint(1, 1)).row(), 0);
    QCOMPARE(view.selectedExportTexts(), QStringList{u"export 0"_s});
}

void TestRecordListView::appendingKeepsViewAndSelection()
{
    GrowingModel model;
    model.append(100);
    RecordListView view;
    QVERIFY(show(view, model));
    view.scrollTo(model.index(50, 0), QAbstractItemView::PositionAtTop);
    view.selectionModel()->select(model.index(51, 0), QItemSelectionModel::Select);
    const int maximum = view.verticalScrollBar()->maximum();
    for (int batch = 0; batch < 20; ++batch) // as a crawl streams rows in
        model.append(1000);
    QCOMPARE(view.indexAt(QPoint(1, 1)).row(), 50);
    QCOMPARE(view.selectedExportTexts(), QStringList{u"export 51"_s});
    QCOMPARE(view.verticalScrollBar()->maximum(), maximum + 20000);
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.indexAt(QPoint(1, view.viewport()->height() - view.rowHeight())).row(), 20099);
}

void TestRecordListView::longListsAreMeasuredInTurns()
{
    // A million rows, the widest last: the window does not wait for all to be measured, and
    // once they are, that row can be scrolled to its end.
    GrowingModel model;
    model.append(1000000);
    model.longRow = 999999;
    RecordListView view;
    view.setItemDelegate(new OnePieceRow(&view));
    view.resize(300, 200);
    view.setModel(&model);
    QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
    const int width = QFontMetrics(view.font()).horizontalAdvance(QString(400, QLatin1Char('w')));
    QTRY_VERIFY_WITH_TIMEOUT(view.horizontalScrollBar()->maximum() + view.viewport()->width() >= width,
                             30000);
}

void TestRecordListView::controlCharactersAreDrawnAsPictures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("drawnAs");
    QTest::newRow("line feed") << u"two\nlines"_s << u"two␊lines"_s;
    QTest::newRow("tab, carriage return") << u"a\tb\rc"_s << u"a␉b␍c"_s;
    QTest::newRow("escape sequence") << u"\x1b[31mred"_s << u"␛[31mred"_s;
}

void TestRecordListView::controlCharactersAreDrawnAsPictures()
{
    QFETCH(QString, text);
    QFETCH(QString, drawnAs);
    // A row stays one line, drawn as the row of the pictures is; what it holds stays exact.
    QStandardItemModel model;
    model.appendRow(record(text));
    model.appendRow(record(drawnAs));
    RecordListView view;
    QVERIFY(show(view, model));
    view.selectionModel()->clearCurrentIndex(); // no focus frame on either
    const QImage row = view.viewport()->grab(view.visualRect(model.index(0, 0))).toImage();
    const QImage pictured = view.viewport()->grab(view.visualRect(model.index(1, 0))).toImage();
    QVERIFY(hasContent(row));
    QCOMPARE(row, pictured);
    QCOMPARE(model.index(0, 0).data().toString(), text);
}

QTEST_MAIN(TestRecordListView)
#include "tst_recordlistview.moc"
