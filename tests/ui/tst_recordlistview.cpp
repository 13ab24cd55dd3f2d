#include "core/RecordRoles.h"
#include "ui/RecordListView.h"
#include "ui/TextRowDelegate.h"

#include <QClipboard>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kLongText = u"/Volumes/Data/"_s + QString(300, u'w') + u"🔸 end"_s;

class OnePieceRow : public TextRowDelegate
{
public:
    using TextRowDelegate::TextRowDelegate;
    QStringList pieces(const QModelIndex& index) const override { return {index.data().toString()}; }
};

// Rows "row 0", "row 1", ... appended in batches, as a crawl appends them.
class GrowingModel : public QAbstractListModel
{
public:
    int count = 0;
    int longRow = -1; // a row far wider than the others
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : count; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::DisplayRole)
            return index.row() == longRow ? kLongText : u"row %1"_s.arg(index.row());
        return role == ExportTextRole ? QVariant(u"export %1"_s.arg(index.row())) : QVariant();
    }
    void append(int rows)
    {
        beginInsertRows({}, count, count + rows - 1);
        count += rows;
        endInsertRows();
    }
    void reset(int rows)
    {
        beginResetModel();
        count = rows;
        longRow = -1;
        endResetModel();
    }
};

// Whether the picture has more than one colour: rows drawn, not a blank area.
bool hasContent(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                return true;
    return false;
}

// Counts a widget's paint events.
struct Paints : QObject
{
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
};

// Shows the model's rows in a list of 300 by 200 pixels.
bool show(RecordListView& view, QAbstractItemModel& model, const QFont& font = {})
{
    auto* delegate = new OnePieceRow(&view);
    if (font != QFont())
        delegate->setRowFont(font);
    view.setItemDelegate(delegate);
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    return QTest::qWaitForWindowExposed(&view);
}

} // namespace

class TestRecordListView : public QObject
{
    Q_OBJECT

private slots:
    // Each row is where its number says, rows follow with no gap, and the widest row can be scrolled to.
    void rowsPlacedWidestReachable_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("longRow"); // -1: none
        QTest::addColumn<bool>("fixedFont");
        QTest::addColumn<int>("scrollTo");
        QTest::newRow("a few, at the top") << 3 << -1 << false << 0;
        // Uniform row sizes measure one row (Qt takes the last): a long row before it must be reachable.
        QTest::newRow("long row first, fixed-width font") << 2 << 0 << true << 0;
        QTest::newRow("long row first, proportional font") << 2 << 0 << false << 1;
        QTest::newRow("a million, in the middle") << 1000000 << -1 << false << 500000;
        // The window does not wait for a million rows to be measured.
        QTest::newRow("a million, the widest last, at the end") << 1000000 << 999999 << false << 999999;
    }

    void rowsPlacedWidestReachable()
    {
        QFETCH(int, rows);
        QFETCH(int, longRow);
        QFETCH(bool, fixedFont);
        QFETCH(int, scrollTo);
        GrowingModel model;
        model.longRow = longRow;
        RecordListView view;
        QVERIFY(show(view, model, fixedFont ? TextRowDelegate::fixedFont(12) : QFont()));
        QTest::qWait(20);
        Paints paints;
        view.viewport()->installEventFilter(&paints);
        model.append(rows);
        QTRY_VERIFY(paints.count > 0); // rows that arrive on screen are drawn
        QVERIFY(rows < 1000 || view.horizontalScrollBar()->maximum() == 0); // measured in turns
        const QModelIndex target = model.index(scrollTo, 0);
        view.scrollTo(target);
        const QRect place = view.visualRect(target);
        const QPoint inRow(1, place.center().y());
        QVERIFY(view.viewport()->rect().contains(inRow));
        QCOMPARE(view.indexAt(inRow), target);
        QCOMPARE(place.height(), view.rowHeight());
        // Rows follow one another with no gap; nothing below the last one.
        const QModelIndex top = view.indexAt(QPoint(1, 1));
        QVERIFY(top.isValid());
        QCOMPARE(view.visualRect(model.index(top.row() + 1, 0)).top(), view.visualRect(top).bottom() + 1);
        QVERIFY(!view.indexAt(QPoint(1, view.visualRect(model.index(rows - 1, 0)).bottom() + 2)).isValid());
        QVERIFY(hasContent(view.viewport()->grab().toImage()));
        if (longRow < 0)
            return;
        const auto* delegate = static_cast<OnePieceRow*>(view.itemDelegate());
        const int width = QFontMetrics(delegate->rowFont()).horizontalAdvance(kLongText);
        QTRY_VERIFY_WITH_TIMEOUT(view.horizontalScrollBar()->maximum() + view.viewport()->width() >= width,
                                 30000);
        model.reset(1); // a reset forgets the old width
        QTRY_COMPARE(view.horizontalScrollBar()->maximum(), 0);
    }

    void keysAndClicksSelectAndCopy()
    {
        GrowingModel model;
        model.append(500);
        RecordListView view;
        QVERIFY(show(view, model));
        QGuiApplication::clipboard()->setText(u"before"_s);
        view.copySelection(); // nothing selected: the clipboard keeps what it had
        QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_s);
        const auto clickRow = [&view](int row, Qt::KeyboardModifiers modifiers = {}) {
            QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers,
                              view.visualRect(view.model()->index(row, 0)).center());
        };
        clickRow(2);
        clickRow(5, Qt::ShiftModifier);
        clickRow(0, Qt::ControlModifier);
        QTest::keySequence(&view, QKeySequence::Copy); // in list order
        QCOMPARE(QGuiApplication::clipboard()->text(), u"export 0\nexport 2\nexport 3\nexport 4\nexport 5"_s);
        // The current row after each key, and whether it is in sight.
        QStringList rows;
        for (const Qt::Key key : {Qt::Key_PageDown, Qt::Key_End, Qt::Key_Down, Qt::Key_Home, Qt::Key_Up}) {
            QTest::keyClick(&view, key);
            rows << QString::number(view.currentIndex().row()) +
                        (view.viewport()->rect().contains(view.visualRect(view.currentIndex())) ? u""_s
                                                                                                : u"?"_s);
        }
        QCOMPARE(rows.join(u' '), u"%1 499 499 0 0"_s.arg(view.viewport()->height() / view.rowHeight()));
        QCOMPARE(view.selectedExportTexts(), QStringList{u"export 0"_s});
    }

    void appendingKeepsViewAndSelection()
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

    void controlCharactersAreDrawnAsPictures_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("drawnAs");
        QTest::newRow("line feed") << u"two\nlines"_s << u"two␊lines"_s;
        QTest::newRow("tab, carriage return") << u"a\tb\rc"_s << u"a␉b␍c"_s;
        QTest::newRow("escape sequence") << u"\x1b[31mred"_s << u"␛[31mred"_s;
    }

    void controlCharactersAreDrawnAsPictures()
    {
        QFETCH(QString, text);
        QFETCH(QString, drawnAs);
        // A row stays one line, drawn as the row of the pictures is; what it holds stays exact.
        QStandardItemModel model;
        model.appendRow(new QStandardItem(text));
        model.appendRow(new QStandardItem(drawnAs));
        RecordListView view;
        QVERIFY(show(view, model));
        view.selectionModel()->clearCurrentIndex(); // no focus frame on either
        const QImage row = view.viewport()->grab(view.visualRect(model.index(0, 0))).toImage();
        QVERIFY(hasContent(row));
        QCOMPARE(row, view.viewport()->grab(view.visualRect(model.index(1, 0))).toImage());
        QCOMPARE(model.index(0, 0).data().toString(), text);
    }
};

QTEST_MAIN(TestRecordListView)
#include "tst_recordlistview.moc"
