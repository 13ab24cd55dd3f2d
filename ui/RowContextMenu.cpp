#include "ui/RowContextMenu.h"

#include "core/PathEncoding.h"
#include "core/RawText.h"
#include "core/RecordRoles.h"
#include "ui/RecordListView.h"
#include "ui/WindowCommands.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>

#include <algorithm>

#include <sys/stat.h>

RowContextMenu::RowContextMenu(RecordListView* list)
    : QObject(list), m_list(list), m_viewport(list->viewport()),
      // The key is only shown: Edit > Copy owns the shortcut.
      m_copy(new QAction(tr("Copy") + QLatin1Char('\t') +
                             QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText),
                         this)),
      m_copyPath(new QAction(tr("Copy Path"), this)),
      m_openFolder(new QAction(tr("Open Containing Folder"), this)),
      m_crawl(new QAction(tr("Crawl This Folder"), this))
{
    // Events rather than customContextMenuRequested, which does not tell the Menu key from a click.
    m_list->installEventFilter(this);
    m_viewport->installEventFilter(this);
    connect(m_copy, &QAction::triggered, m_list, &RecordListView::copySelection);
    connect(m_copyPath, &QAction::triggered, this, &RowContextMenu::copyPaths);
    connect(m_openFolder, &QAction::triggered, this, &RowContextMenu::openContainingFolder);
    connect(m_crawl, &QAction::triggered, this, &RowContextMenu::crawlThisFolder);
    WindowCommands::mark(m_copyPath, WindowCommands::EditMenu);
}

void RowContextMenu::addRowAction(QAction* action)
{
    m_rowActions.append(action);
}

QByteArray RowContextMenu::rawPath(const QModelIndex& row)
{
    QByteArray path = decodePath(row.data(PathRole).toString());
    if (path.isEmpty()) {
        const QString name = row.data(NameRole).toString();
        if (name.startsWith(QLatin1Char('/')))
            path = name.toUtf8();
    }
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

QUrl RowContextMenu::fileUrl(const QByteArray& rawPath)
{
    return QUrl::fromEncoded("file://" + encodePath(rawPath).toLatin1(), QUrl::StrictMode);
}

QByteArray RowContextMenu::containingFolder(const QByteArray& rawPath)
{
    const qsizetype slash = rawPath.lastIndexOf('/');
    if (slash <= 0)
        return QByteArrayLiteral("/");
    return rawPath.left(slash);
}

QModelIndexList RowContextMenu::selectedRows(const QAbstractItemView* list)
{
    if (!list->selectionModel())
        return {};
    QModelIndexList rows = list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    return rows;
}

void RowContextMenu::copyPaths()
{
    QByteArrayList paths;
    for (const QModelIndex& row : selectedRows(m_list)) {
        const QByteArray path = rawPath(row);
        if (!path.isEmpty())
            paths.append(path);
    }
    if (paths.isEmpty())
        return;
    // Raw bytes rather than setText(): a QString would turn bytes that are not UTF-8 into U+FFFD.
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), paths.join('\n'));
    QGuiApplication::clipboard()->setMimeData(data);
}

QByteArray RowContextMenu::currentPath() const
{
    return rawPath(m_list->currentIndex());
}

void RowContextMenu::openContainingFolder()
{
    const QByteArray path = currentPath();
    // A path inside a disk image names nothing on this machine.
    if (path.isEmpty() || m_list->currentIndex().data(InImageRole).toBool())
        return;
    const QByteArray folder = containingFolder(path);
    if (QDesktopServices::openUrl(fileUrl(folder)))
        return;
    // Without a program to open folders (xdg-open) nothing would happen at all.
    auto* box = new QMessageBox(
        QMessageBox::Warning, tr("Folder Not Opened"),
        tr("The desktop could not open %1.").arg(RawText::display(RawText::fromBytes(folder))),
        QMessageBox::Ok, m_list->window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool RowContextMenu::currentIsCrawlableFolder() const
{
    const QByteArray path = currentPath();
    struct stat status;
    // The crawl takes its folder as text, which cannot carry a name that is not UTF-8.
    return !path.isEmpty() && !m_list->currentIndex().data(InImageRole).toBool() &&
           QByteArrayView(path).isValidUtf8() && ::stat(path.constData(), &status) == 0 &&
           S_ISDIR(status.st_mode);
}

void RowContextMenu::crawlThisFolder()
{
    if (m_crawlFolder && currentIsCrawlableFolder())
        m_crawlFolder(QString::fromUtf8(currentPath()));
}

QMenu* RowContextMenu::menuFor(const QModelIndex& row)
{
    if (row.isValid()) {
        QItemSelectionModel* selection = m_list->selectionModel();
        if (selection->isSelected(row))
            selection->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
        else
            selection->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    const bool onRow = row.isValid();
    const bool hasPath = onRow && !currentPath().isEmpty();
    m_copy->setEnabled(onRow);
    m_copyPath->setEnabled(hasPath);
    // A path inside a disk image names nothing on this machine.
    m_openFolder->setEnabled(hasPath && !row.data(InImageRole).toBool());

    auto* menu = new QMenu(m_list);
    menu->addAction(m_copy);
    menu->addAction(m_copyPath);
    menu->addSeparator();
    menu->addAction(m_openFolder);
    if (m_crawlFolder) {
        m_crawl->setEnabled(onRow && currentIsCrawlableFolder());
        menu->addAction(m_crawl);
    }
    if (!m_rowActions.isEmpty()) {
        menu->addSeparator();
        menu->addActions(m_rowActions);
    }
    return menu;
}

bool RowContextMenu::eventFilter(QObject* watched, QEvent* event)
{
    // Compared, not asked for: the viewport has events while the list is being destroyed.
    if (event->type() != QEvent::ContextMenu || (watched != m_list && watched != m_viewport))
        return QObject::eventFilter(watched, event);
    auto* request = static_cast<QContextMenuEvent*>(event);
    QModelIndex row;
    QPoint at;
    if (request->reason() == QContextMenuEvent::Mouse && watched == m_viewport) {
        at = request->pos();
        row = m_list->indexAt(at);
    } else {
        // The Menu key: the menu belongs to the current row.
        row = m_list->currentIndex();
        at = row.isValid() ? m_list->visualRect(row).center() : QPoint(0, 0);
    }
    QMenu* menu = menuFor(row);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The items return to their usual state for the Edit menu, which lists Copy Path too.
    connect(menu, &QMenu::aboutToHide, this, [this] {
        for (QAction* action : {m_copy, m_copyPath, m_openFolder, m_crawl})
            action->setEnabled(true);
    });
    menu->popup(m_list->viewport()->mapToGlobal(at));
    return true;
}
