#pragma once

#include "image/ImageOriginDatabases.h"
#include "origin/MacSources.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <future>
#include <memory>
#include <optional>

class OriginDatabases;
class QAbstractItemModel;
class OriginDetailsPane;
struct OriginDetails;
class QAbstractItemView;
class QAction;
class QFileDialog;
class QMainWindow;
class QMenu;
class RecordListView;
class RowContextMenu;

// Fills a window's details pane with the selected record's origin: reads the record's
// attributes on demand from its path and links them to the Mac's databases, which are read
// once (off the GUI thread) per set of databases and kept until the list is replaced.
// The databases are those of the Mac volume chosen with "Mac Volume…", else those found
// upward from the anchor (the crawled folder) or from the record itself; a record inside a
// disk image is read through the image and linked to the image's own databases.
class OriginDetailsController : public QObject
{
    Q_OBJECT

public:
    // Adds the pane (hidden) and the actions to `window`; "Mac Volume…" only with `offerMacVolume`.
    OriginDetailsController(QMainWindow* window, bool offerMacVolume);

    // Shows the selected record of `list`, or nothing, through whatever models and selection
    // models it is given later (the find bar's filter, a new drop's list).
    void follow(RecordListView* list);
    // The path the databases are looked for from; by default each record's own.
    void setAnchor(std::function<QByteArray()> anchor) { m_anchor = std::move(anchor); }
    // Whether a record lacking an attribute takes it from its AppleDouble file, as the list
    // does; by default not.
    void setSidecars(std::function<bool()> sidecars) { m_sidecars = std::move(sidecars); }

    // Where the records inside a disk image are read from: the image, its password, and its
    // own databases (read once, elsewhere), to which alone those records are linked.
    struct ImageSource
    {
        QByteArray image;
        std::optional<QByteArray> password;
        std::shared_future<ImageOriginDatabases::Loaded> origins;
    };
    void setImageSource(std::function<ImageSource()> source) { m_imageSource = std::move(source); }

    // The Mac volume root or home folder to take the databases from; empty: look upward.
    void setMacRoot(const QByteArray& root);
    QByteArray macRoot() const { return m_macRoot; }
    // "Mac Volume…": a folder dialog (non-modal); choosing a folder sets the Mac root.
    QFileDialog* chooseMacRoot();

    OriginDetailsPane* pane() const { return m_pane; }
    QAction* showAction() const { return m_show; }
    QAction* macVolumeAction() const { return m_macVolume; }
    // The window's "View" menu: Show Details and, where offered, Mac Volume….
    void addMenuTo(QMenu* menu) const;

    // Offers Show Details in the rows' context menu, and opens the pane on a double-clicked row.
    void offerOnRows(RowContextMenu* rows, QAbstractItemView* list);

    // Forgets the databases read, so the next record reads them again.
    void forgetDatabases();

signals:
    // The pane was filled for the current record (after the databases were read, if needed).
    void shown();

private:
    void refresh();
    // Connects to the list's present selection model and model, and to the records under them.
    void followSelection();
    void refreshInImage(const QModelIndex& index);
    // Hands what a worker read back to the window's thread, unless the controller is gone.
    static void deliver(const QPointer<OriginDetailsController>& self, quint64 request, const QByteArray& path,
                        const std::shared_ptr<const OriginDatabases>& databases,
                        const std::shared_ptr<OriginDetails>& details);
    void loaded(quint64 request, const QByteArray& path, const std::shared_ptr<const OriginDatabases>& databases,
                const OriginDetails& details);

    QMainWindow* m_window;
    OriginDetailsPane* m_pane;
    QAction* m_show;
    QAction* m_macVolume = nullptr;
    bool m_sized = false;
    QPointer<RecordListView> m_list;
    QList<QMetaObject::Connection> m_followed;
    // The records the list shows, under any filter: the databases are kept as long as they are.
    QPointer<QAbstractItemModel> m_records;
    std::function<QByteArray()> m_anchor;
    std::function<bool()> m_sidecars = [] { return false; };
    std::function<ImageSource()> m_imageSource;
    QByteArray m_macRoot;
    QHash<MacSources, std::shared_future<std::shared_ptr<const OriginDatabases>>> m_databases;
    quint64 m_request = 0; // the latest reading asked for; older ones are not shown
};
