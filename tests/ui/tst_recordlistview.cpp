#include "core/RecordRoles.h"
#include "ui/FindBar.h"
#include "ui/RecordListView.h"
#include "ui/RowFilterModel.h"
#include "ui/TextRowDelegate.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QLineEdit>
#include <QMainWindow>
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

// Rows "row 0", "row 1", ... appended in batches, as a crawl appends them. Each is also a record
// named "file" and its number, of four kinds by the number modulo 4.
class GrowingModel : public QAbstractListModel
{
public:
    int first = 0; // the number of the first row
    int count = 0;
    int longRow = -1; // a row far wider than the others
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : count; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        static const char* const provenance[] = {"✅ /Applications/Xcode.app", "", "❓ 0x0102", ""};
        static const char* const quarantine[] = {"🔸 Safari", "🔸 Firefox", "", ""};
        const int i = first + index.row();
        if (role == Qt::DisplayRole)
            return i == longRow ? kLongText : u"row %1"_s.arg(i);
        const QHash<int, QString> record{{ExportTextRole, u"export %1"_s.arg(i)},
                                         {NameRole, u"file%1"_s.arg(i)},
                                         {PathRole, u"/Volumes/Mac/Downloads/file%1"_s.arg(i)},
                                         {ProvenanceIDRole, QString::fromUtf8(provenance[i % 4])},
                                         {QuarantineAppRole, QString::fromUtf8(quarantine[i % 4])}};
        return record.contains(role) ? QVariant(record.value(role)) : QVariant();
    }
    void append(int rows)
    {
        beginInsertRows({}, count, count + rows - 1);
        count += rows;
        endInsertRows();
    }
    void removeFirst(int rows)
    {
        beginRemoveRows({}, 0, rows - 1);
        first += rows;
        count -= rows;
        endRemoveRows();
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

constexpr int kRows = 50000;

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

    void keysClicksAndAppendsKeepTheSelection()
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
        // Rows streaming in, as a crawl's do, leave the view and the selection where they were.
        view.scrollTo(model.index(50, 0), QAbstractItemView::PositionAtTop);
        const int maximum = view.verticalScrollBar()->maximum();
        for (int batch = 0; batch < 20; ++batch)
            model.append(1000);
        QCOMPARE(view.indexAt(QPoint(1, 1)).row(), 50);
        QCOMPARE(view.selectedExportTexts(), QStringList{u"export 0"_s});
        QCOMPARE(view.verticalScrollBar()->maximum(), maximum + 20000);
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.indexAt(QPoint(1, view.viewport()->height() - view.rowHeight())).row(), 20499);
    }

    // A row stays one line, drawn as the row of the control pictures is; what it holds stays exact.
    void controlCharactersAreDrawnAsPictures()
    {
        const QString text = u"a\tb\r\x1b[31mtwo\nlines"_s;
        QStandardItemModel model;
        model.appendRow(new QStandardItem(text));
        model.appendRow(new QStandardItem(u"a␉b␍␛[31mtwo␊lines"_s));
        RecordListView view;
        QVERIFY(show(view, model));
        view.selectionModel()->clearCurrentIndex(); // no focus frame on either
        const QImage row = view.viewport()->grab(view.visualRect(model.index(0, 0))).toImage();
        QVERIFY(hasContent(row));
        QCOMPARE(row, view.viewport()->grab(view.visualRect(model.index(1, 0))).toImage());
        QCOMPARE(model.index(0, 0).data().toString(), text);
    }

    void filtersAListThatGrows_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("firstShown"); // source row of the first shown row
        QTest::newRow("any case") << u"SAFARI"_s << kRows / 4 << 0;
        QTest::newRow("a mark") << u"❓"_s << kRows / 4 << 2;
        QTest::newRow("second field") << u"xcode"_s << kRows / 4 << 0;
        QTest::newRow("path only") << u"downloads/file4999"_s << 11 << 4999;
        QTest::newRow("names") << u"file123"_s << 111 << 123; // file123, file1230-9, file12300-99
        QTest::newRow("empty") << QString() << kRows << 0;
        QTest::newRow("nowhere") << u"nowhere"_s << 0 << -1;
        QTest::newRow("across fields") << u"file1 | "_s << 0 << -1;
    }

    void filtersAListThatGrows()
    {
        QFETCH(QString, text);
        QFETCH(int, shown);
        QFETCH(int, firstShown);
        GrowingModel source;
        RowFilterModel filter;
        QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        source.append(1000);
        filter.setSourceModel(&source);
        filter.setFilterText(text);
        // More rows arrive while the earlier ones are still being examined.
        QSignalSpy counts(&filter, &RowFilterModel::countsChanged);
        connect(&filter, &RowFilterModel::countsChanged, &source, [&] {
            if (source.count < kRows)
                source.append(std::min(7000, kRows - source.count));
        });
        QTRY_VERIFY_WITH_TIMEOUT(source.count == kRows && !filter.isFiltering(), 30000);
        QVERIFY(counts.count() > 3); // examined over several passes

        QCOMPARE(filter.rowCount(), shown);
        QCOMPARE(counts.last(), (QVariantList{shown, kRows}));
        if (shown > 0)
            QCOMPARE(filter.mapToSource(filter.index(0, 0)).row(), firstShown);
        int previous = -1;
        for (int row = 0; row < filter.rowCount(); ++row) {
            const QModelIndex index = filter.mapToSource(filter.index(row, 0));
            QVERIFY(index.row() > previous); // in list order
            previous = index.row();
            QCOMPARE(filter.mapFromSource(index).row(), row);
        }
    }

    void startsOverWhenEarlierRowsChange()
    {
        GrowingModel source;
        source.append(400);
        RowFilterModel filter;
        QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        filter.setSourceModel(&source);
        filter.setFilterText(u"firefox"_s);
        const auto shown = [&] {
            return u"%1 of %2, first %3"_s.arg(filter.rowCount())
                .arg(filter.totalCount())
                .arg(filter.index(0, 0).data(NameRole).toString());
        };
        QSignalSpy filtered(&filter, &RowFilterModel::filtered);
        QVERIFY(filtered.wait());
        QCOMPARE(shown(), u"100 of 400, first file1"_s);
        source.removeFirst(2); // rows 0 and 1 (one of them Firefox's) go
        QVERIFY(filtered.wait());
        QCOMPARE(shown(), u"99 of 398, first file5"_s);
        source.reset(0); // a new crawl
        QCOMPARE(shown(), u"0 of 0, first "_s);
    }

    void findBarInAWindow()
    {
        GrowingModel source;
        source.append(40);
        QMainWindow window;
        auto* list = new RecordListView;
        list->setModel(&source);
        window.setCentralWidget(list);
        auto* bar = new FindBar(list, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // The bar's count, or "closed" over the bare list; the selected rows; the current row.
        const auto state = [&] {
            const QString shown = bar->isVisible()                             ? bar->countText()
                                  : list->model() == &source && !bar->isOpen() ? u"closed"_s
                                                                               : u"?"_s;
            return shown + u" / "_s + list->selectedExportTexts().join(u", "_s) + u" / "_s +
                   QString::number(list->currentIndex().row());
        };
        QCOMPARE(state(), u"closed /  / 0"_s); // costs nothing until asked for
        list->setFocus();
        list->setCurrentIndex(source.index(31, 0));
        QTest::keySequence(&window, QKeySequence::Find);
        QVERIFY(bar->field()->hasFocus());
        QTRY_COMPARE(state(), u"40 of 40 / export 31 / 31"_s); // the row chosen stays chosen
        QTest::keyClicks(bar->field(), u"FILE3"_s);            // file3, file30-39
        QTRY_COMPARE(state(), u"11 of 40 / export 31 / 2"_s);
        source.append(10); // file40-49 arrive; none matches
        list->selectionModel()->select(list->model()->index(1, 0), QItemSelectionModel::ClearAndSelect);
        list->selectionModel()->select(list->model()->index(3, 0), QItemSelectionModel::Select);
        list->selectionModel()->setCurrentIndex(list->model()->index(3, 0), QItemSelectionModel::NoUpdate);
        QTRY_COMPARE(state(), u"11 of 50 / export 30, export 32 / 3"_s);
        // Escape closes it: every row again, the same two still selected.
        bar->field()->setFocus();
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QCOMPARE(state(), u"closed / export 30, export 32 / 32"_s);
        // Opened again on the same text: the rows found and selected are selected again.
        bar->findAction()->trigger();
        QTRY_COMPARE(state(), u"11 of 50 / export 30, export 32 / 3"_s);
        // A row chosen while the filter still works (more rows than one pass) is the user's
        // choice: the rows held for the filter give way.
        source.append(5000);
        QTest::keyClick(bar->field(), Qt::Key_Backspace); // "FILE": starts over
        QObject::connect(
            bar->filter(), &QAbstractItemModel::rowsInserted, list,
            [&] { list->selectionModel()->select(list->model()->index(5, 0), QItemSelectionModel::Select); },
            Qt::SingleShotConnection);
        QTRY_COMPARE(state(), u"5050 of 5050 / export 5 / -1"_s);
        // A window that swaps its list's model keeps the open filter in between.
        GrowingModel other;
        other.first = 3;
        other.append(1);
        bar->setListModel(&other);
        QTRY_COMPARE(state(), u"1 of 1 /  / -1"_s);
        bar->dismiss();
        QCOMPARE(list->model(), &other);
    }
};

QTEST_MAIN(TestRecordListView)
#include "tst_recordlistview.moc"
