#include "ui/RowDrag.h"

#include "core/RecordRoles.h"
#include "ui/RecordListView.h"
#include "ui/RowContextMenu.h"

#include <QApplication>
#include <QDrag>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QMouseEvent>

#include <algorithm>

RowDrag::RowDrag(RecordListView* list) : QObject(list), m_list(list)
{
    m_list->viewport()->installEventFilter(this);
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
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    auto* drag = new QDrag(m_list);
    drag->setMimeData(mimeData(rows));
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::CopyAction);
}

bool RowDrag::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_list->viewport())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* press = static_cast<QMouseEvent*>(event);
        m_pressed = QPersistentModelIndex();
        m_keepSelection = false;
        if (press->button() != Qt::LeftButton ||
            press->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))
            break;
        const QModelIndex row = m_list->indexAt(press->position().toPoint());
        if (!row.isValid())
            break;
        m_pressed = row;
        m_pressPosition = press->position().toPoint();
        if (m_list->selectionModel()->isSelected(row)) {
            // The view would select this row alone at once; that waits for the release.
            m_keepSelection = true;
            m_list->setFocus(Qt::MouseFocusReason);
            m_list->selectionModel()->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
            return true;
        }
        break;
    }
    case QEvent::MouseMove: {
        auto* move = static_cast<QMouseEvent*>(event);
        if (!m_pressed.isValid() || !(move->buttons() & Qt::LeftButton))
            break;
        if ((move->position().toPoint() - m_pressPosition).manhattanLength() <
            QApplication::startDragDistance())
            return m_keepSelection;
        m_pressed = QPersistentModelIndex();
        m_keepSelection = false;
        startDrag();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const QModelIndex row = m_pressed;
        const bool keptSelection = m_keepSelection;
        m_pressed = QPersistentModelIndex();
        m_keepSelection = false;
        if (keptSelection && row.isValid()) {
            m_list->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
