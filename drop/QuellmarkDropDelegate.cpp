#include "drop/QuellmarkDropDelegate.h"

#include "core/SidecarPreference.h"
#include "drop/FileInfo.h"

#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

namespace {

// How long one event-loop pass may spend adding files before the window gets to repaint.
constexpr qint64 kFeedBudgetMs = 10;

// A drop only reads the files, so it is a copy; a link will do. A move is never accepted:
// the drag source could take it as leave to delete the originals.
std::optional<Qt::DropAction> dropAction(Qt::DropActions possible)
{
    if (possible & Qt::CopyAction)
        return Qt::CopyAction;
    if (possible & Qt::LinkAction)
        return Qt::LinkAction;
    return std::nullopt;
}

} // namespace

QuellmarkDropDelegate::QuellmarkDropDelegate(Binding theFileInfo, QObject* parent)
    : QObject(parent), m_theFileInfo(std::move(theFileInfo))
{
    // A zero timer, unlike queued calls, lets pending repaints run between its passes.
    m_feeder.setInterval(0);
    connect(&m_feeder, &QTimer::timeout, this, &QuellmarkDropDelegate::feed);
}

void QuellmarkDropDelegate::attach(QWidget* target)
{
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

QList<QUrl> QuellmarkDropDelegate::fileUrls(const QMimeData* data)
{
    QList<QUrl> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

bool QuellmarkDropDelegate::validateDrop(const QMimeData* data)
{
    return !fileUrls(data).isEmpty();
}

bool QuellmarkDropDelegate::performDrop(const QMimeData* data)
{
    return dropFiles(fileUrls(data));
}

bool QuellmarkDropDelegate::dropFiles(const QList<QUrl>& files)
{
    if (files.isEmpty())
        return false;
    // The new list shows at once, before any file is examined.
    auto* fileInfo = new FileInfo;
    fileInfo->setSidecars(SidecarPreference::enabled());
    m_theFileInfo.set(fileInfo);
    m_pending.insert(m_pending.end(), files.cbegin(), files.cend());
    m_feeder.start();
    return true;
}

void QuellmarkDropDelegate::feed()
{
    QElapsedTimer spent;
    spent.start();
    while (!m_pending.empty()) {
        const QUrl url = m_pending.front();
        m_pending.pop_front();
        // Looked up now, not at the drop: a file still queued when a newer drop
        // replaced the model goes to the newer model.
        if (FileInfo* current = m_theFileInfo.get())
            current->addFile(url);
        if (spent.elapsed() >= kFeedBudgetMs)
            break;
    }
    if (m_pending.empty()) {
        m_feeder.stop();
        emit drained();
    }
}

bool QuellmarkDropDelegate::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const auto action = dropAction(drag->possibleActions());
        if (action && validateDrop(drag->mimeData())) {
            drag->setDropAction(*action);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const auto action = dropAction(drop->possibleActions());
        if (action && performDrop(drop->mimeData())) {
            drop->setDropAction(*action);
            drop->accept();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
