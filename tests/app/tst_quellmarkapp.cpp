#include "app/LaunchArguments.h"
#include "app/QuellmarkApp.h"
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "drop/DropView.h"
#include "drop/FileInfo.h"
#include "drop/QuellmarkDropDelegate.h"
#include "inventory/ContentView.h"
#include "inventory/Provener.h"
#include "tests/support/TestTree.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QtTest>

using namespace Qt::StringLiterals;

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

    void launchArguments_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArrayList>("named"); // the folder, or the paths
        QTest::addColumn<bool>("bad");
        using Start = LaunchArguments::Start;
        const auto row = [](const char* name, QByteArrayList arguments, Start start, QByteArrayList named,
                            bool bad = false) {
            QTest::newRow(name) << arguments << int(start) << named << bad;
        };
        row("nothing", {}, Start::MainWindow, {});
        row("crawl", {"--crawl", "/d\xff"}, Start::Crawl, {"/d\xff"});
        row("crawl=", {"--crawl=rel/d"}, Start::Crawl, {"rel/d"});
        row("paths, bytes kept", {"a", "/b\xfe", "--", "-c"}, Start::Drop, {"a", "/b\xfe", "-c"});
        row("help wins", {"x", "--help", "--bogus"}, Start::Help, {});
        row("unknown option", {"--bogus"}, Start::MainWindow, {}, true);
        row("crawl without folder", {"--crawl"}, Start::MainWindow, {}, true);
        row("crawl with empty folder", {"--crawl="}, Start::MainWindow, {}, true);
        row("crawl and paths", {"--crawl", "d", "e"}, Start::MainWindow, {}, true);
        row("crawl twice", {"--crawl", "d", "--crawl", "e"}, Start::MainWindow, {}, true);
        row("empty path", {"a", ""}, Start::MainWindow, {}, true);
    }

    void launchArguments()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, start);
        QFETCH(QByteArrayList, named);
        QFETCH(bool, bad);
        const LaunchArguments launch = LaunchArguments::parse(arguments);
        QCOMPARE(!launch.error.isEmpty(), bad);
        if (bad)
            return;
        QCOMPARE(int(launch.start), start);
        QCOMPARE(launch.start == LaunchArguments::Start::Crawl ? QByteArrayList{launch.folder} : launch.paths,
                 named);
    }

    // The program itself: bad usage is said on standard error with status 2.
    void commandLineOutcomes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // on standard error, else standard output
        QTest::newRow("bad option") << QStringList{u"--bogus"_s} << 2 << u"unknown option '--bogus'"_s;
        QTest::newRow("crawl without folder") << QStringList{u"--crawl"_s} << 2 << u"--crawl needs a folder"_s;
        QTest::newRow("help") << QStringList{u"--help"_s} << 0 << u"Usage: quellmark"_s;
    }

    void commandLineOutcomes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QProcess app;
        app.start(qEnvironmentVariable("QUELLMARK_BINARY_DIR") + u"/bin/quellmark"_s, arguments);
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), status);
        const QString out = QString::fromUtf8(status == 0 ? app.readAllStandardOutput() : app.readAllStandardError());
        QVERIFY2(out.contains(said), qPrintable(out));
    }

    void startsWithTheWindowAskedFor()
    {
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        const QByteArray odd = tree.rawFile("odd\xff.txt");
        tree.setRawAttribute(odd, "user.com.apple.provenance", "\x01");
        tree.setProvenance(tree.file(u"plain.txt"_s), "\x02");
        QuellmarkApp* app = QuellmarkApp::instance();

        // A folder that is not there: the window opens and says so.
        const QByteArray missing = QFile::encodeName(tree.path(u"missing"_s));
        app->start(LaunchArguments::parse({"--crawl", missing}));
        auto* crawl = qobject_cast<CrawlerView*>(app->window(u"crawler"_s));
        QVERIFY(crawl && crawl->isVisible());
        QTRY_COMPARE(crawl->crawler()->status(), Crawler::Unreadable);
        QCOMPARE(crawl->filePathText(), tree.path(u"missing"_s));
        QCOMPARE(crawl->statusText(), u"The folder could not be read: No such file or directory"_s);
        app->start(LaunchArguments::parse({"--crawl", QFile::encodeName(tree.root())}));
        QTRY_COMPARE(crawl->crawler()->status(), Crawler::Finished);
        QCOMPARE(crawl->crawler()->rowCount(), 2);
        crawl->close();

        // Paths as if dropped, relative ones from the working directory, bytes kept.
        const QString before = QDir::currentPath();
        QDir::setCurrent(tree.root());
        app->start(LaunchArguments::parse({odd, "plain.txt"}));
        QDir::setCurrent(before);
        auto* drop = qobject_cast<DropView*>(app->window(u"dropview"_s));
        QVERIFY(drop && drop->isVisible());
        QTRY_COMPARE(drop->fileInfo()->rowCount(), 2);
        const QList<FileDetail>& files = drop->fileInfo()->fileList();
        QCOMPARE(files.at(0).path, tree.root() + u"/odd%FF.txt"_s);
        QCOMPARE(files.at(0).provenanceID, u"❓ 0x01"_s);
        QCOMPARE(files.at(1).path, tree.root() + u"/plain.txt"_s);
        QCOMPARE(files.at(1).provenanceID, u"❓ 0x02"_s);
        drop->close();
    }

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
        // Every window has these menus; the Help item has no shortcut and opens "help" from any of them.
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
        QStringList titles;
        for (QAction* menu : crawler->menuBar()->actions())
            titles << menu->text();
        // The crawl window has a menu of its own before Help.
        QCOMPARE(titles, (QStringList{u"&File"_s, u"&Edit"_s, u"&View"_s, u"&Crawl"_s, u"&Help"_s}));
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
