#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "crawl/FileRow.h"
#include "tests/support/TestTree.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestCrawlerView : public QObject
{
    Q_OBJECT

    TestTree m_tree; // two files with provenance, one with only a quarantine value

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"QuellmarkTest"_s);
        QSettings().clear();
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        m_tree.setProvenance(m_tree.file(u"f0"_s), "\x01");
        m_tree.setProvenance(m_tree.file(u"f1"_s), "\x02");
        m_tree.setQuarantine(m_tree.file(u"quarantined only"_s), "0083;1;Browser;2");
    }

    void ctrlGIsThisWindows()
    {
        QMainWindow other; // with its own Ctrl+G, as the main window has
        QAction* otherLoad = other.addAction(u"other"_s);
        otherLoad->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
        QSignalSpy otherTriggered(otherLoad, &QAction::triggered);
        CrawlerView view;
        view.show();
        other.show();
        for (QWidget* window : {static_cast<QWidget*>(&other), static_cast<QWidget*>(&view)}) {
            window->activateWindow(); // Ctrl+G pressed in each window must do only its own
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keyClick(window, Qt::Key_G, Qt::ControlModifier);
        }
        QCOMPARE(otherTriggered.count(), 1);
        QList<QFileDialog*> dialogs;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
                dialogs.append(dialog);
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs.first()->fileMode(), QFileDialog::Directory);
        QVERIFY(dialogs.first()->filter().testFlag(QDir::Hidden));
    }

    void crawlsWithTheSwitchAtThePress()
    {
        QVERIFY(!CrawlerView().showQuarantine()); // the preference is read, never written
        QSettings().setValue(u"showQuarCrawler"_s, true);
        CrawlerView view;
        QAbstractItemModelTester tester(view.crawler(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
        QFileDialog* dialog = view.chooseFolder(); // with the switch on, as read
        view.findChild<QCheckBox*>()->click();
        QVERIFY(!view.showQuarantine());
        emit dialog->fileSelected(m_tree.root());
        QVERIFY(finished.wait());
        QCOMPARE(QSettings().value(u"showQuarCrawler"_s), QVariant(true));
        QCOMPARE(view.filePathText(), m_tree.root());
        QCOMPARE(view.countText(), u"3 files found"_s); // the quarantine-only file too
        QVERIFY(view.statusText().startsWith(u"Finished: 3 entries examined · "_s));

        auto* row = qobject_cast<FileRow*>(view.list()->itemDelegate());
        QVERIFY(row);
        QAbstractItemModel* model = view.list()->model();
        const QModelIndex quarantined =
            model->match(model->index(0, 0), NameRole, u"quarantined only"_s).value(0);
        QCOMPARE(row->pieces(quarantined),
                 QStringList(
                     {u"quarantined only"_s, {}, u"🔸 Browser"_s, m_tree.root() + u"/quarantined%20only"_s}));
        for (int i = 0; i < model->rowCount(); ++i) // what is shown is what is copied
            QCOMPARE(row->pieces(model->index(i, 0)).join(u" | "_s),
                     model->index(i, 0).data(ExportTextRole).toString());
    }
};

QTEST_MAIN(TestCrawlerView)
#include "tst_crawlerview.moc"
