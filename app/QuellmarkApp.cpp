#include "app/QuellmarkApp.h"

#include "app/HelpCommands.h"
#include "app/HelpView.h"
#include "app/LaunchArguments.h"
#include "app/PDFKitView.h"
#include "core/AbsolutePath.h"
#include "core/PathEncoding.h"
#include "crawl/Crawler.h"
#include "crawl/CrawlerView.h"
#include "drop/DropView.h"
#include "drop/QuellmarkDropDelegate.h"
#include "image/DiskImage.h"
#include "inventory/ContentView.h"
#include "ui/OriginDetailsController.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"
#include "ui/WindowCommands.h"
#include "ui/WindowGeometry.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>

QuellmarkApp::QuellmarkApp(int& argc, char** argv)
    : QApplication(argc, argv),
      m_helpCommands(new HelpCommands([this](const QString& identifier) { openWindow(identifier); }, this))
{
    setOrganizationName(QStringLiteral("Quellmark"));
    // No display name: Qt would append it to every title bar ("Crawl Folder — Quellmark"). A window
    // without a title, the main window, gets the application's name.
    setApplicationName(QStringLiteral("Quellmark"));
    setDesktopFileName(QStringLiteral("io.github.quellmark.Quellmark"));
    setQuitOnLastWindowClosed(true);

    m_factories.insert(QStringLiteral("crawler"), [] { return new CrawlerView; });
    m_factories.insert(QStringLiteral("dropview"), [] { return new DropView; });
    m_factories.insert(HelpCommands::windowIdentifier(), [] { return new HelpView; });

    // Models die with their windows, which cancels their background work, so quitting never waits for it.
    connect(this, &QCoreApplication::aboutToQuit, this, &QuellmarkApp::closeEveryWindow);
}

QuellmarkApp::~QuellmarkApp()
{
    closeEveryWindow();
}

QuellmarkApp* QuellmarkApp::instance()
{
    return qobject_cast<QuellmarkApp*>(QCoreApplication::instance());
}

QString QuellmarkApp::windowTitle(const QString& identifier)
{
    if (identifier == QLatin1String("crawler"))
        return tr("Crawl Folder");
    if (identifier == QLatin1String("dropview"))
        return tr("Drop Files");
    if (identifier == QLatin1String("help"))
        return tr("Help Window");
    return {};
}

ContentView* QuellmarkApp::newMainWindow()
{
    auto* window = new ContentView;
    connect(window, &ContentView::openWindowRequested, this, &QuellmarkApp::openWindow);
    prepare(window);
    window->show();
    return window;
}

void QuellmarkApp::start(const LaunchArguments& launch)
{
    switch (launch.start) {
    case LaunchArguments::Start::Crawl:
        if (auto* crawler = qobject_cast<CrawlerView*>(openWindow(QStringLiteral("crawler")))) {
            if (launch.quarantine)
                crawler->setShowQuarantine(true);
            // A file or block device is read as a disk image; anything else as a folder.
            if (DiskImage::mayHoldImage(launch.folder))
                crawler->crawlImage(launch.folder);
            else
                crawler->crawlFolder(launch.folder);
        }
        break;
    case LaunchArguments::Start::Drop: {
        QList<QUrl> files;
        for (const QByteArray& path : launch.paths) {
            // A folder on the way that cannot be named keeps the path as given, made absolute.
            const PosixResult<QByteArray> resolved = AbsolutePath::of(path);
            QByteArray absolute = path;
            if (resolved)
                absolute = resolved.value();
            else if (!path.startsWith('/'))
                absolute = QFile::encodeName(QDir::currentPath()) + '/' + path;
            // Percent-encoded bytes, not text: names that are not UTF-8 stay exact.
            files.append(QUrl::fromEncoded("file://" + encodePath(absolute).toLatin1()));
        }
        if (auto* drop = qobject_cast<DropView*>(openWindow(QStringLiteral("dropview"))))
            drop->dropDelegate()->dropFiles(files);
        break;
    }
    case LaunchArguments::Start::MainWindow:
    case LaunchArguments::Start::Help:
    case LaunchArguments::Start::Version:
        newMainWindow();
        break;
    }
}

QMainWindow* QuellmarkApp::openWindow(const QString& identifier)
{
    if (QMainWindow* open = window(identifier)) {
        open->show();
        open->raise();
        open->activateWindow();
        return open;
    }
    const auto factory = m_factories.constFind(identifier);
    if (factory == m_factories.cend())
        return nullptr;
    QMainWindow* created = (*factory)();
    created->setWindowTitle(windowTitle(identifier));
    created->setObjectName(identifier);
    prepare(created);
    m_singleWindows.insert(identifier, created);
    created->show();
    created->raise();
    created->activateWindow();
    return created;
}

QMainWindow* QuellmarkApp::window(const QString& identifier) const
{
    return m_singleWindows.value(identifier).data();
}

void QuellmarkApp::prepare(QMainWindow* window)
{
    // Closing a window discards it and its model; reopening starts empty.
    window->setAttribute(Qt::WA_DeleteOnClose);
    installMenus(window);
    // Keys act on the rows from the start (End, Ctrl+A, Copy), not on the first control.
    if (auto* list = window->findChild<RecordListView*>())
        list->setFocus();
    new WindowGeometry(window,
                       window->objectName().isEmpty() ? QStringLiteral("main") : window->objectName());
    // A folder row of any window can be crawled in the crawl window.
    if (auto* rows = window->findChild<RowContextMenu*>()) {
        rows->setCrawlFolder([this](const QString& folder) {
            if (auto* crawlWindow = qobject_cast<CrawlerView*>(openWindow(QStringLiteral("crawler"))))
                crawlWindow->crawler()->startCrawl(folder, crawlWindow->showQuarantine());
        });
    }
}

void QuellmarkApp::installMenus(QMainWindow* window)
{
    QMenu* file = window->menuBar()->addMenu(tr("&File"));
    QAction* newWindow = file->addAction(tr("New Window"), this, &QuellmarkApp::newMainWindow);
    newWindow->setShortcut(QKeySequence::New);
    QAction* close = file->addAction(tr("Close Window"), window, &QWidget::close);
    close->setShortcut(QKeySequence::Close);
    // The window's own commands (its toolbar's among them) between New and Close.
    if (const QList<QAction*> commands = WindowCommands::actions(window, WindowCommands::FileMenu);
        !commands.isEmpty()) {
        file->insertSeparator(close);
        file->insertActions(close, commands);
        file->insertSeparator(close);
    }
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit"), this, &QuellmarkApp::closeAllWindows);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* edit = window->menuBar()->addMenu(tr("&Edit"));
    QAction* copy = edit->addAction(tr("Copy"), window, [window] {
        // Text selected in the focused widget (the details pane, the find field) wins over the rows.
        QWidget* focus = window->focusWidget();
        if (auto* text = qobject_cast<QPlainTextEdit*>(focus); text && text->textCursor().hasSelection())
            text->copy();
        else if (auto* field = qobject_cast<QLineEdit*>(focus); field && field->hasSelectedText())
            field->copy();
        else if (auto* list = window->findChild<RecordListView*>())
            list->copySelection();
        else if (auto* pdf = window->findChild<PDFKitView*>())
            pdf->copySelection();
    });
    copy->setShortcut(QKeySequence::Copy);
    addWindowCommands(edit, WindowCommands::actions(window, WindowCommands::EditMenu));
    // One View menu: the details pane first, then the window's own view commands.
    const QList<QAction*> viewCommands = WindowCommands::actions(window, WindowCommands::ViewMenu);
    const auto* details = window->findChild<OriginDetailsController*>();
    if (details || !viewCommands.isEmpty()) {
        QMenu* view = window->menuBar()->addMenu(tr("&View"));
        if (details)
            details->addMenuTo(view);
        if (details && !viewCommands.isEmpty())
            view->addSeparator();
        addWindowCommands(view, viewCommands);
    }

    m_helpCommands->install(window->menuBar());
}

void QuellmarkApp::addWindowCommands(QMenu* menu, const QList<QAction*>& commands)
{
    for (QAction* action : commands) {
        if (WindowCommands::isSeparated(action) && !menu->isEmpty())
            menu->addSeparator();
        menu->addAction(action);
    }
}

void QuellmarkApp::closeEveryWindow()
{
    // Deleting one window may delete other top-level widgets it owns, so hold guarded pointers.
    QList<QPointer<QMainWindow>> windows;
    for (QWidget* widget : topLevelWidgets()) {
        if (auto* window = qobject_cast<QMainWindow*>(widget); window && !window->parent())
            windows.append(window);
    }
    for (const QPointer<QMainWindow>& window : windows)
        delete window.data();
}
