#include "core/ProvenanceRegistry.h"
#include "inventory/ContentView.h"
#include "inventory/MessageRow.h"
#include "inventory/Provener.h"
#include "tests/support/TestTree.h"
#include "ui/CustomizableToolBar.h"
#include "ui/EmptyListHint.h"
#include "ui/RecordListView.h"

#include <QAction>
#include <QFontDatabase>
#include <QMenu>
#include <QSettings>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestContentView : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestTree> m_tree; // A.app: provenance; B.app: quarantine; C.app: both

    // The text the empty list shows, or nothing.
    static QString shownHint(const QWidget& window)
    {
        const auto* hint = window.findChild<EmptyListHint*>(u"emptyListHint"_s);
        return hint && hint->isShown() ? hint->text() : QString();
    }

    // The count and status lines, the empty list's hint, then each row's pieces.
    static QString shownText(const ContentView& view)
    {
        QStringList lines{view.countText(), view.statusText(), shownHint(view)};
        auto* delegate = qobject_cast<MessageRow*>(view.list()->itemDelegate());
        for (int row = 0; row < view.list()->model()->rowCount(); ++row)
            lines << delegate->pieces(view.list()->model()->index(row, 0)).join(u'|');
        return lines.join(u'\n');
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
    }

    void init()
    {
        QSettings().clear();
        m_tree = std::make_unique<TestTree>();
        QVERIFY2(m_tree->isValid(), m_tree->problem());
        m_tree->setProvenance(m_tree->folder(u"A.app"_s), QByteArray::fromHex("0a0b"));
        m_tree->setQuarantine(m_tree->folder(u"B.app"_s), "0083;1;Mail;2");
        const QString c = m_tree->folder(u"C.app"_s);
        m_tree->setProvenance(c, QByteArray::fromHex("0c"));
        m_tree->setQuarantine(c, "0083;1;Browser;2");
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
        QTest::addColumn<QStringList>("apps"); // the folders the search prints
        QTest::addColumn<QByteArray>("tool");  // run by sh after printing them
        QTest::addColumn<QString>("shown");    // see shownText(); ROOT: the tree
        const QString a = u"\nROOT/A.app|✅|0x0a0b|⭕️"_s;
        QTest::newRow("search went well: provenance, quarantine, both")
            << QStringList{u"C.app"_s, u"A.app"_s, u"B.app"_s} << QByteArray()
            << u"3 apps found\n\n"_s + a +
                   u"\nROOT/B.app|⭕️|🔸|Mail\nROOT/C.app|✅|0x0c|🔸|Browser"_s;
        QTest::newRow("search failed")
            << QStringList{u"A.app"_s} << QByteArray("exit 7")
            << u"1 apps found\nThe application search failed: /bin/sh exited with status 7. The list is "
               u"incomplete.\n"_s +
                   a;
        QTest::newRow("a result not UTF-8")
            << QStringList{u"A.app"_s} << QByteArray("printf '/\\377\\n/\\376\\n'")
            << u"1 apps found\n2 application path(s) could not be read and are not listed.\n"_s + a;
        QTest::newRow("found, none with attributes")
            << QStringList{u"Plain.app"_s} << QByteArray()
            << u"0 apps found\n\n1 application was examined; it carries neither attribute."_s;
    }

    void ctrlGLoadsAndStatusLine()
    {
        // The list keeps what the search found, and the line under the count says what is missing.
        QFETCH(QStringList, apps);
        QFETCH(QByteArray, tool);
        QFETCH(QString, shown);
        ContentView view;
        QCOMPARE(shownText(view), u"0 apps found\n\nPress Load Apps to list the installed applications"_s);
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QStringList arguments{m_tree->file(u"tool.sh"_s, "printf '%s\\n' \"$@\"\n" + tool + '\n')};
        for (const QString& app : apps)
            arguments << m_tree->folder(app);
        view.providerer()->setDiscovery(ApplicationDiscovery(u"/bin/sh"_s, arguments));
        QSignalSpy finished(view.providerer(), &Provener::loadFinished);
        QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(view.statusText(), u"Loading applications…"_s);
        QVERIFY(finished.wait(10000));
        QCOMPARE(shownText(view), shown.replace(u"ROOT"_s, m_tree->root()));
        const QFont font = qobject_cast<MessageRow*>(view.list()->itemDelegate())->rowFont();
        QVERIFY(font.fixedPitch() && font.pointSizeF() == 12.0);
        QCOMPARE(font.family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        // What was found stays registered, also when the search failed later; nothing else does.
        QCOMPARE(provenanceApps().lookup(u"0x0a0b"_s), apps.contains(u"A.app"_s)
                                                           ? std::optional(m_tree->path(u"A.app"_s))
                                                           : std::optional<QString>());
        QCOMPARE(provenanceApps().size(), qsizetype(apps.contains(u"A.app"_s) + apps.contains(u"C.app"_s)));
        // A later search that goes well clears the line.
        view.providerer()->setDiscovery(ApplicationDiscovery(u"/bin/echo"_s, {m_tree->path(u"C.app"_s)}));
        QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(finished.wait(10000));
        QCOMPARE(shownText(view), u"1 apps found\n\n\n"_s + m_tree->root() + u"/C.app|✅|0x0c|🔸|Browser"_s);
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
