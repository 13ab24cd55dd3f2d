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

    void toolbarItems()
    {
        ContentView view;
        QVERIFY(view.list()->selectionMode() == QAbstractItemView::ExtendedSelection);
        CustomizableToolBar* bar = view.toolBar();
        // Icons even on a bare machine; the keys are the commands', a button carrying one too would
        // make them ambiguous.
        QSignalSpy requests(&view, &ContentView::openWindowRequested);
        for (const QString& id : bar->itemIdentifiers()) {
            QVERIFY(!bar->item(id)->icon().isNull() && bar->button(id)->shortcut().isEmpty());
            if (id != u"getapps"_s && id != u"writecsv"_s)
                bar->item(id)->trigger();
        }
        QCOMPARE(requests.count(), 2);
        QCOMPARE(requests.at(0).at(0).toString() + u' ' + requests.at(1).at(0).toString(),
                 u"crawler dropview"_s);
    }

    void hiddenItemsStayHidden()
    {
        {
            ContentView view;
            view.toolBar()->setItemShown(u"getfiles"_s, false);
            view.toolBar()->setItemShown(u"writecsv"_s, false);
            QVERIFY(!view.toolBar()->button(u"getfiles"_s)->isVisible());
        }
        ContentView reopened;
        CustomizableToolBar* bar = reopened.toolBar();
        QVERIFY(!bar->isItemShown(u"getfiles"_s) && !bar->isItemShown(u"writecsv"_s));
        QVERIFY(bar->isItemShown(u"getapps"_s));
        // The command stays, visible and enabled, whatever the button does.
        QVERIFY(bar->item(u"getfiles"_s)->isVisible() && bar->item(u"getfiles"_s)->isEnabled());
        // The bar's menu ticks what is shown; its toggle shows the button again.
        QList<QAction*> toggles = bar->customizeMenu()->actions();
        QCOMPARE(toggles.at(2)->text(), u"Drop Files"_s);
        QVERIFY(toggles.at(0)->isChecked() && !toggles.at(2)->isChecked());
        toggles.at(2)->trigger();
        QVERIFY(bar->isItemShown(u"getfiles"_s));
        // Reset Toolbar: every button, the bar shown on top, and so it stays.
        bar->hide();
        reopened.addToolBar(Qt::LeftToolBarArea, bar);
        bar->rememberArea();
        bar->resetAction()->trigger();
        QVERIFY(bar->isItemShown(u"writecsv"_s) && !bar->isHidden());
        QCOMPARE(reopened.toolBarArea(bar), Qt::TopToolBarArea);
        ContentView third;
        QVERIFY(third.toolBar()->isItemShown(u"writecsv"_s));
        QCOMPARE(third.toolBar()->savedArea(), Qt::TopToolBarArea);
    }

    void ctrlGLoadsAndStatusLine_data()
    {
        QTest::addColumn<QStringList>("apps"); // the folders the search prints
        QTest::addColumn<QByteArray>("tool");  // run by sh after printing them
        QTest::addColumn<QStringList>("rows"); // each row's pieces, in path order; ROOT: the tree
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("hint"); // in the empty list afterwards
        const QString a = u"ROOT/A.app|✅|0x0a0b|⭕️"_s;
        QTest::newRow("search went well: provenance, quarantine, both")
            << QStringList{u"C.app"_s, u"A.app"_s, u"B.app"_s} << QByteArray()
            << QStringList{a, u"ROOT/B.app|⭕️|🔸|Mail"_s, u"ROOT/C.app|✅|0x0c|🔸|Browser"_s} << QString()
            << QString();
        QTest::newRow("search failed")
            << QStringList{u"A.app"_s} << QByteArray("exit 7") << QStringList{a}
            << u"The application search failed: /bin/sh exited with status 7. The list is incomplete."_s
            << QString();
        QTest::newRow("a result not UTF-8")
            << QStringList{u"A.app"_s} << QByteArray("printf '/\\377\\n/\\376\\n'") << QStringList{a}
            << u"2 application path(s) could not be read and are not listed."_s << QString();
        QTest::newRow("found, none with attributes")
            << QStringList{u"Plain.app"_s} << QByteArray() << QStringList() << QString()
            << u"1 application was examined; it carries neither attribute."_s;
    }

    void ctrlGLoadsAndStatusLine()
    {
        // The list keeps what the search found, and the line under the count says what is missing.
        QFETCH(QStringList, apps);
        QFETCH(QByteArray, tool);
        QFETCH(QStringList, rows);
        QFETCH(QString, status);
        QFETCH(QString, hint);
        ContentView view;
        QCOMPARE(shownHint(view), u"Press Load Apps to list the installed applications"_s);
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
        QCOMPARE(view.countText(), u"%1 apps found"_s.arg(rows.size()));
        QCOMPARE(view.statusText(), status);
        QCOMPARE(shownHint(view), hint);
        auto* delegate = qobject_cast<MessageRow*>(view.list()->itemDelegate());
        QVERIFY(delegate && delegate->rowFont().fixedPitch() && delegate->rowFont().pointSizeF() == 12.0);
        QCOMPARE(delegate->rowFont().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        QStringList shown;
        for (int row = 0; row < view.list()->model()->rowCount(); ++row)
            shown << delegate->pieces(view.list()->model()->index(row, 0)).join(u'|');
        QCOMPARE(shown, rows.replaceInStrings(u"ROOT"_s, m_tree->root()));
        // What was found stays registered, also when the search failed later.
        QCOMPARE(provenanceApps().lookup(u"0x0a0b"_s), apps.contains(u"A.app"_s)
                                                           ? std::optional(m_tree->path(u"A.app"_s))
                                                           : std::optional<QString>());
        // A later search that goes well clears the line.
        view.providerer()->setDiscovery(ApplicationDiscovery(u"/bin/echo"_s, {m_tree->path(u"C.app"_s)}));
        QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(finished.wait(10000));
        QCOMPARE(view.countText() + view.statusText(), u"1 apps found"_s);
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
