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

namespace {

// The text the empty list shows, or nothing.
QString shownHint(const QWidget& window)
{
    const auto* hint = window.findChild<EmptyListHint*>(QStringLiteral("emptyListHint"));
    return hint && hint->isShown() ? hint->text() : QString();
}

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void toolbarItems();
    void rowPieces();
    void hiddenItemsStayHidden();
    void ctrlGLoadsAndStatusLine_data();
    void ctrlGLoadsAndStatusLine();

private:
    std::unique_ptr<TestTree> m_tree;
    QString m_a, m_b, m_c;
};

void TestContentView::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("QuellmarkTest"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_contentview"));
}

void TestContentView::init()
{
    QSettings().clear();
    m_tree = std::make_unique<TestTree>();
    QVERIFY2(m_tree->isValid(), m_tree->problem());
    m_a = m_tree->folder(QStringLiteral("A.app"));
    m_tree->setProvenance(m_a, QByteArray::fromHex("0a0b"));
    m_b = m_tree->folder(QStringLiteral("B.app"));
    m_tree->setQuarantine(m_b, "0083;1;Mail;2");
    m_c = m_tree->folder(QStringLiteral("C.app"));
    m_tree->setProvenance(m_c, QByteArray::fromHex("0c"));
    m_tree->setQuarantine(m_c, "0083;1;Browser;2");
}

void TestContentView::toolbarItems()
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
    QCOMPARE(requests.at(0).at(0).toString() + u' ' + requests.at(1).at(0).toString(), u"crawler dropview"_s);
}

void TestContentView::rowPieces()
{
    ContentView view;
    const QString list = m_tree->file(QStringLiteral("apps.txt"),
                                      (m_c + QLatin1Char('\n') + m_a + QLatin1Char('\n') + m_b).toUtf8());
    view.providerer()->setDiscovery(ApplicationDiscovery(QStringLiteral("/bin/cat"), {list}));
    QSignalSpy finished(view.providerer(), &Provener::loadFinished);
    view.providerer()->loadApps();
    QVERIFY(finished.wait(10000));
    QCOMPARE(view.countText(), QStringLiteral("3 apps found"));
    auto* delegate = qobject_cast<MessageRow*>(view.list()->itemDelegate());
    QVERIFY(delegate);
    // In path order: provenance only, quarantine only, both.
    const QList<QStringList> rows{
        {m_a, QStringLiteral("✅"), QStringLiteral("0x0a0b"), QStringLiteral("⭕️")},
        {m_b, QStringLiteral("⭕️"), QStringLiteral("🔸"), QStringLiteral("Mail")},
        {m_c, QStringLiteral("✅"), QStringLiteral("0x0c"), QStringLiteral("🔸"), QStringLiteral("Browser")}};
    for (int row = 0; row < rows.size(); ++row)
        QCOMPARE(delegate->pieces(view.list()->model()->index(row, 0)), rows.at(row));
    QVERIFY(delegate->rowFont().fixedPitch());
    QCOMPARE(delegate->rowFont().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    QCOMPARE(delegate->rowFont().pointSizeF(), 12.0);
}

void TestContentView::hiddenItemsStayHidden()
{
    {
        ContentView view;
        view.toolBar()->setItemShown(QStringLiteral("getfiles"), false);
        view.toolBar()->setItemShown(QStringLiteral("writecsv"), false);
        QVERIFY(!view.toolBar()->button(QStringLiteral("getfiles"))->isVisible());
    }
    ContentView reopened;
    CustomizableToolBar* bar = reopened.toolBar();
    QVERIFY(!bar->isItemShown(QStringLiteral("getfiles")) && !bar->isItemShown(QStringLiteral("writecsv")));
    QVERIFY(bar->isItemShown(QStringLiteral("getapps")));
    // The command stays, visible and enabled, whatever the button does.
    QVERIFY(bar->item(QStringLiteral("getfiles"))->isVisible() &&
            bar->item(QStringLiteral("getfiles"))->isEnabled());
    // The bar's menu ticks what is shown; its toggle shows the button again.
    QList<QAction*> toggles = bar->customizeMenu()->actions();
    QCOMPARE(toggles.at(2)->text(), QStringLiteral("Drop Files"));
    QVERIFY(toggles.at(0)->isChecked() && !toggles.at(2)->isChecked());
    toggles.at(2)->trigger();
    QVERIFY(bar->isItemShown(QStringLiteral("getfiles")));
    // Reset Toolbar: every button, the bar shown on top, and so it stays.
    bar->hide();
    reopened.addToolBar(Qt::LeftToolBarArea, bar);
    bar->rememberArea();
    bar->resetAction()->trigger();
    QVERIFY(bar->isItemShown(QStringLiteral("writecsv")) && !bar->isHidden());
    QCOMPARE(reopened.toolBarArea(bar), Qt::TopToolBarArea);
    ContentView third;
    QVERIFY(third.toolBar()->isItemShown(QStringLiteral("writecsv")));
    QCOMPARE(third.toolBar()->savedArea(), Qt::TopToolBarArea);
}

void TestContentView::ctrlGLoadsAndStatusLine_data()
{
    QTest::addColumn<QString>("app");     // the folder the search prints first
    QTest::addColumn<QByteArray>("tool"); // run by sh after printing it
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("hint"); // in the empty list afterwards
    QTest::newRow("search went well") << "A.app" << QByteArray() << QString() << QString();
    QTest::newRow("search failed")
        << "A.app" << QByteArray("exit 7")
        << QStringLiteral(
               "The application search failed: /bin/sh exited with status 7. The list is incomplete.")
        << QString();
    QTest::newRow("a result not UTF-8")
        << "A.app" << QByteArray("printf '/\\377\\n/\\376\\n'")
        << QStringLiteral("2 application path(s) could not be read and are not listed.") << QString();
    QTest::newRow("found, none with attributes")
        << "Plain.app" << QByteArray() << QString()
        << QStringLiteral("1 application was examined; it carries neither attribute.");
}

void TestContentView::ctrlGLoadsAndStatusLine()
{
    // The list keeps what the search found, and the line under the count says what is missing.
    QFETCH(QString, app);
    QFETCH(QByteArray, tool);
    QFETCH(QString, status);
    QFETCH(QString, hint);
    ContentView view;
    QCOMPARE(shownHint(view), QStringLiteral("Press Load Apps to list the installed applications"));
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    const QString script = m_tree->file(QStringLiteral("tool.sh"), "echo \"$1\"\n" + tool + '\n');
    view.providerer()->setDiscovery(
        ApplicationDiscovery(QStringLiteral("/bin/sh"), {script, m_tree->folder(app)}));
    QSignalSpy finished(view.providerer(), &Provener::loadFinished);
    QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(view.statusText(), QStringLiteral("Loading applications…"));
    QVERIFY(finished.wait(10000));
    QCOMPARE(view.countText(),
             hint.isEmpty() ? QStringLiteral("1 apps found") : QStringLiteral("0 apps found"));
    QCOMPARE(view.statusText(), status);
    QCOMPARE(shownHint(view), hint);
    // What was found stays registered, also when the search failed later.
    if (app == u"A.app"_s)
        QCOMPARE(provenanceApps().lookup(u"0x0a0b"_s), std::optional(m_a));
    // A later search that goes well clears the line.
    view.providerer()->setDiscovery(ApplicationDiscovery(u"/bin/echo"_s, {m_c}));
    QTest::keyClick(&view, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(finished.wait(10000));
    QCOMPARE(view.countText() + view.statusText(), u"1 apps found"_s);
}

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
