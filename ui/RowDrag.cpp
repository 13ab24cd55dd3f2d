#include "ui/RowDrag.h"

#include "core/RecordRoles.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"

#include <QApplication>
#include <QDrag>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QMouseEvent>

RowDrag::RowDrag(RecordListView* list) : QObject(list), m_list(list), m_viewport(list->viewport())
{
    m_viewport->installEventFilter(this);
}

QMimeData* RowDrag::mimeData(const QModelIndexList& rows)
{
    QList<QUrl> urls;
    QStringList texts;
    for (const QModelIndex& row : rows) {
        const QByteArray path = RowContextMenu::rawPath(row);
        if (!path.isEmpty())
            urls.append(RowContextMenu::fileUrl(path));
        texts.append(row.data(ExportTextRole).toString());
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    data->setText(texts.join(QLatin1Char('\n')));
    return data;
}

void RowDrag::startDrag()
{
    const QModelIndexList rows = RowContextMenu::selectedRows(m_list);
    // Files inside a disk image are not files here: nothing to hand to another program.
    if (rows.isEmpty() || rows.constFirst().data(InImageRole).toBool())
        return;
    auto* drag = new QDrag(m_list);
    drag->setMimeData(mimeData(rows));
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
}

bool RowDrag::eventFilter(QObject* watched, QEvent* event)
{
    // Compared, not asked for: the viewport has events while the list is being destroyed.
    if (watched != m_viewport)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        // The view handles the press as well: a row already selected stays so until the
        // release, which a drag never delivers, so several selected rows drag together.
        auto* press = static_cast<QMouseEvent*>(event);
        const bool plain = press->button() == Qt::LeftButton &&
                           !(press->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
        m_pressed = plain ? QPersistentModelIndex(m_list->indexAt(press->position().toPoint()))
                          : QPersistentModelIndex();
        m_pressPosition = press->position().toPoint();
        break;
    }
    case QEvent::MouseMove: {
        auto* move = static_cast<QMouseEvent*>(event);
        if (!m_pressed.isValid() || !(move->buttons() & Qt::LeftButton))
            break;
        // Moving from a row drags it rather than stretching the selection.
        if ((move->position().toPoint() - m_pressPosition).manhattanLength() >=
            QApplication::startDragDistance()) {
            m_pressed = QPersistentModelIndex();
            startDrag();
        }
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_pressed = QPersistentModelIndex();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
