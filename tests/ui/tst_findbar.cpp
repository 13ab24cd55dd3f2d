#include "core/RecordRoles.h"
#include "ui/FindBar.h"
#include "ui/RecordListView.h"
#include "ui/RowFilterModel.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QLineEdit>
#include <QMainWindow>
#include <QStandardItemModel>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int kRows = 50000;

// Row i of the test list: four kinds of record by i % 4, each name unique.
QStandardItem* record(int i)
{
    static const char* const provenance[] = {"✅ /Applications/Xcode.app", "", "❓ 0x0102", ""};
    static const char* const quarantine[] = {"🔸 Safari", "🔸 Firefox", "", ""};
    auto* item = new QStandardItem;
    const QString name = u"file"_s + QString::number(i);
    item->setData(name, NameRole);
    item->setData(QString::fromUtf8(provenance[i % 4]), ProvenanceIDRole);
    item->setData(QString::fromUtf8(quarantine[i % 4]), QuarantineAppRole);
    item->setData(u"/Volumes/Mac/Downloads/"_s + name, PathRole);
    item->setData(name + u" | export"_s, ExportTextRole);
    return item;
}

// Appends `count` rows from `next` on.
void append(QStandardItemModel& model, int& next, int count)
{
    QList<QStandardItem*> rows;
    for (int end = std::min(next + count, kRows); next < end; ++next)
        rows.append(record(next));
    model.invisibleRootItem()->appendRows(rows);
}

} // namespace

class TestFindBar : public QObject
{
    Q_OBJECT

private slots:
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
        QStandardItemModel source;
        RowFilterModel filter;
        QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        int next = 0;
        append(source, next, 1000);
        filter.setSourceModel(&source);
        filter.setFilterText(text);
        // More rows arrive while the earlier ones are still being examined.
        QSignalSpy counts(&filter, &RowFilterModel::countsChanged);
        connect(&filter, &RowFilterModel::countsChanged, &source, [&] {
            if (next < kRows)
                append(source, next, 7000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(next == kRows && !filter.isFiltering(), 30000);
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
        QStandardItemModel source;
        int next = 0;
        append(source, next, 400);
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
        source.removeRows(0, 2); // rows 0 and 1 (one of them Firefox's) go
        QVERIFY(filtered.wait());
        QCOMPARE(shown(), u"99 of 398, first file5"_s);
        source.clear(); // a new crawl
        QCOMPARE(shown(), u"0 of 0, first "_s);
    }

    void findBarInAWindow()
    {
        QStandardItemModel source;
        int next = 0;
        append(source, next, 40);
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
        QTest::keySequence(&window, QKeySequence::Find);
        QVERIFY(bar->field()->hasFocus());
        QTest::keyClicks(bar->field(), u"FILE3"_s); // file3, file30-39
        QTRY_COMPARE(state(), u"11 of 40 /  / -1"_s);
        append(source, next, 10); // file40-49 arrive; none matches
        list->selectionModel()->select(list->model()->index(1, 0), QItemSelectionModel::Select);
        list->selectionModel()->select(list->model()->index(3, 0), QItemSelectionModel::Select);
        list->selectionModel()->setCurrentIndex(list->model()->index(3, 0), QItemSelectionModel::NoUpdate);
        QTRY_COMPARE(state(), u"11 of 50 / file30 | export, file32 | export / 3"_s);
        // Escape closes it: every row again, the same two still selected.
        bar->field()->setFocus();
        QTest::keyClick(bar->field(), Qt::Key_Escape);
        QCOMPARE(state(), u"closed / file30 | export, file32 | export / 32"_s);
        // Opened again, it starts from the text it had.
        bar->findAction()->trigger();
        QCOMPARE(bar->field()->selectedText(), u"FILE3"_s);
        // A window that swaps its list's model keeps the filter in between.
        QStandardItemModel other;
        other.appendRow(record(3));
        bar->setListModel(&other);
        QTRY_COMPARE(state(), u"1 of 1 /  / -1"_s);
        bar->dismiss();
        QCOMPARE(list->model(), &other);
    }
};

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
