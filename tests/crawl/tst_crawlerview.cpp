#include "crawl/CrawlQueue.h"
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "crawl/FileRow.h"
#include "tests/crawl/CrawlFixture.h"
#include "ui/CustomizableToolBar.h"
#include "ui/RecordListView.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int kTimeout = 30000;

QList<QFileDialog*> openFileDialogs()
{
    QList<QFileDialog*> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
            dialogs.append(dialog);
    }
    return dialogs;
}

void closeFileDialogs()
{
    for (QFileDialog* dialog : openFileDialogs())
        dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void crawl(CrawlerView& view, const QString& folder, bool showQuarantine)
{
    QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
    view.crawler()->startCrawl(folder, showQuarantine);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
}

} // namespace

class TestCrawlerView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void freshWindow_data();
    void freshWindow();
    void switchNeverWritesThePreference();
    void toolbarItems();
    void ctrlGChoosesAFolderForThisWindow();
    void confirmedFolderIsCrawledWithTheSwitchAtThePress();
    void cancelledDialogChangesNothing();
    void rowPieces_data();
    void rowPieces();
    void copyInListOrder();
    void countAndStatusFollowTheCrawl();
    void stopButton();
    void folderThatCannotBeRead();
    void saveWithEmptyListWritesNothing();
    void closingWhileCrawling();
};

void TestCrawlerView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("QuellmarkTest"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_crawlerview"));
}

void TestCrawlerView::init()
{
    QSettings().clear();
}

void TestCrawlerView::cleanup()
{
    closeFileDialogs();
    crawlQueue()->waitForDone();
    QCoreApplication::processEvents();
    CrawlFixture::setRegistered(false);
}

void TestCrawlerView::freshWindow_data()
{
    QTest::addColumn<QVariant>("preference");
    QTest::addColumn<bool>("switchOn");
    QTest::newRow("preference absent") << QVariant() << false;
    QTest::newRow("preference true") << QVariant(true) << true;
    QTest::newRow("preference false") << QVariant(false) << false;
}

void TestCrawlerView::freshWindow()
{
    QFETCH(QVariant, preference);
    QFETCH(bool, switchOn);
    if (preference.isValid())
        QSettings().setValue(QStringLiteral("showQuarCrawler"), preference);
    CrawlerView view;
    QAbstractItemModelTester tester(view.crawler(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(view.showQuarantine(), switchOn);
    QCOMPARE(view.findChild<QCheckBox*>()->text(), QStringLiteral("Show Quarantine"));
    QCOMPARE(view.filePathText(), QString());
    QCOMPARE(view.countText(), QStringLiteral("0 files found"));
    QCOMPARE(view.statusText(), QString());
    QCOMPARE(view.list()->model()->rowCount(), 0);
    QVERIFY(view.list()->selectionMode() == QAbstractItemView::ExtendedSelection);
    QVERIFY(view.list()->uniformItemSizes());
    QCOMPARE(view.windowTitle(), QStringLiteral("Crawl Folder"));
}

void TestCrawlerView::switchNeverWritesThePreference()
{
    QSettings().setValue(QStringLiteral("showQuarCrawler"), true);
    {
        CrawlerView view;
        QVERIFY(view.showQuarantine());
        view.findChild<QCheckBox*>()->click();
        QVERIFY(!view.showQuarantine());
    }
    QCOMPARE(QSettings().value(QStringLiteral("showQuarCrawler")), QVariant(true));
    CrawlerView reopened;
    QVERIFY(reopened.showQuarantine());
}

void TestCrawlerView::toolbarItems()
{
    CrawlerView view;
    CustomizableToolBar* bar = view.toolBar();
    QCOMPARE(bar->identifier(), QStringLiteral("ContentView.toolbar"));
    QCOMPARE(bar->itemIdentifiers(),
             QStringList({QStringLiteral("loadfolder"), QStringLiteral("writefolder")}));
    QAction* load = bar->item(QStringLiteral("loadfolder"));
    QCOMPARE(load->text(), QStringLiteral("Load Folder"));
    QCOMPARE(load->toolTip(), QStringLiteral("Load details from a folder"));
    QCOMPARE(load->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));
    QCOMPARE(load->shortcutContext(), Qt::WindowShortcut);
    QVERIFY(load->isVisible());
    QAction* write = bar->item(QStringLiteral("writefolder"));
    QCOMPARE(write->text(), QStringLiteral("Save Folder to CSV"));
    QCOMPARE(write->toolTip(), QStringLiteral("Write results to a CSV file"));
    QVERIFY(write->shortcut().isEmpty());
    QVERIFY(write->isVisible());
}

void TestCrawlerView::ctrlGChoosesAFolderForThisWindow()
{
    // Another window with its own Ctrl+G, as the main window has.
    QMainWindow other;
    QAction* otherLoad = other.addAction(QStringLiteral("other"));
    otherLoad->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    otherLoad->setShortcutContext(Qt::WindowShortcut);
    QSignalSpy otherTriggered(otherLoad, &QAction::triggered);
    other.show();

    CrawlerView view;
    view.show();
    view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);

    const QList<QFileDialog*> dialogs = openFileDialogs();
    QCOMPARE(dialogs.size(), 1);
    QFileDialog* dialog = dialogs.first();
    QCOMPARE(otherTriggered.count(), 0);
    QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
    QVERIFY(dialog->testOption(QFileDialog::ShowDirsOnly));
    QVERIFY(dialog->filter().testFlag(QDir::Hidden));
    QCOMPARE(dialog->windowModality(), Qt::NonModal);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
}

void TestCrawlerView::confirmedFolderIsCrawledWithTheSwitchAtThePress()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const CrawlFixture fixture(tree);
    CrawlerView view;
    QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
    view.setShowQuarantine(true);
    QFileDialog* dialog = view.chooseFolder();
    view.setShowQuarantine(false);
    emit dialog->fileSelected(tree.root());
    QCOMPARE(view.filePathText(), tree.root());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);

    QStringList rows;
    for (const Crawled& record : view.crawler()->crawlList())
        rows.append(record.name() + QLatin1Char('|') + record.provenanceID() + QLatin1Char('|') +
                    record.quarantineApp() + QLatin1Char('|') + record.path());
    QCOMPARE(rows, fixture.expectedRows(true, false));
    QCOMPARE(view.countText(), QStringLiteral("%1 files found").arg(rows.size()));
}

void TestCrawlerView::cancelledDialogChangesNothing()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("a")), "\x01");
    CrawlerView view;
    crawl(view, tree.root(), false);
    QCOMPARE(view.list()->model()->rowCount(), 1);

    QPointer<QFileDialog> dialog = view.chooseFolder();
    dialog->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.isNull());
    QCOMPARE(view.filePathText(), tree.root());
    QCOMPARE(view.list()->model()->rowCount(), 1);
    QCOMPARE(view.countText(), QStringLiteral("1 files found"));
}

void TestCrawlerView::rowPieces_data()
{
    QTest::addColumn<QByteArray>("provenance");
    QTest::addColumn<QByteArray>("quarantine");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("provenance only") << QByteArray("\x01") << QByteArray()
                                     << QStringList{QStringLiteral("❓ 0x01"), QString()};
    QTest::newRow("quarantine only") << QByteArray() << QByteArray("0083;1;Browser;2")
                                     << QStringList{QString(), QStringLiteral("🔸 Browser")};
    QTest::newRow("both") << QByteArray("\x02") << QByteArray("0083;1")
                          << QStringList{QStringLiteral("❓ 0x02"), QStringLiteral("🔸 unknown")};
}

void TestCrawlerView::rowPieces()
{
    QFETCH(QByteArray, provenance);
    QFETCH(QByteArray, quarantine);
    QFETCH(QStringList, shown);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString file = tree.file(QStringLiteral("one file"));
    if (!provenance.isEmpty())
        tree.setProvenance(file, provenance);
    if (!quarantine.isEmpty())
        tree.setQuarantine(file, quarantine);
    CrawlerView view;
    crawl(view, tree.root(), true);
    QCOMPARE(view.list()->model()->rowCount(), 1);

    auto* row = qobject_cast<FileRow*>(view.list()->itemDelegate());
    QVERIFY(row);
    QVERIFY(!row->isSearching());
    QCOMPARE(row->rowFont().pointSizeF(), 12.0);
    QVERIFY(row->rowFont().fixedPitch());
    QCOMPARE(row->rowFont().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    const QString path = tree.root() + QStringLiteral("/one%20file");
    QCOMPARE(row->pieces(view.list()->model()->index(0, 0)),
             QStringList({QStringLiteral("one file"), shown.at(0), shown.at(1), path}));
}

void TestCrawlerView::copyInListOrder()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    for (int i = 0; i < 4; ++i)
        tree.setProvenance(tree.file(QStringLiteral("f%1").arg(i)), QByteArray(1, char(i + 1)));
    CrawlerView view;
    crawl(view, tree.root(), false);
    QAbstractItemModel* model = view.list()->model();
    QCOMPARE(model->rowCount(), 4);

    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    view.list()->copySelection();
    QCOMPARE(view.list()->selectedExportTexts(), QStringList());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    QItemSelectionModel* selection = view.list()->selectionModel();
    selection->select(model->index(3, 0), QItemSelectionModel::Select);
    selection->select(model->index(0, 0), QItemSelectionModel::Select);
    selection->select(model->index(2, 0), QItemSelectionModel::Select);
    const QStringList expected{model->index(0, 0).data(ExportTextRole).toString(),
                               model->index(2, 0).data(ExportTextRole).toString(),
                               model->index(3, 0).data(ExportTextRole).toString()};
    QCOMPARE(view.list()->selectedExportTexts(), expected);
    QVERIFY(expected.first().endsWith(QStringLiteral(" |  | ") + view.crawler()->crawlList().at(0).path()));
    view.list()->copySelection();
    QCOMPARE(QGuiApplication::clipboard()->text(), expected.join(QLatin1Char('\n')));

    // A new crawl makes new records: the old selection matches no row.
    crawl(view, tree.root(), false);
    QCOMPARE(view.list()->selectedExportTexts(), QStringList());
}

void TestCrawlerView::countAndStatusFollowTheCrawl()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("a")), "\x01");
    tree.setProvenance(tree.file(QStringLiteral("sub/b")), "\x02");
    tree.file(QStringLiteral("sub/c"));
    CrawlerView view;
    QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
    view.crawler()->startCrawl(tree.root(), false);
    QCOMPARE(view.countText(), QStringLiteral("0 files found"));
    QVERIFY(view.statusText().startsWith(QStringLiteral("Crawling…")));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kTimeout);
    QCOMPARE(view.countText(), QStringLiteral("2 files found"));
    QVERIFY2(view.statusText().startsWith(
                 QStringLiteral("Finished: 4 entries examined · 0 folders could not be read · ")),
             qPrintable(view.statusText()));
    QVERIFY(view.statusText().endsWith(QStringLiteral(" s")));
    QVERIFY(view.findChild<QPushButton*>()->isHidden());
}

void TestCrawlerView::stopButton()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    for (int i = 0; i < 200; ++i)
        tree.setProvenance(tree.file(QStringLiteral("d%1/f").arg(i)), "\x01");
    CrawlerView view;
    view.show();
    auto* stop = view.findChild<QPushButton*>();
    QVERIFY(stop->isHidden());
    view.crawler()->startCrawl(tree.root(), false);
    QVERIFY(stop->isVisible());
    QCOMPARE(stop->text(), QStringLiteral("Stop"));
    stop->click();
    QVERIFY(stop->isHidden());
    QVERIFY(view.statusText().startsWith(QStringLiteral("Stopped: ")));
    const int shown = view.list()->model()->rowCount();
    crawlQueue()->waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(view.list()->model()->rowCount(), shown);
    QCOMPARE(view.countText(), QStringLiteral("%1 files found").arg(shown));
}

void TestCrawlerView::folderThatCannotBeRead()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    CrawlerView view;
    crawl(view, tree.path(QStringLiteral("missing")), false);
    QCOMPARE(view.statusText(), QStringLiteral("The folder could not be read: No such file or directory"));
    QCOMPARE(view.filePathText(), tree.path(QStringLiteral("missing")));
    QCOMPARE(view.countText(), QStringLiteral("0 files found"));
}

void TestCrawlerView::saveWithEmptyListWritesNothing()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    CrawlerView view;
    crawl(view, tree.root(), false);
    view.saveCSV();
    const QList<QFileDialog*> dialogs = openFileDialogs();
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs.first()->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(dialogs.first()->selectedFiles().value(0).endsWith(view.crawler()->proposedCsvName()));

    QString told;
    QTimer::singleShot(0, this, [&told] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->accept();
        }
    });
    const QString destination = tree.path(QStringLiteral("out.csv"));
    emit dialogs.first()->fileSelected(destination);
    QVERIFY2(told.contains(QStringLiteral("nothing was written")), qPrintable(told));
    QVERIFY(!QFile::exists(destination));
}

void TestCrawlerView::closingWhileCrawling()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    for (int i = 0; i < 300; ++i) {
        for (int f = 0; f < 10; ++f)
            tree.setProvenance(tree.file(QStringLiteral("d%1/f%2").arg(i).arg(f)), "\x01");
    }
    for (int round = 0; round < 3; ++round) {
        QPointer<CrawlerView> view = new CrawlerView;
        view->setAttribute(Qt::WA_DeleteOnClose);
        view->show();
        view->crawler()->startCrawl(tree.root(), true);
        if (round > 0)
            QTRY_VERIFY_WITH_TIMEOUT(view->list()->model()->rowCount() > 0, kTimeout);
        view->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(view.isNull());
        // The walk ends by itself and must not reach the freed model (the sanitizer build
        // would fail here).
        crawlQueue()->waitForDone();
        QCoreApplication::processEvents();
    }
}

QTEST_MAIN(TestCrawlerView)
#include "tst_crawlerview.moc"
