#include "app/LaunchArguments.h"
#include "app/QuellmarkApp.h"
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "drop/DropView.h"
#include "drop/FileInfo.h"
#include "inventory/ContentView.h"
#include "inventory/Provener.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"
#include "ui/CustomizableToolBar.h"
#include "ui/FindBar.h"
#include "ui/OriginDetailsPane.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"
#include "ui/WindowGeometry.h"

#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
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

    QTemporaryDir m_noApps;
    QRect m_placed; // where the last window was left

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
        // Load Apps finds nothing here, quickly.
        QVERIFY(m_noApps.isValid());
        qputenv("QUELLMARK_APP_ROOTS", QFile::encodeName(m_noApps.path()));
    }

    // Argument bytes in, what starts out; help and bad usage from the program itself.
    void launchArguments_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QByteArray>("outcome"); // "main", "crawl FOLDER [quarantine]", "drop PATH|...", or
                                                 // the program's status and first line of output
        const auto row = [](const char* name, QByteArrayList arguments, const QByteArray& outcome) {
            QTest::newRow(name) << arguments << outcome;
        };
        row("nothing", {}, "main");
        row("crawl", {"--crawl", "/d\xff"}, "crawl /d\xff");
        row("crawl=", {"--crawl=rel/d"}, "crawl rel/d");
        row("crawl with quarantine", {"--quarantine", "--crawl", "d"}, "crawl d quarantine");
        row("paths, bytes kept", {"a", "/b\xfe", "--", "-c"}, "drop a|/b\xfe|-c");
        row("help wins", {"x", "--help", "--bogus"},
            "0 Usage: quellmark [--crawl FOLDER|IMAGE [--quarantine] | PATH...]");
        row("unknown option", {"--bogus"}, "2 quellmark: unknown option '--bogus'");
        row("crawl without folder", {"--crawl"}, "2 quellmark: --crawl needs a folder");
        row("crawl with empty folder", {"--crawl="}, "2 quellmark: --crawl needs a folder");
        row("crawl and paths", {"--crawl", "d", "e"},
            "2 quellmark: --crawl takes one folder and no other paths");
        row("crawl twice", {"--crawl", "d", "--crawl", "e"}, "2 quellmark: --crawl is given twice");
        row("empty path", {"a", ""}, "2 quellmark: an empty path names no file");
        row("quarantine without crawl", {"--quarantine", "a"}, "2 quellmark: --quarantine goes with --crawl");
    }

    void launchArguments()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QByteArray, outcome);
        const LaunchArguments launch = LaunchArguments::parse(arguments);
        QByteArray seen = launch.start == LaunchArguments::Start::Crawl
                              ? "crawl " + launch.folder + (launch.quarantine ? " quarantine" : "")
                          : launch.start == LaunchArguments::Start::Drop ? "drop " + launch.paths.join('|')
                                                                         : "main";
        if (launch.start == LaunchArguments::Start::Help || !launch.error.isEmpty()) {
            const ToolRun::Outcome run = ToolRun(ToolRun::built("quellmark"), arguments).run();
            QByteArray said = run.status ? run.err : run.out; // past the toolkit's warnings
            said = said.mid(std::max(qsizetype(0), said.indexOf(run.status ? "quellmark: " : "Usage: ")));
            seen = QByteArray::number(run.status) + ' ' + said.left(said.indexOf('\n'));
        }
        QCOMPARE(seen, outcome);
    }

    // The title bars as the window manager reads them, on an X display: the title alone.
    void titlesOnTheDisplay_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QByteArray>("title");
        QTest::newRow("main window") << QByteArrayList() << QByteArray("Quellmark");
        const QByteArray empty = QFile::encodeName(m_noApps.path());
        QTest::newRow("crawl window") << QByteArrayList{"--crawl", empty} << QByteArray("Crawl Folder");
    }

    void titlesOnTheDisplay()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QByteArray, title);
        QTemporaryDir home;
        // On a display of its own (Xvfb picks a free number), waits for a window whose name starts
        // with the title, and prints its name.
        const QByteArray script = "app=$1; shift; d=$(mktemp)\n"
                                  "Xvfb -displayfd 9 -nolisten tcp 9>\"$d\" 2>/dev/null & xvfb=$!\n"
                                  "for _ in $(seq 300); do [ -s \"$d\" ] && break; sleep 0.1; done\n"
                                  "export DISPLAY=:$(cat \"$d\")\n"
                                  "\"$app\" \"$@\" & pid=$!\n"
                                  "for _ in $(seq 600); do\n"
                                  "    name=$(xwininfo -root -tree | grep -o -e \"$NAME\" | head -n 1)\n"
                                  "    [ -n \"$name\" ] && break; sleep 0.1\n"
                                  "done\n"
                                  "kill $pid $xvfb; rm -f \"$d\"; printf '%s' \"$name\"";
        const QByteArrayList command{"QT_QPA_PLATFORM=xcb",
                                     "XDG_CONFIG_HOME=" + QFile::encodeName(home.path()),
                                     "NAME=\"" + title + "[^\"]*\"",
                                     "sh",
                                     "-c",
                                     script,
                                     "sh",
                                     ToolRun::built("quellmark")};
        QCOMPARE(ToolRun("/usr/bin/env", command + arguments).run().out, '"' + title + '"');
    }

    // What each start opens, run in a folder of three files: the crawl window with its folder,
    // status line, rows and where Load Folder starts, or the rows of the paths as if dropped.
    void startsWithTheWindowAskedFor_data()
    {
        QTest::addColumn<QByteArrayList>("arguments"); // "@": the folder, absolute
        QTest::addColumn<QString>("shown");            // "@" too
        const auto row = [](const char* name, QByteArrayList arguments, const QString& shown) {
            QTest::newRow(name) << arguments << shown;
        };
        row("folder that is not there", {"--crawl", "@/missing"},
            u"crawl @/missing|The folder could not be read: No such file or directory|0"_s);
        row("a file, read as a disk image", {"--crawl", "@/plain.txt"},
            u"crawl @/plain.txt|The disk image could not be read: the image is empty|0"_s);
        row("relative folder, shown absolute", {"--crawl", "."},
            u"crawl @|Finished: 3 entries examined|2|@"_s);
        row("quarantine-only files too", {"--crawl", ".", "--quarantine"},
            u"crawl @|Finished: 3 entries examined|3 quarantine|@"_s);
        row("paths, relative ones in the folder, bytes kept", {"@/odd\xff.txt", "./plain.txt"},
            u"drop @/odd%FF.txt ❓ 0x01|@/plain.txt ❓ 0x02"_s); // shown without "."
    }

    void startsWithTheWindowAskedFor()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QString, shown);
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        tree.setRawAttribute(tree.rawFile("odd\xff.txt"), "user.com.apple.provenance", "\x01");
        tree.setProvenance(tree.file(u"plain.txt"_s), "\x02");
        tree.setQuarantine(tree.file(u"quarantined.txt"_s), "0081;1;Browser;2");
        for (QByteArray& argument : arguments)
            argument.replace('@', QFile::encodeName(tree.root()));
        QuellmarkApp* app = QuellmarkApp::instance();
        const QString before = QDir::currentPath();
        const auto goBack = qScopeGuard([&] { QDir::setCurrent(before); });
        QDir::setCurrent(tree.root());
        app->start(LaunchArguments::parse(arguments));
        QStringList seen;
        if (arguments.contains("--crawl")) {
            auto* crawl = qobject_cast<CrawlerView*>(app->window(u"crawler"_s));
            QVERIFY(crawl && crawl->isVisible());
            QTRY_VERIFY(crawl->crawler()->status() > Crawler::Stopping);
            QDir::setCurrent(before);
            seen << u"crawl "_s + crawl->filePathText() << crawl->statusText().section(u" · "_s, 0, 0)
                 << QString::number(crawl->crawler()->rowCount()) +
                        (crawl->showQuarantine() ? u" quarantine"_s : u""_s);
            if (crawl->crawler()->status() == Crawler::Finished) {
                QFileDialog* choose = crawl->chooseFolder(); // from the crawled folder, not the working one
                seen << choose->directory().absolutePath();
                choose->close();
            }
            crawl->close();
        } else {
            auto* drop = qobject_cast<DropView*>(app->window(u"dropview"_s));
            QVERIFY(drop && drop->isVisible());
            QTRY_COMPARE(drop->fileInfo()->rowCount(), arguments.size());
            for (const FileDetail& file : drop->fileInfo()->fileList())
                seen << file.path + u' ' + file.provenanceID;
            seen.first().prepend(u"drop "_s);
            drop->close();
        }
        QCOMPARE(seen.join(u'|'), QString(shown).replace(u'@', tree.root()));
        QTRY_VERIFY(!app->window(u"crawler"_s) && !app->window(u"dropview"_s)); // gone before the next start
    }

    // Each window opens on the test screen (800 x 600) with its list taking keys; a single window
    // comes to the front when asked for again and goes with its key; with every button hidden each
    // toolbar command is still in a menu and answers its key; F1 opens the guide from any window.
    void windowsOpen_data()
    {
        QTest::addColumn<QString>("identifier"); // empty: a main window
        QTest::addColumn<QRect>("remembered");   // from a larger screen; null: nothing remembered
        QTest::addColumn<QString>("keys");       // of the toolbar's commands
        QTest::addColumn<QString>("menus");      // the title, then each menu and its items, separators too
        const QString crawlMenus = u"Crawl Folder: File 8 Edit 4 View 5 Crawl 4 Help 1"_s;
        // The main window leaves its title to the window system: the application's name.
        QTest::newRow("main") << QString() << QRect() << u"Ctrl+G Ctrl+S"_s
                              << u": File 10 Edit 4 View 4 Help 1"_s;
        QTest::newRow("crawler") << u"crawler"_s << QRect() << u"Ctrl+G Ctrl+S"_s << crawlMenus;
        QTest::newRow("crawler from a larger screen")
            << u"crawler"_s << QRect(900, 500, 1500, 900) << u"Ctrl+G Ctrl+S"_s << crawlMenus;
        QTest::newRow("dropview") << u"dropview"_s << QRect() << QString()
                                  << u"Drop Files: File 4 Edit 4 View 2 Help 1"_s;
        QTest::newRow("help") << u"help"_s << QRect() << QString()
                              << u"Help Window: File 4 Edit 1 View 3 Help 1"_s;
    }

    void windowsOpen()
    {
        QFETCH(QString, identifier);
        QFETCH(QRect, remembered);
        QFETCH(QString, keys);
        QFETCH(QString, menus);
        QuellmarkApp* app = QuellmarkApp::instance();
        const QString geometryKey =
            WindowGeometry::settingsKey(identifier.isEmpty() ? u"main"_s : identifier);
        QSettings().remove(geometryKey);
        if (!remembered.isNull()) {
            QMainWindow large;
            large.setGeometry(remembered);
            QSettings().setValue(geometryKey, large.saveGeometry());
        }
        const auto open = [&]() -> QMainWindow* {
            return identifier.isEmpty() ? app->newMainWindow() : app->openWindow(identifier);
        };
        QPointer<QMainWindow> window = open();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const QRect screen = window->screen()->availableGeometry();
        QVERIFY2(
            screen.contains(window->frameGeometry()),
            qPrintable(QDebug::toString(window->frameGeometry()) + u" on "_s + QDebug::toString(screen)));
        QVERIFY(!remembered.isNull() || window->geometry() != m_placed); // not the last row's window's place
        if (identifier != u"help"_s)
            QTRY_VERIFY(window->findChild<RecordListView*>()->hasFocus());
        if (!identifier.isEmpty()) {
            QCOMPARE(app->openWindow(identifier), window.data());
            const QString title = window->windowTitle();
            QCOMPARE(visibleWindows([&](QWidget* widget) { return widget->windowTitle() == title; }), 1);
        }
        // Closing (its key) discards the window and its model; asking again makes a new one, where
        // the last one was.
        window->setGeometry(QRect(140, 120, 610, 430));
        m_placed = window->geometry();
        QTest::keySequence(window, QKeySequence::Close);
        QTRY_VERIFY(window.isNull());
        QVERIFY(identifier.isEmpty() || !app->window(identifier));
        window = open();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->geometry(), m_placed);
        QList<QAction*> inMenus;
        const std::function<void(QMenu*)> collect = [&](QMenu* menu) {
            for (QAction* action : menu->actions())
                if (inMenus << action; action->menu())
                    collect(action->menu());
        };
        QStringList counts;
        for (QAction* menu : window->menuBar()->actions()) {
            collect(menu->menu());
            counts << menu->text().remove(u'&') + u' ' + QString::number(menu->menu()->actions().size());
        }
        QCOMPARE(window->windowTitle() + u": "_s + counts.join(u' '), menus);
        if (auto* crawl = qobject_cast<CrawlerView*>(window))
            QVERIFY(inMenus.contains(crawl->sidecarsAction()));
        QStringList answered;
        if (auto* bar = window->findChild<CustomizableToolBar*>()) {
            for (const QString& id : bar->itemIdentifiers())
                bar->setItemShown(id, false);
            for (const QString& id : bar->itemIdentifiers()) {
                QAction* command = bar->item(id);
                QVERIFY2(inMenus.contains(command) && command->isVisible() && command->isEnabled(),
                         qPrintable(id));
                if (command->shortcut().isEmpty())
                    continue;
                QSignalSpy triggered(command, &QAction::triggered);
                window->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(window));
                QTest::keySequence(window, command->shortcut());
                QCOMPARE(triggered.count(), 1);
                answered << command->shortcut().toString();
            }
            QVERIFY(inMenus.contains(bar->resetAction()) &&
                    inMenus.contains(bar->customizeMenu()->menuAction()));
            bar->reset();
        }
        QCOMPARE(answered.join(u' '), keys);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keySequence(window, QKeySequence::HelpContents);
        QMainWindow* helpWindow = app->window(u"help"_s);
        QVERIFY(helpWindow && helpWindow->isVisible());
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->close();
        QTRY_VERIFY(window.isNull());
    }

    // Another main window (New Window's key too) steps aside rather than hide the first, with a list
    // of its own. An application's row crawls in the crawl window.
    void mainWindows()
    {
        QuellmarkApp* app = QuellmarkApp::instance();
        QPointer<ContentView> first = app->newMainWindow();
        QPointer<ContentView> second = app->newMainWindow();
        QCOMPARE(second->size(), first->size());
        QVERIFY(second->pos() != first->pos() && first->providerer() != second->providerer());
        // A load in one window leaves the other's list alone.
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        const QString tool = tree.folder(u"Tool.app"_s);
        tree.setProvenance(tool, "\x02");
        tree.setProvenance(tree.file(u"Tool.app/inside"_s), "\x01");
        first->providerer()->setDiscovery(ApplicationDiscovery(u"/bin/echo"_s, {tool}));
        QSignalSpy finished(first->providerer(), &Provener::loadFinished);
        QSignalSpy otherReset(second->providerer(), &QAbstractItemModel::modelReset);
        first->providerer()->loadApps();
        QVERIFY(finished.wait(10000));
        QCOMPARE(otherReset.count(), 0);
        auto* rows = first->findChild<RowContextMenu*>();
        delete rows->menuFor(first->list()->model()->index(0, 0)); // aims the command
        rows->crawlFolderAction()->trigger();
        auto* crawlWindow = qobject_cast<CrawlerView*>(app->window(u"crawler"_s));
        QVERIFY(crawlWindow);
        QSignalSpy crawled(crawlWindow->crawler(), &Crawler::crawlFinished);
        QVERIFY(crawled.wait(10000));
        QCOMPARE(crawlWindow->filePathText() + u' ' + crawlWindow->crawler()->crawlList().value(0).name(),
                 tool + u" inside"_s);
        crawlWindow->close();
        const auto isMain = [](QWidget* widget) { return qobject_cast<ContentView*>(widget) != nullptr; };
        QCOMPARE(visibleWindows(isMain), 2);
        first->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(first));
        QTest::keySequence(first, QKeySequence::New);
        QCOMPARE(visibleWindows(isMain), 3);
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->close();
        QTRY_VERIFY(first.isNull() && second.isNull());
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
