// The details pane in the crawl and drop windows: hidden until asked for, filled from the
// selected row's file and the Mac's databases, copyable, and plain where a database is broken.
#include "core/RecordRoles.h"
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "drop/DropView.h"
#include "drop/FileInfo.h"
#include "tests/origin/MacVolumeFixture.h"
#include "tests/support/TestTree.h"
#include "ui/OriginDetailsController.h"
#include "ui/OriginDetailsPane.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

// Selects the row named `name` and waits until the pane shows it.
bool select(QMainWindow& window, const QString& name)
{
    auto* details = window.findChild<OriginDetailsController*>();
    auto* list = window.findChild<RecordListView*>();
    QSignalSpy shown(details, &OriginDetailsController::shown);
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const QModelIndex index = list->model()->index(row, 0);
        if (index.data(NameRole).toString() == name) {
            list->setCurrentIndex(index);
            return !shown.isEmpty() || shown.wait(10000);
        }
    }
    return false;
}

// The path the pane shows, or the pane's whole text when it shows no file.
QString shownPath(const OriginDetailsController& details)
{
    const QString text = details.pane()->text();
    const qsizetype at = text.indexOf(u"  Path: "_s);
    return at < 0 ? text : text.mid(at + 8, text.indexOf(u'\n', at) - at - 8);
}

// The path of the list's selected row, or nothing when no row is selected.
QString selectedPath(const RecordListView& list)
{
    const QModelIndexList rows = list.selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().data(PathRole).toString() : QString();
}

// Clicks the row named `name`, as a user does.
bool click(RecordListView& list, const QString& name)
{
    for (int row = 0; row < list.model()->rowCount(); ++row) {
        const QModelIndex index = list.model()->index(row, 0);
        if (index.data(NameRole).toString() == name) {
            QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(index).center());
            return true;
        }
    }
    return false;
}

} // namespace

class TestOriginDetails : public QObject
{
    Q_OBJECT

private:
    TestTree m_tree;
    QString m_mac;

    void crawl(CrawlerView& view, const QString& folder)
    {
        QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
        view.crawler()->startCrawl(folder, true);
        QVERIFY(finished.wait(10000));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        QCOMPARE(MacVolumeFixture::populate(m_tree, u"mac"_s), QString());
        m_mac = m_tree.path(u"mac"_s);
    }

    void crawlWindow()
    {
        CrawlerView view;
        auto* details = view.findChild<OriginDetailsController*>();
        QVERIFY(details);
        QVERIFY(details->pane()->isHidden());
        crawl(view, m_mac);
        QCOMPARE(view.list()->model()->rowCount(), 2);

        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
        QVERIFY(!details->pane()->isHidden());
        QVERIFY(details->showAction()->isChecked());
        QVERIFY(select(view, u"report.pdf"_s));
        const QString events = MacVolumeFixture::eventsPath(m_mac + u"/Users/alice"_s);
        const QString execPolicy = MacVolumeFixture::execPolicyPath(m_mac);
        // Every attribute, by its Mac name, as text where it is text and in hex where not.
        const QByteArray plist = MacVolumeFixture::whereFromsPlist(
            {u"https://example.org/files/report.pdf"_s, u"https://example.org/downloads"_s});
        QString text = details->pane()->text();
        const qsizetype attributes = text.indexOf(u"Attributes\n"_s), after = text.indexOf(u"Mac Databases\n"_s);
        QVERIFY(attributes > 0 && after > attributes);
        QCOMPARE(text.mid(attributes, after - attributes).split(u'\n').mid(1, 3),
                 (QStringList{u"  com.apple.metadata:kMDItemWhereFroms (%1 bytes, hex): %2"_s.arg(plist.size()).arg(
                                  QString::fromLatin1(plist.toHex())),
                              u"  com.apple.provenance (11 bytes, hex): 0102009210000000000000"_s,
                              u"  com.apple.quarantine (57 bytes): 00c1;65a1b2c3;Safari;2A7B3C4D-1111-4222-8333-944455566677"_s}));
        text.remove(attributes, after - attributes);
        QCOMPARE(
            text,
            u"File\n"
            "  Path: %1/Users/alice/Downloads/report.pdf\n"
            "  Provenance: 0x0102009210000000000000\n"
            "Quarantine\n"
            "  Flags: 00c1 (0x0001, userApproved, 0x0080)\n"
            "  Time: 2024-01-12T21:44:35Z\n"
            "  Agent: Safari\n"
            "  Event ID: 2A7B3C4D-1111-4222-8333-944455566677\n"
            "Where From\n"
            "  https://example.org/files/report.pdf\n"
            "  https://example.org/downloads\n"
            "Quarantine Event\n"
            "  Data URL: https://example.org/files/report.pdf\n"
            "  Origin URL: https://example.org/downloads\n"
            "  Origin Title: Downloads\n"
            "  Agent Name: Safari\n"
            "  Agent Bundle ID: com.apple.Safari\n"
            "  Type: 0\n"
            "  Time: 2024-01-13T12:46:07.25Z\n"
            "  User: alice\n"
            "  Database: %2\n"
            "Provenance Record\n"
            "  pk: 4242\n"
            "  URL: file:///Applications/Tool.app/\n"
            "  Bundle ID: com.example.tool\n"
            "  Team ID: ABCDE12345\n"
            "  Signing ID: com.example.tool\n"
            "  cdhash: 5f3e0d1c2b3a49586776859403a2b1c0d9e8f7a6\n"
            "  Flags: 2\n"
            "  Time: 2023-11-14T22:13:19Z\n"
            "  Key Byte Order: little-endian\n"
            "  Database: %3\n"
            "Mac Databases\n"
            "  %3\n"
            "  %2\n"
            "  %4\n"_s.arg(m_mac, events, execPolicy, MacVolumeFixture::eventsPath(m_mac + u"/Users/bob"_s)));

        // Selectable and copyable as it stands.
        details->pane()->textView()->selectAll();
        details->pane()->textView()->copy();
        QCOMPARE(QApplication::clipboard()->text(), details->pane()->text());

        QVERIFY(select(view, u"mail.txt"_s));
        QVERIFY(details->pane()->text().contains(u"  Sender Address: carol@example.org\n"_s));
        QVERIFY(details->pane()->text().contains(u"  Key Byte Order: big-endian\n"_s));
        // Nothing selected: nothing shown.
        view.list()->clearSelection();
        QCOMPARE(details->pane()->text(), QString());
        // Hidden again with the same key.
        QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
        QVERIFY(details->pane()->isHidden());
    }

    void paneFollowsTheSelectedRow_data()
    {
        // What is done with report.pdf shown; then mail.txt is clicked.
        QTest::addColumn<QString>("findText");   // typed into the find bar; null: the bar stays closed
        QTest::addColumn<QString>("refindText"); // typed over it afterwards
        QTest::addColumn<bool>("closeFindBar");
        QTest::addColumn<bool>("crawlAgain");
        QTest::addColumn<bool>("toggleDetails");
        QTest::newRow("find bar opened and closed") << u""_s << QString() << true << false << false;
        QTest::newRow("find bar open") << u""_s << QString() << false << false << false;
        QTest::newRow("filtered to the other row") << u"mail"_s << QString() << false << false << false;
        QTest::newRow("refiltered away from the row") << u"pdf"_s << u"mail"_s << false << false << false;
        QTest::newRow("new crawl") << QString() << QString() << false << true << false;
        QTest::newRow("new crawl under the find bar") << u""_s << QString() << false << true << false;
        QTest::newRow("find bar, then details off and on") << u""_s << QString() << true << false << true;
    }

    void paneFollowsTheSelectedRow()
    {
        QFETCH(QString, findText);
        QFETCH(QString, refindText);
        QFETCH(bool, closeFindBar);
        QFETCH(bool, crawlAgain);
        QFETCH(bool, toggleDetails);

        CrawlerView view;
        crawl(view, m_mac);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        auto* details = view.findChild<OriginDetailsController*>();
        QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
        RecordListView& list = *view.list();
        QTRY_VERIFY(click(list, u"report.pdf"_s));
        QTRY_VERIFY_WITH_TIMEOUT(shownPath(*details).endsWith(u"/report.pdf"_s), 10000);

        // The pane shows the selected row or nothing, at every step.
        if (!findText.isNull()) {
            QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier);
            QTest::keyClicks(QApplication::focusWidget(), findText);
            QTRY_COMPARE_WITH_TIMEOUT(shownPath(*details), selectedPath(list), 10000);
        }
        if (!refindText.isNull()) {
            QTRY_VERIFY(click(list, u"report.pdf"_s));
            QTest::keyClick(&view, Qt::Key_F, Qt::ControlModifier); // selects the text, typed over
            QTest::keyClicks(QApplication::focusWidget(), refindText);
            QTRY_COMPARE_WITH_TIMEOUT(shownPath(*details), selectedPath(list), 10000);
        }
        if (closeFindBar)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        if (crawlAgain) {
            QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
            view.crawlFolder(QFile::encodeName(m_mac));
            QVERIFY(finished.wait(10000));
        }
        if (toggleDetails) {
            QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
            QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
        }
        QTRY_COMPARE_WITH_TIMEOUT(shownPath(*details), selectedPath(list), 10000);

        QTRY_VERIFY(click(list, u"mail.txt"_s));
        QCOMPARE(selectedPath(list), m_mac + u"/Users/bob/mail.txt"_s);
        QTRY_COMPARE_WITH_TIMEOUT(shownPath(*details), selectedPath(list), 10000);
    }

    void dropWindowWithMacVolume()
    {
        QCOMPARE(MacVolumeFixture::copyReport(m_tree, u"elsewhere/copy.pdf"_s), QString());
        const QString copy = m_tree.path(u"elsewhere/copy.pdf"_s);
        DropView view;
        auto* details = view.findChild<OriginDetailsController*>();
        details->showAction()->trigger();
        auto* files = new FileInfo;
        files->addFile(QUrl::fromLocalFile(copy));
        view.setFileInfo(files);
        QVERIFY(select(view, u"copy.pdf"_s));
        QVERIFY(!details->pane()->text().contains(u"Quarantine Event"_s));
        QVERIFY(details->pane()->text().contains(
            u"Mac Databases\n  none found (choose one with Mac Volume…)\n"_s));

        QFileDialog* dialog = details->chooseMacRoot();
        QSignalSpy shown(details, &OriginDetailsController::shown);
        emit dialog->fileSelected(m_mac);
        QVERIFY(!shown.isEmpty() || shown.wait(10000));
        QVERIFY(details->pane()->text().contains(u"  Origin Title: Downloads\n"_s));
        QVERIFY(details->pane()->text().contains(u"  Key Byte Order: little-endian\n"_s));
        dialog->close();
    }

    void brokenDatabaseGivesNotes()
    {
        QCOMPARE(MacVolumeFixture::brokenVolume(m_tree, u"broken"_s, true), QString());
        const QString volume = m_tree.path(u"broken"_s);

        CrawlerView view;
        crawl(view, volume);
        auto* details = view.findChild<OriginDetailsController*>();
        details->showAction()->trigger();
        QVERIFY(select(view, u"report.pdf"_s));
        const QString text = details->pane()->text();
        QVERIFY(text.contains(u"Quarantine Event\n"_s));
        QVERIFY(!text.contains(u"Provenance Record\n"_s));
        QVERIFY(text.endsWith(
            u"Notes\n  %1: file is not a database\n"_s.arg(MacVolumeFixture::execPolicyPath(volume))));
    }

    // A database planted to loop forever: the pane says what it is, and the window never runs it.
    void plantedDatabaseHoldsNothingUp()
    {
        QCOMPARE(MacVolumeFixture::brokenVolume(m_tree, u"planted"_s, true), QString());
        const QString volume = m_tree.path(u"planted"_s);
        const QString events = MacVolumeFixture::eventsPath(volume + u"/Users/alice"_s);
        QCOMPARE(MacVolumeFixture::execute(events, u"ALTER TABLE LSQuarantineEvent RENAME TO stored; "
                                                   "CREATE VIEW LSQuarantineEvent AS WITH RECURSIVE c(n) AS "
                                                   "(SELECT 1 UNION ALL SELECT n + 1 FROM c) SELECT s.* FROM c, stored s"_s),
                 QString());
        CrawlerView view;
        crawl(view, volume);
        auto* details = view.findChild<OriginDetailsController*>();
        details->showAction()->trigger();
        QVERIFY(select(view, u"report.pdf"_s));
        QVERIFY(!details->pane()->text().contains(u"Quarantine Event\n"_s));
        QVERIFY2(details->pane()->text().contains(u"%1: LSQuarantineEvent is a view, not a table"_s.arg(events)),
                 qPrintable(details->pane()->text()));
    }
};

QTEST_MAIN(TestOriginDetails)
#include "tst_origindetails.moc"
