#include "app/QuellmarkApp.h"
#include "inventory/ContentView.h"
#include "inventory/Provener.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QtTest>

namespace {

// The visible top-level windows that `matches`.
int visibleWindows(const std::function<bool(QWidget*)>& matches)
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += widget->isVisible() && matches(widget);
    return count;
}

} // namespace

class TestQuellmarkApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void singleWindowsComeToTheFront_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("title");
        QTest::newRow("crawler") << QStringLiteral("crawler") << QStringLiteral("Crawl Folder");
        QTest::newRow("dropview") << QStringLiteral("dropview") << QStringLiteral("Drop Files");
        QTest::newRow("help") << QStringLiteral("help") << QStringLiteral("Help Window");
    }

    void singleWindowsComeToTheFront()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, title);
        QuellmarkApp* app = QuellmarkApp::instance();
        QPointer<QMainWindow> first = app->openWindow(identifier);
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->windowTitle(), title);
        QCOMPARE(app->openWindow(identifier), first.data());
        QCOMPARE(visibleWindows([&](QWidget* widget) { return widget->windowTitle() == title; }), 1);
        // Closing discards the window and its model; asking again makes a new one.
        first->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(!app->window(identifier));
        QPointer<QMainWindow> second = app->openWindow(identifier);
        QVERIFY(second && second->isVisible());
        second->close();
    }

    void mainWindowsAreIndependent()
    {
        QuellmarkApp* app = QuellmarkApp::instance();
        QPointer<ContentView> a = app->newMainWindow();
        QPointer<ContentView> b = app->newMainWindow();
        QVERIFY(a != b && a->providerer() != b->providerer());
        // A load in one window leaves the other's list alone.
        a->providerer()->setDiscovery(
            ApplicationDiscovery(QStringLiteral("/bin/echo"), {QStringLiteral("/nowhere")}));
        QSignalSpy finished(a->providerer(), &Provener::loadFinished);
        QSignalSpy otherReset(b->providerer(), &QAbstractItemModel::modelReset);
        a->providerer()->loadApps();
        QVERIFY(finished.wait(10000));
        QCOMPARE(otherReset.count(), 0);
        // File > New Window makes a third.
        const auto isMain = [](QWidget* widget) { return qobject_cast<ContentView*>(widget) != nullptr; };
        const int before = visibleWindows(isMain);
        a->menuBar()->actions().at(0)->menu()->actions().at(0)->trigger();
        QCOMPARE(visibleWindows(isMain), before + 1);
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (isMain(widget))
                widget->close();
        QTRY_VERIFY(a.isNull() && b.isNull());
    }

    void menus()
    {
        // Every window has the same menus; the Help item has no shortcut and opens "help" from any of them.
        QuellmarkApp* app = QuellmarkApp::instance();
        QPointer<ContentView> main = app->newMainWindow();
        QStringList items;
        for (QAction* menu : main->menuBar()->actions())
            for (QAction* action : menu->menu()->actions())
                items << action->text() + u' ' + action->shortcut().toString();
        const auto key = [](QKeySequence::StandardKey key) { return QKeySequence(key).toString(); };
        QCOMPARE(items,
                 (QStringList{QStringLiteral("New Window ") + key(QKeySequence::New),
                              QStringLiteral("Close Window ") + key(QKeySequence::Close), QStringLiteral(" "),
                              QStringLiteral("Quit ") + key(QKeySequence::Quit),
                              QStringLiteral("Copy ") + key(QKeySequence::Copy),
                              QStringLiteral("Show Details Ctrl+I"), QStringLiteral("Quellmark Help ")}));
        main->close();
        QVERIFY(!app->openWindow(QStringLiteral("nothing")));
        QMainWindow* crawler = app->openWindow(QStringLiteral("crawler"));
        QStringList view;
        for (QAction* action : crawler->menuBar()->actions().at(2)->menu()->actions())
            view << action->text();
        QCOMPARE(view, (QStringList{QStringLiteral("Show Details"), QStringLiteral("Mac Volume…")}));
        QAction* help = crawler->menuBar()->actions().last()->menu()->actions().at(0);
        help->trigger();
        QMainWindow* helpWindow = app->window(QStringLiteral("help"));
        QVERIFY(helpWindow && helpWindow->isVisible());
        help->trigger();
        QCOMPARE(app->window(QStringLiteral("help")), helpWindow);
        helpWindow->close();
        crawler->close();
    }
};

int main(int argc, char* argv[])
{
    QuellmarkApp app(argc, argv);
    app.setApplicationName(QStringLiteral("tst_quellmarkapp"));
    TestQuellmarkApp test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quellmarkapp.moc"
