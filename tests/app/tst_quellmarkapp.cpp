#include "app/HelpCommands.h"
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
#include <QScreen>
#include <QSettings>
#include <QWhatsThis>
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
        row("help wins", {"x", "--help", "--bogus"}, "0 Usage: quellmark [--crawl FOLDER|IMAGE [--quarantine] | PATH...]");
        row("unknown option", {"--bogus"}, "2 quellmark: unknown option '--bogus'");
        row("crawl without folder", {"--crawl"}, "2 quellmark: --crawl needs a folder");
        row("crawl with empty folder", {"--crawl="}, "2 quellmark: --crawl needs a folder");
        row("crawl and paths", {"--crawl", "d", "e"}, "2 quellmark: --crawl takes one folder and no other paths");
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
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("title");
        QTest::newRow("main window") << QStringList() << u"Quellmark"_s;
        QTest::newRow("crawl window") << QStringList{u"--crawl"_s, m_noApps.path()} << u"Crawl Folder"_s;
        QTest::newRow("drop window") << QStringList{m_noApps.path()} << u"Drop Files"_s;
    }

    void titlesOnTheDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, title);
        QTemporaryDir home;
        // On a display of its own (Xvfb picks a free number), waits for a window whose name starts
        // with the title, and prints its name.
        const QString script = u"app=$1; shift; d=$(mktemp)\n"
                               "Xvfb -displayfd 9 -nolisten tcp 9>\"$d\" 2>/dev/null & xvfb=$!\n"
                               "for _ in $(seq 300); do [ -s \"$d\" ] && break; sleep 0.1; done\n"
                               "export DISPLAY=:$(cat \"$d\")\n"
                               "\"$app\" \"$@\" & pid=$!\n"
                               "for _ in $(seq 600); do\n"
                               "    name=$(xwininfo -root -tree | grep -o -e \"$NAME\" | head -n 1)\n"
                               "    [ -n \"$name\" ] && break; sleep 0.1\n"
                               "done\n"
                               "kill $pid $xvfb; rm -f \"$d\"; printf '%s' \"$name\""_s;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        environment.insert(u"XDG_CONFIG_HOME"_s, home.path());
        environment.insert(u"NAME"_s, u'"' + title + u"[^\"]*\""_s);
        QProcess run;
        run.setProcessEnvironment(environment);
        run.start(u"sh"_s, QStringList{u"-c"_s, script, u"sh"_s,
                                       qEnvironmentVariable("QUELLMARK_BINARY_DIR") + u"/bin/quellmark"_s} +
                               arguments);
        QVERIFY(run.waitForFinished(120000));
        QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()), u'"' + title + u'"');
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
        // A file is read as a disk image, and says why it holds none.
        app->start(LaunchArguments::parse({"--crawl", QFile::encodeName(tree.path(u"plain.txt"_s))}));
        QTRY_COMPARE(crawl->crawler()->status(), Crawler::Unreadable);
        QVERIFY2(crawl->statusText().startsWith(u"The disk image could not be read: "_s), qPrintable(crawl->statusText()));
        // A relative folder is shown by its absolute path, as its rows are.
        const QString before = QDir::currentPath();
        QDir::setCurrent(tree.root());
        app->start(LaunchArguments::parse({"--crawl", "."}));
        QTRY_COMPARE(crawl->crawler()->status(), Crawler::Finished);
        QCOMPARE(crawl->crawler()->rowCount(), 2);
        QCOMPARE(crawl->filePathText(), tree.root());
        // With --quarantine the switch is on, and the quarantine-only file is listed too.
        tree.setQuarantine(tree.file(u"quarantined.txt"_s), "0081;1;Browser;2");
        app->start(LaunchArguments::parse({"--crawl", ".", "--quarantine"}));
        QTRY_COMPARE(crawl->crawler()->status(), Crawler::Finished);
        QVERIFY(crawl->showQuarantine());
        QCOMPARE(crawl->crawler()->rowCount(), 3);
        // Load Folder starts from the crawled folder, not the working one.
        QDir::setCurrent(before);
        QFileDialog* choose = crawl->chooseFolder();
        QDir::setCurrent(tree.root());
        QCOMPARE(choose->directory().absolutePath(), tree.root());
        choose->close();
        crawl->close();

        // Paths as if dropped, relative ones from the working directory, bytes kept.
        app->start(LaunchArguments::parse({odd, "./plain.txt"})); // shown without "."
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
        // Closing (its key) discards the window and its model; asking again makes a new one.
        QVERIFY(QTest::qWaitForWindowActive(first));
        QTest::keySequence(first, QKeySequence::Close);
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
        // New Window's key makes a third.
        const auto isMain = [](QWidget* widget) { return qobject_cast<ContentView*>(widget) != nullptr; };
        const int before = visibleWindows(isMain);
        a->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(a));
        QTest::keySequence(a, QKeySequence::New);
        QCOMPARE(visibleWindows(isMain), before + 1);
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (isMain(widget))
                widget->close();
        QTRY_VERIFY(a.isNull() && b.isNull());
    }

    // With every button hidden, each toolbar command is still in a menu and answers its key; F1
    // opens the guide from any window.
    void commandKeys_data()
    {
        QTest::addColumn<QString>("identifier"); // empty: a main window
        QTest::addColumn<QString>("keys");       // of the toolbar's commands
        QTest::addColumn<QString>("menus");      // and how many items each holds, separators too
        QTest::newRow("main") << QString() << u"Ctrl+G Ctrl+S"_s << u"File 10 Edit 4 View 4 Help 1"_s;
        QTest::newRow("crawler") << u"crawler"_s << u"Ctrl+G Ctrl+S"_s << u"File 8 Edit 4 View 5 Crawl 4 Help 1"_s;
        QTest::newRow("dropview") << u"dropview"_s << QString() << u"File 4 Edit 4 View 2 Help 1"_s;
        QTest::newRow("help") << u"help"_s << QString() << u"File 4 Edit 1 View 3 Help 1"_s;
    }

    void commandKeys()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, keys);
        QFETCH(QString, menus);
        QuellmarkApp* app = QuellmarkApp::instance();
        QPointer<QMainWindow> window =
            identifier.isEmpty() ? app->newMainWindow() : app->openWindow(identifier);
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
        QCOMPARE(counts.join(u' '), menus);
        if (auto* crawl = qobject_cast<CrawlerView*>(window))
            QVERIFY(inMenus.contains(crawl->sidecarsAction()));
        QStringList answered;
        QVERIFY(QTest::qWaitForWindowActive(window));
        if (auto* bar = window->findChild<CustomizableToolBar*>()) {
            for (const QString& id : bar->itemIdentifiers())
                bar->setItemShown(id, false);
            for (const QString& id : bar->itemIdentifiers()) {
                QAction* command = bar->item(id);
                QVERIFY2(inMenus.contains(command) && command->isVisible() && command->isEnabled(), qPrintable(id));
                if (command->shortcut().isEmpty())
                    continue;
                QSignalSpy triggered(command, &QAction::triggered);
                window->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(window));
                QTest::keySequence(window, command->shortcut());
                QCOMPARE(triggered.count(), 1);
                answered << command->shortcut().toString();
            }
            QVERIFY(inMenus.contains(bar->resetAction()) && inMenus.contains(bar->customizeMenu()->menuAction()));
            bar->reset();
        }
        QCOMPARE(answered.join(u' '), keys);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keySequence(window, QKeySequence::HelpContents);
        QMainWindow* helpWindow = app->window(QStringLiteral("help"));
        QVERIFY(helpWindow && helpWindow->isVisible());
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->close();
        QTRY_VERIFY(window.isNull());
    }

    // The guide's item takes the place of a menu's standard help items, once however often installed.
    void helpItemReplacesStandardItems()
    {
        QMenuBar bar;
        QMenu* help = bar.addMenu(u"&Help"_s);
        help->addAction(u"Report"_s);
        help->addAction(u"Help Contents"_s)->setShortcut(QKeySequence::HelpContents);
        help->addAction(QWhatsThis::createAction(help));
        help->addAction(u"About"_s);
        QStringList asked;
        HelpCommands commands([&asked](const QString& identifier) { asked << identifier; });
        commands.install(&bar);
        QAction* item = commands.install(&bar);
        QStringList titles;
        for (const QAction* action : help->actions())
            titles << action->text() + u' ' + action->shortcut().toString();
        QCOMPARE(titles.join(u'|') + QString::number(bar.actions().size()),
                 u"Report |Quellmark Help "_s + QKeySequence(QKeySequence::HelpContents).toString() + u"|About 1"_s);
        item->trigger();
        QCOMPARE(asked, QStringList{u"help"_s});
    }

    void folderRowsCrawlInTheCrawlWindow()
    {
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        const QString app = tree.folder(u"Tool.app"_s);
        tree.setProvenance(app, "\x02");
        tree.setProvenance(tree.file(u"Tool.app/inside"_s), "\x01");
        const QString list = tree.file(u"apps.txt"_s, app.toUtf8());
        QPointer<ContentView> main = QuellmarkApp::instance()->newMainWindow();
        main->providerer()->setDiscovery(ApplicationDiscovery(u"/bin/cat"_s, {list}));
        QSignalSpy loaded(main->providerer(), &Provener::loadFinished);
        main->providerer()->loadApps();
        QVERIFY(loaded.wait(10000));

        auto* rows = main->findChild<RowContextMenu*>();
        std::unique_ptr<QMenu> menu(rows->menuFor(main->list()->model()->index(0, 0)));
        QVERIFY(menu->actions().contains(rows->crawlFolderAction()) &&
                rows->crawlFolderAction()->isEnabled());
        rows->crawlFolderAction()->trigger();
        auto* crawlWindow = qobject_cast<CrawlerView*>(QuellmarkApp::instance()->window(u"crawler"_s));
        QVERIFY(crawlWindow);
        QCOMPARE(crawlWindow->filePathText(), app);
        QSignalSpy finished(crawlWindow->crawler(), &Crawler::crawlFinished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(crawlWindow->crawler()->crawlList().value(0).name(), u"inside"_s);
        crawlWindow->close();
        main->close();
    }

    // Copy takes the focused widget's selected text where it has one, else the selected rows.
    void copyTakesTheFocusedSelection_data()
    {
        QTest::addColumn<QString>("focus"); // "pane", "find field" or "list"
        QTest::addColumn<bool>("selectText");
        QTest::newRow("details pane") << u"pane"_s << true;
        QTest::newRow("find field") << u"find field"_s << true;
        QTest::newRow("pane without a selection") << u"pane"_s << false;
        QTest::newRow("list") << u"list"_s << false;
    }

    void copyTakesTheFocusedSelection()
    {
        QFETCH(QString, focus);
        QFETCH(bool, selectText);
        TestTree tree;
        tree.setProvenance(tree.file(u"f"_s), "\x01");
        auto* window = qobject_cast<CrawlerView*>(QuellmarkApp::instance()->openWindow(u"crawler"_s));
        QSignalSpy finished(window->crawler(), &Crawler::crawlFinished);
        window->crawlFolder(QFile::encodeName(tree.root()));
        QVERIFY(finished.wait(10000));
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
        auto* field = window->findChild<FindBar*>()->field();
        QTest::keyClicks(field, u"f"_s);
        QTRY_COMPARE(window->list()->model()->rowCount(), 1);
        window->list()->setCurrentIndex(window->list()->model()->index(0, 0));
        const QString row = window->list()->model()->index(0, 0).data(ExportTextRole).toString();
        QTest::keyClick(window, Qt::Key_I, Qt::ControlModifier);
        auto* pane = window->findChild<OriginDetailsPane*>();
        QTRY_VERIFY(pane->text().contains(u"Provenance: 0x01"_s));
        QWidget* focused = focus == u"pane"_s         ? static_cast<QWidget*>(pane->textView())
                           : focus == u"find field"_s ? static_cast<QWidget*>(field)
                                                      : static_cast<QWidget*>(window->list());
        focused->setFocus();
        QTRY_VERIFY(focused->hasFocus());
        pane->textView()->selectAll();
        field->selectAll();
        if (!selectText) {
            pane->textView()->moveCursor(QTextCursor::End);
            field->deselect();
        }
        QGuiApplication::clipboard()->clear();
        QTest::keySequence(window, QKeySequence::Copy);
        const QString expected = !selectText ? row : focus == u"pane"_s ? pane->text() : u"f"_s;
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        window->close();
    }

    // On the test screen (800 x 600), every window opens on it, with its list taking keys.
    void windowsOpenFittedWithTheListFocused_data()
    {
        QTest::addColumn<QString>("identifier"); // empty: a main window
        QTest::addColumn<QRect>("remembered");   // from a larger screen; null: nothing remembered
        QTest::newRow("main window") << QString() << QRect();
        QTest::newRow("crawl window") << u"crawler"_s << QRect();
        QTest::newRow("drop window") << u"dropview"_s << QRect();
        QTest::newRow("crawl window from a larger screen") << u"crawler"_s << QRect(900, 500, 1500, 900);
    }

    void windowsOpenFittedWithTheListFocused()
    {
        QFETCH(QString, identifier);
        QFETCH(QRect, remembered);
        QuellmarkApp* app = QuellmarkApp::instance();
        const QString kind = identifier.isEmpty() ? u"main"_s : identifier;
        QSettings().remove(WindowGeometry::settingsKey(kind));
        if (!remembered.isNull()) {
            QMainWindow large;
            large.setGeometry(remembered);
            QSettings().setValue(WindowGeometry::settingsKey(kind), large.saveGeometry());
        }
        QPointer<QMainWindow> window =
            identifier.isEmpty() ? app->newMainWindow() : app->openWindow(identifier);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY2(window->screen()->availableGeometry().contains(window->frameGeometry()),
                 qPrintable(u"%1,%2 %3x%4 in %5x%6"_s.arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())
                                .arg(window->screen()->availableGeometry().width())
                                .arg(window->screen()->availableGeometry().height())));
        QTRY_VERIFY(window->findChild<RecordListView*>()->hasFocus());
        window->close();
        QTRY_VERIFY(window.isNull());
    }

    void windowsReopenWhereTheyWere()
    {
        QuellmarkApp* app = QuellmarkApp::instance();
        QPointer<QMainWindow> crawler = app->openWindow(u"crawler"_s);
        crawler->setGeometry(QRect(140, 120, 610, 430));
        const QRect placed = crawler->geometry();
        crawler->close();
        QTRY_VERIFY(crawler.isNull());
        crawler = app->openWindow(u"crawler"_s);
        QCOMPARE(crawler->geometry(), placed);
        // Kept per kind: a main window does not take the crawl window's place.
        QPointer<ContentView> first = app->newMainWindow();
        QVERIFY(first->geometry() != placed);
        first->setGeometry(QRect(60, 50, 700, 400));
        first->close();
        QTRY_VERIFY(first.isNull());
        first = app->newMainWindow();
        QCOMPARE(first->geometry(), QRect(60, 50, 700, 400));
        // A second main window steps aside rather than hide the first.
        QPointer<ContentView> second = app->newMainWindow();
        QCOMPARE(second->size(), first->size());
        QVERIFY(second->pos() != first->pos());
        for (QMainWindow* window :
             {crawler.data(), static_cast<QMainWindow*>(first), static_cast<QMainWindow*>(second)})
            window->close();
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
