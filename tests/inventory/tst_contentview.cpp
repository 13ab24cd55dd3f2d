#include "core/ProvenanceRegistry.h"
#include "inventory/ContentView.h"
#include "inventory/MessageRow.h"
#include "inventory/Provener.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"
#include "ui/CustomizableToolBar.h"
#include "ui/EmptyListHint.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QFontDatabase>
#include <QMenu>
#include <QSettings>
#include <QtTest>

using namespace Qt::StringLiterals;

// The application list: its model (load, registry, CSV) and the main window that shows it.
class TestContentView : public QObject
{
    Q_OBJECT

    TestTree m_tree; // applications with either attribute, both or neither: see initTestCase

    // The count and status lines, the empty list's hint, each row's pieces, the first row's copied text.
    static QString shownText(const ContentView& view)
    {
        const auto* hint = view.findChild<EmptyListHint*>(u"emptyListHint"_s);
        QStringList lines{view.countText(), view.statusText(), hint->isShown() ? hint->text() : QString()};
        auto* delegate = qobject_cast<MessageRow*>(view.list()->itemDelegate());
        for (int row = 0; row < view.list()->model()->rowCount(); ++row)
            lines << delegate->pieces(view.list()->model()->index(row, 0)).join(u'|');
        return (lines << view.list()->model()->index(0, 0).data(ExportTextRole).toString()).join(u'\n');
    }

    // The registry's size, then the application each test ID names.
    QString registered() const
    {
        QString shown = QString::number(provenanceApps().size());
        for (const QString& id : {u"0x0a0b"_s, u"0x0c"_s})
            shown += u' ' + provenanceApps().lookup(id).value_or(u"-"_s).remove(m_tree.root() + u'/');
        return shown;
    }

    // Each toolbar item's title, + or - for its button shown and its toggle ticked, ! for a missing
    // icon or a button carrying a key (which would make the command's key ambiguous); then the
    // bar's place and the place it keeps.
    static QString barState(const ContentView& view)
    {
        CustomizableToolBar* bar = view.toolBar();
        QString state;
        const QList<QAction*> toggles = bar->customizeMenu()->actions();
        for (int i = 0; i < toggles.size(); ++i) {
            const QString id = bar->itemIdentifiers().at(i);
            state +=
                toggles.at(i)->text() + (bar->isItemShown(id) ? u'+' : u'-') +
                (toggles.at(i)->isChecked() ? u'+' : u'-') +
                (bar->item(id)->icon().isNull() || !bar->button(id)->shortcut().isEmpty() ? u"! "_s : u" "_s);
        }
        return state + QString::number(view.toolBarArea(bar)) + QString::number(bar->savedArea());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"QuellmarkTest"_s);
        QCoreApplication::setApplicationName(u"tst_contentview"_s);
        QSettings().clear();
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        // Name, provenance in hex, quarantine; "-" leaves an attribute unset. Twin.app carries A.app's ID.
        for (const auto& [name, provenance, quarantine] :
             {std::tuple("A.app", "0a0b", "-"),
              {"B.app", "-", "0083;1;Mail;2"},
              {"C.app", "0c", "0083;1;Browser;2"},
              {"Down, loaded.app", "-", "0083;1;Navigateur Web \xc3\xa9;2"},
              {"Twin.app", "0a0b", "-"},
              {"Empty.app", "", ""},
              {"Plain.app", "-", "-"}}) {
            const QString app = m_tree.folder(QString::fromUtf8(name));
            if (provenance != "-"_ba)
                m_tree.setProvenance(app, QByteArray::fromHex(provenance));
            if (quarantine != "-"_ba)
                m_tree.setQuarantine(app, quarantine);
        }
    }

    // Its commands open the other windows; hidden buttons stay hidden; Reset Toolbar shows them all.
    void toolbar()
    {
        const QString hidden = u"Load Apps++ Crawl Folder++ Drop Files-- Write CSV-- 44"_s;
        {
            ContentView view;
            QVERIFY(view.list()->selectionMode() == QAbstractItemView::ExtendedSelection);
            QSignalSpy requests(&view, &ContentView::openWindowRequested);
            for (const QString& id : view.toolBar()->itemIdentifiers())
                if (id != u"getapps"_s && id != u"writecsv"_s)
                    view.toolBar()->item(id)->trigger();
            QCOMPARE(requests.count(), 2);
            QCOMPARE(requests.at(0).at(0).toString() + u' ' + requests.at(1).at(0).toString(),
                     u"crawler dropview"_s);
            view.toolBar()->setItemShown(u"getfiles"_s, false);
            view.toolBar()->setItemShown(u"writecsv"_s, false);
            QCOMPARE(barState(view), hidden);
        }
        ContentView reopened;
        CustomizableToolBar* bar = reopened.toolBar();
        QCOMPARE(barState(reopened), hidden);
        bar->customizeMenu()->actions().at(2)->trigger(); // its toggle shows the button again
        QCOMPARE(barState(reopened), u"Load Apps++ Crawl Folder++ Drop Files++ Write CSV-- 44"_s);
        // Reset Toolbar: every button, the bar shown on top, and so it stays.
        bar->hide();
        reopened.addToolBar(Qt::LeftToolBarArea, bar);
        bar->rememberArea();
        bar->resetAction()->trigger();
        QVERIFY(!bar->isHidden());
        const QString all = u"Load Apps++ Crawl Folder++ Drop Files++ Write CSV++ 44"_s;
        QCOMPARE(barState(reopened), all);
        QCOMPARE(barState(ContentView()), all);
    }

    void ctrlGLoadsAndStatusLine_data()
    {
        QTest::addColumn<QStringList>("apps");   // the folders the search prints
        QTest::addColumn<QByteArray>("tool");    // run by sh after printing them
        QTest::addColumn<QString>("shown");      // see shownText(); ROOT: the tree
        QTest::addColumn<QString>("registered"); // see registered()
        QTest::addColumn<QString>("csv");        // what Write CSV writes
        const QString a = u"\nROOT/A.app|✅|0x0a0b|⭕️"_s;
        // Listed with either attribute, in path order; a later path keeps a shared ID.
        QTest::newRow("search went well: provenance, quarantine, both")
            << QStringList{u"Twin.app"_s,  u"Plain.app"_s,        u"Gone.app"_s, u"C.app"_s,
                           u"Empty.app"_s, u"Down, loaded.app"_s, u"A.app"_s,    u"B.app"_s}
            << QByteArray()
            << u"5 apps found\n\n"_s + a +
                   u"\nROOT/B.app|⭕️|🔸|Mail\nROOT/C.app|✅|0x0c|🔸|Browser\n"
                   u"ROOT/Down, loaded.app|⭕️|🔸|Navigateur Web é\nROOT/Twin.app|✅|0x0a0b|⭕️\n"
                   u"ROOT/A.app | 0x0a0b | no app"_s
            << u"2 Twin.app C.app"_s
            << u"Filepath,Provenance ID,Quarantine App\nROOT/A.app,0x0a0b,no app\nROOT/B.app,no ID,Mail\n"
               u"ROOT/C.app,0x0c,Browser\n\"ROOT/Down, loaded.app\",no ID,Navigateur Web é\n"
               u"ROOT/Twin.app,0x0a0b,no app\n"_s;
        // What was found stays registered, also when the search failed later.
        QTest::newRow("search failed")
            << QStringList{u"A.app"_s} << QByteArray("exit 7")
            << u"1 apps found\nThe application search failed: /bin/sh exited with status 7. The list is "
               u"incomplete.\n"_s +
                   a + u"\nROOT/A.app | 0x0a0b | no app"_s
            << u"1 A.app -"_s << u"Filepath,Provenance ID,Quarantine App\nROOT/A.app,0x0a0b,no app\n"_s;
        QTest::newRow("a result not UTF-8")
            << QStringList{u"A.app"_s} << QByteArray("printf '/\\377\\n/\\376\\n'")
            << u"1 apps found\n2 application path(s) could not be read and are not listed.\n"_s + a +
                   u"\nROOT/A.app | 0x0a0b | no app"_s
            << u"1 A.app -"_s << u"Filepath,Provenance ID,Quarantine App\nROOT/A.app,0x0a0b,no app\n"_s;
        QTest::newRow("found, none with attributes")
            << QStringList{u"Plain.app"_s} << QByteArray()
            << u"0 apps found\n\n1 application was examined; it carries neither attribute.\n"_s << u"0 - -"_s
            << u"nothing to write"_s;
    }

    void ctrlGLoadsAndStatusLine()
    {
        // The list keeps what the search found, and the line under the count says what is missing.
        QFETCH(QStringList, apps);
        QFETCH(QByteArray, tool);
        QFETCH(QString, shown);
        QFETCH(QString, registered);
        QFETCH(QString, csv);
        ContentView view;
        Provener* model = view.providerer();
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(shownText(view), u"0 apps found\n\nPress Load Apps to list the installed applications\n"_s);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QStringList arguments{m_tree.file(u"tool.sh"_s, "printf '%s\\n' \"$@\"\n" + tool + '\n')};
        for (const QString& app : apps)
            arguments << m_tree.path(app);
        model->setDiscovery(ApplicationDiscovery(u"/bin/sh"_s, arguments));
        QSignalSpy finished(model, &Provener::loadFinished);
        QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(view.statusText(), u"Loading applications…"_s);
        QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier); // while loading: no second load
        QVERIFY(finished.wait(10000));
        QCOMPARE(shownText(view), shown.replace(u"ROOT"_s, m_tree.root()));
        QCOMPARE(this->registered(), registered);
        QVERIFY(model->rowCount() == 0 ||
                model->index(0).data(IdRole).toUuid() == model->proverList().at(0).id);
        const QString saved = m_tree.path(u"apps.csv"_s);
        QFile::remove(saved);
        const bool written = model->writeCSV(saved).status == CsvWriteResult::Written;
        QCOMPARE(written ? QString::fromUtf8(ToolRun::contents(QFile::encodeName(saved)))
                         : u"nothing to write"_s,
                 csv.replace(u"ROOT"_s, m_tree.root()));
        const QFont font = qobject_cast<MessageRow*>(view.list()->itemDelegate())->rowFont();
        QVERIFY(font.fixedPitch() && font.pointSizeF() == 12.0);
        QCOMPARE(font.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        // A later search that goes well clears the line, and replaces the list in one reset.
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        model->setDiscovery(ApplicationDiscovery(u"/bin/echo"_s, {m_tree.path(u"C.app"_s)}));
        QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(finished.wait(10000));
        QCOMPARE(
            shownText(view),
            u"1 apps found\n\n\n%1/C.app|✅|0x0c|🔸|Browser\n%1/C.app | 0x0c | Browser"_s.arg(m_tree.root()));
        QVERIFY(!finished.wait(200));
        QCOMPARE(QList<qsizetype>({finished.count(), reset.count()}), QList<qsizetype>({2, 1}));
    }

    void loadsFromTwoModelsNeverMixTheRegistry()
    {
        // Window A sees A.app, window B sees C.app; whichever load runs last owns the whole
        // registry, never a mixture of the two.
        for (int round = 0; round < 5; ++round) {
            Provener a, b;
            a.setDiscovery(ApplicationDiscovery(u"/bin/echo"_s, {m_tree.path(u"A.app"_s)}));
            b.setDiscovery(ApplicationDiscovery(u"/bin/echo"_s, {m_tree.path(u"C.app"_s)}));
            QSignalSpy doneA(&a, &Provener::loadFinished), doneB(&b, &Provener::loadFinished);
            a.loadApps();
            b.loadApps();
            QTRY_VERIFY_WITH_TIMEOUT(doneA.count() == 1 && doneB.count() == 1, 10000);
            QVERIFY2(registered() == u"1 A.app -"_s || registered() == u"1 - C.app"_s,
                     qPrintable(registered()));
        }
    }

    void modelDestroyedDuringLoad()
    {
        // An earlier whole load, then a window closed while its own load runs.
        ApplicationInventory::load(QStringList{m_tree.path(u"A.app"_s)});
        auto model = std::make_unique<Provener>();
        model->setDiscovery(ApplicationDiscovery(
            u"/bin/sh"_s, {u"-c"_s, u"echo \"$0\"; sleep 5"_s, m_tree.path(u"C.app"_s)}));
        model->loadApps();
        model.reset();
        // The cancelled load kills its tool at once instead of waiting five seconds.
        QElapsedTimer timer;
        timer.start();
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(timer.elapsed() < 4000);
        QCoreApplication::processEvents();
        // The registry still holds the earlier load, whole.
        QCOMPARE(registered(), u"1 A.app -"_s);
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
