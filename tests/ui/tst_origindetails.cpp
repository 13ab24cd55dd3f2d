// The details pane in the crawl and drop windows: hidden until asked for, filled from the
// selected row's file and the Mac's databases, copyable, and plain where a database is broken.
#include "app/QuellmarkApp.h"
#include "core/RecordRoles.h"
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "drop/DropView.h"
#include "drop/FileInfo.h"
#include "tests/origin/MacVolumeFixture.h"
#include "tests/support/TestTree.h"
#include "ui/FindBar.h"
#include "ui/OriginDetailsController.h"
#include "ui/OriginDetailsPane.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

QModelIndex rowNamed(const RecordListView& list, const QString& name)
{
    return list.model()->match(list.model()->index(0, 0), NameRole, name, 1, Qt::MatchExactly).value(0);
}

// Selects the row named `name` and waits until the pane shows it.
bool select(QMainWindow& window, const QString& name)
{
    auto* list = window.findChild<RecordListView*>();
    QSignalSpy shown(window.findChild<OriginDetailsController*>(), &OriginDetailsController::shown);
    list->setCurrentIndex(rowNamed(*list, name));
    return list->currentIndex().isValid() && (!shown.isEmpty() || shown.wait(10000));
}

// The path the pane shows, or the pane's whole text when it shows no file.
QString shownPath(const OriginDetailsController& details)
{
    const QString text = details.pane()->text();
    const qsizetype at = text.indexOf(u"  Path: "_s);
    return at < 0 ? text : text.mid(at + 8, text.indexOf(u'\n', at) - at - 8);
}

// The pane's headings: its lines that do not start with a space.
QString headings(const QString& text)
{
    return text.split(u'\n').filter(QRegularExpression(u"^\\S"_s)).join(u'|');
}

// The path of the list's selected row, or nothing when no row is selected.
QString selectedPath(const RecordListView& list)
{
    const QModelIndexList rows = list.selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().data(PathRole).toString() : QString();
}

} // namespace

class TestOriginDetails : public QObject
{
    Q_OBJECT

private:
    TestTree m_tree;
    QString m_mac;

    // Crawls `folder` in `view`, shown and active, and opens its details pane with its key.
    bool crawlShown(CrawlerView& view, const QString& folder)
    {
        QSignalSpy finished(view.crawler(), &Crawler::crawlFinished);
        view.crawler()->startCrawl(folder, true);
        view.show();
        view.activateWindow();
        auto* details = view.findChild<OriginDetailsController*>();
        if (!finished.wait(10000) || !QTest::qWaitForWindowActive(&view) || !details->pane()->isHidden())
            return false;
        QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
        return !details->pane()->isHidden() && details->showAction()->isChecked();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        QCOMPARE(MacVolumeFixture::populate(m_tree, u"mac"_s), QString());
        m_mac = m_tree.path(u"mac"_s);
    }

    void crawlWindow()
    {
        CrawlerView view;
        auto* details = view.findChild<OriginDetailsController*>();
        QVERIFY(crawlShown(view, m_mac));
        QCOMPARE(view.list()->model()->rowCount(), 2);
        QVERIFY(select(view, u"report.pdf"_s));
        // Every attribute, by its Mac name, as text where it is text and in hex where not.
        const QByteArray plist = MacVolumeFixture::whereFromsPlist(
            {u"https://example.org/files/report.pdf"_s, u"https://example.org/downloads"_s});
        QCOMPARE(
            details->pane()->text(),
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
            "Attributes\n"
            "  com.apple.metadata:kMDItemWhereFroms (%5 bytes, hex): %6\n"
            "  com.apple.provenance (11 bytes, hex): 0102009210000000000000\n"
            "  com.apple.quarantine (57 bytes): 00c1;65a1b2c3;Safari;2A7B3C4D-1111-4222-8333-944455566677\n"
            "Mac Databases\n"
            "  %3\n"
            "  %2\n"
            "  %4\n"_s.arg(m_mac, MacVolumeFixture::eventsPath(m_mac + u"/Users/alice"_s),
                           MacVolumeFixture::execPolicyPath(m_mac),
                           MacVolumeFixture::eventsPath(m_mac + u"/Users/bob"_s),
                           QString::number(plist.size()), QString::fromLatin1(plist.toHex())));

        // Hidden again with the same key.
        QTest::keyClick(&view, Qt::Key_I, Qt::ControlModifier);
        QVERIFY(details->pane()->isHidden());
    }

    // In the application's crawl window, the pane shows the selected row or nothing at every step,
    // and Copy takes the focused widget's selected text where it has one, else the selected rows.
    void paneFollowsTheSelectedRow_data()
    {
        // Done with report.pdf shown; then mail.txt is clicked. "find:T" opens the find bar and
        // types T over its text, "esc" closes it, "click:N" clicks a row, "details" hides and
        // shows the pane, "crawl" crawls again, "copy:W" copies with W focused: the pane, the
        // find field or the list ("pane-": nothing selected in the pane).
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("find bar opened and closed") << QStringList{u"find:"_s, u"esc"_s};
        QTest::newRow("find bar open") << QStringList{u"copy:list"_s, u"find:"_s};
        QTest::newRow("filtered to the other row") << QStringList{u"find:mail"_s, u"copy:field"_s};
        QTest::newRow("refiltered away from the row")
            << QStringList{u"find:pdf"_s, u"click:report.pdf"_s, u"find:mail"_s};
        QTest::newRow("new crawl") << QStringList{u"copy:pane"_s, u"crawl"_s};
        QTest::newRow("new crawl under the find bar") << QStringList{u"find:"_s, u"crawl"_s};
        QTest::newRow("find bar, then details off and on")
            << QStringList{u"copy:pane-"_s, u"find:"_s, u"esc"_s, u"details"_s};
    }

    void paneFollowsTheSelectedRow()
    {
        QFETCH(QStringList, steps);
        QPointer<CrawlerView> view =
            qobject_cast<CrawlerView*>(QuellmarkApp::instance()->openWindow(u"crawler"_s));
        const auto closeIt = qScopeGuard([&] { delete view.data(); });
        QVERIFY(crawlShown(*view, m_mac));
        auto* details = view->findChild<OriginDetailsController*>();
        RecordListView& list = *view->list();
        for (const QString& step :
             QStringList{u"click:report.pdf"_s} + steps + QStringList{u"click:mail.txt"_s}) {
            if (step.startsWith(u"click:"_s)) { // as a user does
                QTRY_VERIFY(rowNamed(list, step.mid(6)).isValid());
                QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                                  list.visualRect(rowNamed(list, step.mid(6))).center());
                QTRY_VERIFY(selectedPath(list).endsWith(u'/' + step.mid(6)));
            } else if (step.startsWith(u"find:"_s)) {
                QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier); // selects the text, typed over
                QTest::keyClicks(QApplication::focusWidget(), step.mid(5));
            } else if (step == u"esc"_s) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            } else if (step == u"crawl"_s) {
                QSignalSpy finished(view->crawler(), &Crawler::crawlFinished);
                view->crawlFolder(QFile::encodeName(m_mac));
                QVERIFY(finished.wait(10000));
            } else if (step.startsWith(u"copy:"_s)) {
                QPlainTextEdit* pane = details->pane()->textView();
                QLineEdit* field = view->findChild<FindBar*>()->field();
                QWidget* focused = step.startsWith(u"copy:pane"_s) ? pane
                                   : step == u"copy:field"_s       ? static_cast<QWidget*>(field)
                                                                   : &list;
                focused->setFocus();
                QTRY_VERIFY(focused->hasFocus());
                pane->selectAll();
                field->selectAll();
                if (step == u"copy:pane-"_s)
                    pane->moveCursor(QTextCursor::End);
                QGuiApplication::clipboard()->clear();
                QTest::keySequence(view, QKeySequence::Copy);
                const QString expected = step == u"copy:pane"_s    ? details->pane()->text()
                                         : step == u"copy:field"_s ? field->text()
                                                                   : list.selectedExportTexts().join(u'\n');
                QVERIFY(!expected.isEmpty());
                QCOMPARE(QGuiApplication::clipboard()->text(), expected);
            } else {
                QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier);
                QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier);
            }
            QTRY_COMPARE_WITH_TIMEOUT(shownPath(*details), selectedPath(list), 10000);
        }
        QCOMPARE(selectedPath(list), m_mac + u"/Users/bob/mail.txt"_s);
    }

    // A copy elsewhere is linked once the user names the Mac volume.
    void dropWindowWithMacVolume()
    {
        QCOMPARE(MacVolumeFixture::copyReport(m_tree, u"elsewhere/copy.pdf"_s), QString());
        DropView view;
        auto* details = view.findChild<OriginDetailsController*>();
        details->showAction()->trigger();
        auto* files = new FileInfo;
        files->addFile(QUrl::fromLocalFile(m_tree.path(u"elsewhere/copy.pdf"_s)));
        view.setFileInfo(files);
        QVERIFY(select(view, u"copy.pdf"_s));
        QVERIFY(details->pane()->text().endsWith(
            u"Mac Databases\n  none found (choose one with Mac Volume…)\n"_s));
        QCOMPARE(headings(details->pane()->text()), u"File|Quarantine|Where From|Attributes|Mac Databases"_s);
        std::unique_ptr<QFileDialog> dialog(details->chooseMacRoot());
        QSignalSpy shown(details, &OriginDetailsController::shown);
        emit dialog->fileSelected(m_mac);
        QVERIFY(!shown.isEmpty() || shown.wait(10000));
        QCOMPARE(headings(details->pane()->text()),
                 u"File|Quarantine|Where From|Quarantine Event|Provenance Record|Attributes|Mac Databases"_s);
    }

    // Broken or planted databases: the pane says what it is, and the window never runs them.
    void brokenDatabaseGivesNotes_data()
    {
        QTest::addColumn<QString>("sql"); // run on alice's events database
        QTest::addColumn<QString>("headings");
        QTest::addColumn<QString>("note"); // ends the pane; @exec is ExecPolicy, @events alice's events
        QTest::newRow("ExecPolicy not a database")
            << QString() << u"File|Quarantine|Where From|Quarantine Event|Attributes|Mac Databases|Notes"_s
            << u"Notes\n  @exec: file is not a database\n"_s;
        QTest::newRow("an endless view")
            << u"ALTER TABLE LSQuarantineEvent RENAME TO stored; CREATE VIEW LSQuarantineEvent AS WITH "
               u"RECURSIVE "
               "c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c) SELECT s.* FROM c, stored s"_s
            << u"File|Quarantine|Where From|Attributes|Mac Databases|Notes"_s
            << u"  @events: LSQuarantineEvent is a view, not a table: not read\n"_s;
    }

    void brokenDatabaseGivesNotes()
    {
        QFETCH(QString, sql);
        QFETCH(QString, headings);
        QFETCH(QString, note);
        const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        QCOMPARE(MacVolumeFixture::brokenVolume(m_tree, name), QString());
        const QString volume = m_tree.path(name),
                      events = MacVolumeFixture::eventsPath(volume + u"/Users/alice"_s);
        if (!sql.isEmpty())
            QCOMPARE(MacVolumeFixture::execute(events, sql), QString());
        CrawlerView view;
        QVERIFY(crawlShown(view, volume));
        QVERIFY(select(view, u"report.pdf"_s));
        const QString text = view.findChild<OriginDetailsController*>()->pane()->text();
        QCOMPARE(::headings(text), headings);
        QVERIFY2(text.endsWith(note.replace(u"@exec"_s, MacVolumeFixture::execPolicyPath(volume))
                                   .replace(u"@events"_s, events)),
                 qPrintable(text.right(400)));
    }
};

int main(int argc, char* argv[])
{
    QuellmarkApp app(argc, argv); // its windows carry the menus, Copy among them
    app.setApplicationName(QStringLiteral("tst_origindetails"));
    TestOriginDetails test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_origindetails.moc"
