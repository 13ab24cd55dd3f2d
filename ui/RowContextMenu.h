#pragma once

#include <QByteArray>
#include <QList>
#include <QModelIndexList>
#include <QObject>
#include <QUrl>

#include <functional>

class QAbstractItemView;
class QAction;
class QMenu;
class QWidget;
class RecordListView;

// The context menu of a list's rows (right click, or the Menu key): Copy, as Edit > Copy;
// Copy Path, the selected rows' file-system paths, decoded, one a line; Open Containing
// Folder in the desktop's file manager; and, for a folder row, Crawl This Folder when the
// application offers it. A window adds its own row commands with addRowAction.
class RowContextMenu : public QObject
{
    Q_OBJECT

public:
    explicit RowContextMenu(RecordListView* list);

    // What "Crawl This Folder" does with a folder's path; without it the item is not shown.
    using CrawlFolder = std::function<void(const QString& folder)>;
    void setCrawlFolder(CrawlFolder crawlFolder) { m_crawlFolder = std::move(crawlFolder); }

    // Lists a window's own row command below the built-in ones (a details pane's "Show
    // Details", for one); the action itself reads the list's current row or selection.
    void addRowAction(QAction* action);

    QAction* copyAction() const { return m_copy; }
    QAction* copyPathAction() const { return m_copyPath; }
    QAction* openFolderAction() const { return m_openFolder; }
    QAction* crawlFolderAction() const { return m_crawl; }

    // The menu for the row at `row` (which becomes the current row, and the selection
    // when it was not selected), items enabled as they apply. The caller owns it.
    QMenu* menuFor(const QModelIndex& row);

    // The file-system path a row stands for: its decoded path, or for a row that has none
    // (the application list's) its name, which is the path. A folder's has no final "/".
    static QByteArray rawPath(const QModelIndex& row);
    // A file URL for raw path bytes, exact whatever they are.
    static QUrl fileUrl(const QByteArray& rawPath);
    static QByteArray containingFolder(const QByteArray& rawPath);
    // A list's selected rows in list order, whatever order they were selected in.
    static QModelIndexList selectedRows(const QAbstractItemView* list);

public slots:
    // The selected rows' paths, in list order, one a line, as the bytes the file system
    // holds (so a name that is not UTF-8 is handed over exactly).
    void copyPaths();
    void openContainingFolder();
    void crawlThisFolder();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QByteArray currentPath() const;
    bool currentIsCrawlableFolder() const;

    RecordListView* m_list;
    QWidget* m_viewport;
    CrawlFolder m_crawlFolder;
    QAction* m_copy;
    QAction* m_copyPath;
    QAction* m_openFolder;
    QAction* m_crawl;
    QList<QAction*> m_rowActions;
};
