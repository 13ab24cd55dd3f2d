#include "app/QuellmarkApp.h"
#include "inventory/ContentView.h"
#include "inventory/Provener.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QtTest>

class TestQuellmarkApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void singleWindowsComeToTheFront_data();
    void singleWindowsComeToTheFront();
    void closedWindowReopensAnew();
    void mainWindowsAreIndependent();
    void menus();
    void helpItemOpensHelpFromAnyWindow();
    void unknownIdentifierOpensNothing();
};

void TestQuellmarkApp::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestQuellmarkApp::singleWindowsComeToTheFront_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("title");
    QTest::newRow("crawler") << QStringLiteral("crawler") << QStringLiteral("Crawl Folder");
    QTest::newRow("dropview") << QStringLiteral("dropview") << QStringLiteral("Drop Files");
    QTest::newRow("help") << QStringLiteral("help") << QStringLiteral("Help Window");
}

void TestQuellmarkApp::singleWindowsComeToTheFront()
{
    QFETCH(QString, identifier);
    QFETCH(QString, title);
    QuellmarkApp* app = QuellmarkApp::instance();
    const auto countOpen = [&] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += w->isVisible() && w->windowTitle() == title;
        return n;
    };
    QMainWindow* first = app->openWindow(identifier);
    QVERIFY(first);
    QCOMPARE(first->windowTitle(), title);
    QVERIFY(first->isVisible());
    QMainWindow* second = app->openWindow(identifier);
    QCOMPARE(second, first);
    QCOMPARE(countOpen(), 1);
    first->close();
}

void TestQuellmarkApp::closedWindowReopensAnew()
{
    QuellmarkApp* app = QuellmarkApp::instance();
    QPointer<QMainWindow> first = app->openWindow(QStringLiteral("dropview"));
    first->close();
    QTRY_VERIFY(first.isNull()); // closing discards the window and its model
    QVERIFY(!app->window(QStringLiteral("dropview")));
    QPointer<QMainWindow> second = app->openWindow(QStringLiteral("dropview"));
    QVERIFY(second);
    QVERIFY(second->isVisible());
    second->close();
}

void TestQuellmarkApp::mainWindowsAreIndependent()
{
    QuellmarkApp* app = QuellmarkApp::instance();
    QPointer<ContentView> a = app->newMainWindow();
    QPointer<ContentView> b = app->newMainWindow();
    QVERIFY(a != b);
    QVERIFY(a->providerer() != b->providerer());
    // A load in one window leaves the other's list alone.
    a->providerer()->setDiscovery(ApplicationDiscovery(QStringLiteral("/bin/echo"), {QStringLiteral("/nowhere")}));
    QSignalSpy finished(a->providerer(), &Provener::loadFinished);
    QSignalSpy otherReset(b->providerer(), &QAbstractItemModel::modelReset);
    a->providerer()->loadApps();
    QVERIFY(finished.wait(10000));
    QCOMPARE(otherReset.count(), 0);
    // File > New Window makes a third.
    const auto mainWindows = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<ContentView*>(w) && w->isVisible();
        return n;
    };
    const int before = mainWindows();
    QAction* newWindow = a->menuBar()->actions().at(0)->menu()->actions().at(0);
    QCOMPARE(newWindow->text(), QStringLiteral("New Window"));
    QCOMPARE(newWindow->shortcut(), QKeySequence(QKeySequence::New));
    newWindow->trigger();
    QCOMPARE(mainWindows(), before + 1);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<ContentView*>(w))
            w->close();
    }
    QTRY_VERIFY(a.isNull() && b.isNull());
}

void TestQuellmarkApp::menus()
{
    QPointer<ContentView> view = QuellmarkApp::instance()->newMainWindow();
    const QList<QAction*> menus = view->menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QStringList file;
    for (QAction* action : menus.at(0)->menu()->actions()) {
        if (!action->isSeparator())
            file << action->text();
    }
    QCOMPARE(file, (QStringList{QStringLiteral("New Window"), QStringLiteral("Close Window"), QStringLiteral("Quit")}));
    QCOMPARE(menus.at(1)->menu()->actions().at(0)->text(), QStringLiteral("Copy"));
    QCOMPARE(menus.at(1)->menu()->actions().at(0)->shortcut(), QKeySequence(QKeySequence::Copy));
    const QList<QAction*> help = menus.at(2)->menu()->actions();
    QCOMPARE(help.size(), 1);
    QCOMPARE(help.at(0)->text(), QStringLiteral("Quellmark Help"));
    QVERIFY(help.at(0)->shortcut().isEmpty());
    view->close();
}

void TestQuellmarkApp::helpItemOpensHelpFromAnyWindow()
{
    QuellmarkApp* app = QuellmarkApp::instance();
    QMainWindow* crawler = app->openWindow(QStringLiteral("crawler"));
    QAction* help = crawler->menuBar()->actions().at(2)->menu()->actions().at(0);
    help->trigger();
    QMainWindow* helpWindow = app->window(QStringLiteral("help"));
    QVERIFY(helpWindow);
    QCOMPARE(helpWindow->windowTitle(), QStringLiteral("Help Window"));
    help->trigger();
    QCOMPARE(app->window(QStringLiteral("help")), helpWindow);
    helpWindow->close();
    crawler->close();
}

void TestQuellmarkApp::unknownIdentifierOpensNothing()
{
    QVERIFY(!QuellmarkApp::instance()->openWindow(QStringLiteral("nothing")));
}

int main(int argc, char* argv[])
{
    QuellmarkApp app(argc, argv);
    app.setApplicationName(QStringLiteral("tst_quellmarkapp"));
    TestQuellmarkApp test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quellmarkapp.moc"
