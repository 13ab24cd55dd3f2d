#include "ui/OriginDetailsController.h"

#include "core/RecordRoles.h"
#include "image/ImageFileLookup.h"
#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"
#include "ui/OriginDetailsPane.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QThreadPool>

namespace {

// The raw path of a list row: the crawl and drop records carry it percent-encoded, the
// application list its plain path as the name.
QByteArray rawPathOf(const QModelIndex& index)
{
    if (const QString path = index.data(PathRole).toString(); !path.isEmpty())
        return OriginDetails::rawPathOf(path);
    return QFile::encodeName(index.data(NameRole).toString());
}

} // namespace

OriginDetailsController::OriginDetailsController(QMainWindow* window, bool offerMacVolume)
    : QObject(window), m_window(window), m_pane(new OriginDetailsPane(window)),
      m_show(new QAction(tr("Show Details"), this))
{
    setObjectName(QStringLiteral("originDetails"));
    window->addDockWidget(Qt::RightDockWidgetArea, m_pane);
    m_pane->hide();
    m_show->setCheckable(true);
    m_show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    m_show->setShortcutContext(Qt::WindowShortcut);
    window->addAction(m_show);
    connect(m_show, &QAction::toggled, this, [this](bool show) {
        m_pane->setVisible(show);
        // Wide enough for URLs the first time; later the user's width stays.
        if (show && !m_sized) {
            m_sized = true;
            m_window->resizeDocks({m_pane}, {m_window->width() * 2 / 5}, Qt::Horizontal);
        }
    });
    connect(m_pane, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        // Tabbed away counts as shown; only a closed pane unchecks the item.
        m_show->setChecked(visible || !m_pane->isHidden());
        if (visible)
            refresh();
    });
    if (offerMacVolume) {
        m_macVolume = new QAction(tr("Mac Volume…"), this);
        window->addAction(m_macVolume);
        connect(m_macVolume, &QAction::triggered, this, &OriginDetailsController::chooseMacRoot);
    }
}

void OriginDetailsController::follow(RecordListView* list)
{
    if (m_list)
        m_list->disconnect(this);
    m_list = list;
    connect(list, &RecordListView::selectionModelChanged, this, &OriginDetailsController::followSelection);
    followSelection();
}

void OriginDetailsController::followSelection()
{
    for (const QMetaObject::Connection& connection : std::as_const(m_followed))
        disconnect(connection);
    m_followed.clear();
    if (!m_list)
        return;
    if (QItemSelectionModel* selection = m_list->selectionModel()) {
        m_followed << connect(selection, &QItemSelectionModel::selectionChanged, this,
                              &OriginDetailsController::refresh)
                   << connect(selection, &QItemSelectionModel::currentChanged, this,
                              &OriginDetailsController::refresh);
    }
    QAbstractItemModel* records = m_list->model();
    while (auto* filter = qobject_cast<QAbstractProxyModel*>(records)) {
        // A refilter clears the selection without a word.
        m_followed << connect(filter, &QAbstractItemModel::modelReset, this,
                              &OriginDetailsController::refresh)
                   << connect(filter, &QAbstractProxyModel::sourceModelChanged, this,
                              &OriginDetailsController::followSelection);
        records = filter->sourceModel();
    }
    if (records)
        m_followed << connect(records, &QAbstractItemModel::modelReset, this,
                              &OriginDetailsController::forgetDatabases);
    if (records != m_records) {
        m_records = records;
        forgetDatabases();
    } else {
        refresh();
    }
}

void OriginDetailsController::setMacRoot(const QByteArray& root)
{
    m_macRoot = root;
    refresh();
}

QFileDialog* OriginDetailsController::chooseMacRoot()
{
    auto* dialog = new QFileDialog(nullptr, tr("Mac Volume"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFilter(QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot);
    dialog->setLabelText(QFileDialog::Accept, tr("Use"));
    connect(this, &QObject::destroyed, dialog, &QWidget::close);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty())
            setMacRoot(QFile::encodeName(folder));
    });
    dialog->show();
    return dialog;
}

void OriginDetailsController::addMenuTo(QMenu* menu) const
{
    menu->addAction(m_show);
    if (m_macVolume)
        menu->addAction(m_macVolume);
}

void OriginDetailsController::offerOnRows(RowContextMenu* rows, QAbstractItemView* list)
{
    rows->addRowAction(m_show);
    connect(list, &QAbstractItemView::doubleClicked, m_show, [show = m_show] { show->setChecked(true); });
}

void OriginDetailsController::forgetDatabases()
{
    // Readings still under way keep what they load; the next one loads again.
    m_databases.clear();
    refresh();
}

void OriginDetailsController::refresh()
{
    if (m_pane->isHidden() || !m_list || !m_list->selectionModel())
        return;
    QModelIndex index = m_list->currentIndex();
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    if (!index.isValid() || !m_list->selectionModel()->isSelected(index))
        index = selected.isEmpty() ? QModelIndex() : selected.first();
    if (!index.isValid()) {
        ++m_request; // a reading still under way is for a row no longer selected
        m_pane->clear();
        return;
    }
    if (index.data(InImageRole).toBool()) {
        refreshInImage(index);
        return;
    }
    const QByteArray path = rawPathOf(index);
    const QByteArray anchor = m_anchor ? m_anchor() : QByteArray();
    const MacSources sources = !m_macRoot.isEmpty() ? MacSources::at(m_macRoot)
                                                    : MacSources::above(anchor.isEmpty() ? path : anchor);
    // The file and the databases are evidence, read off the GUI thread: a slow share or a
    // planted database never holds up the window. Only the latest request is shown.
    const quint64 request = ++m_request;
    m_pane->showMessage(tr("Reading…"));
    // One load of each set of databases, whichever reading needs it first; the others wait
    // for it, and share what it has read (a table's keys read once, for one).
    auto found = m_databases.constFind(sources);
    if (found == m_databases.cend())
        found = m_databases.insert(sources, std::async(std::launch::deferred, [sources] {
                                                 return sources.isEmpty() ? nullptr : OriginDatabases::load(sources);
                                             }).share());
    const std::shared_future<std::shared_ptr<const OriginDatabases>> databases = *found;
    const bool sidecars = m_sidecars();
    QPointer<OriginDetailsController> self(this);
    QThreadPool::globalInstance()->start([self, request, path, databases, sidecars] {
        const std::shared_ptr<const OriginDatabases> read = databases.get();
        auto details = std::make_shared<OriginDetails>(OriginDetails::inspect(path, read.get(), sidecars));
        deliver(self, request, path, read, details);
    });
}

void OriginDetailsController::refreshInImage(const QModelIndex& index)
{
    // Its path names a file inside the image, never the one of that name on this machine.
    const quint64 request = ++m_request;
    if (!m_imageSource || !index.data(ImageInodeRole).isValid()) {
        m_pane->showMessage(tr("This file is inside a disk image whose files can no longer be read."));
        return;
    }
    const ImageSource source = m_imageSource();
    const QByteArray path = rawPathOf(index);
    const QString volume = QString::number(index.data(ImageVolumeRole).toInt());
    const quint64 inode = index.data(ImageInodeRole).toULongLong();
    const bool sidecars = m_sidecars();
    m_pane->showMessage(tr("Reading…"));
    QPointer<OriginDetailsController> self(this);
    QThreadPool::globalInstance()->start([self, request, path, volume, inode, source, sidecars] {
        QString error;
        const std::unique_ptr<ImageFileLookup> lookup =
            ImageFileLookup::open(source.image, volume, source.password, &error);
        if (lookup)
            lookup->setSidecars(sidecars);
        std::shared_ptr<const OriginDatabases> read;
        if (source.origins.valid())
            read = source.origins.get().databases;
        auto details = std::make_shared<OriginDetails>();
        if (lookup)
            *details = lookup->details(inode, path, read.get());
        else
            details->problems.append(tr("The disk image could not be read: %1").arg(error));
        deliver(self, request, path, read, details);
    });
}

void OriginDetailsController::loaded(quint64 request, const QByteArray& path,
                                     const std::shared_ptr<const OriginDatabases>& databases,
                                     const OriginDetails& details)
{
    if (request != m_request || m_pane->isHidden())
        return;
    m_pane->showRecord(path, details, databases.get());
    emit shown();
}

void OriginDetailsController::deliver(const QPointer<OriginDetailsController>& self, quint64 request,
                                      const QByteArray& path, const std::shared_ptr<const OriginDatabases>& databases,
                                      const std::shared_ptr<OriginDetails>& details)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, request, path, databases, details] {
            if (self)
                self->loaded(request, path, databases, *details);
        },
        Qt::QueuedConnection);
}
