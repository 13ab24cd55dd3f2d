#pragma once

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include <memory>

// Synthesized drags, as a file manager's drag would deliver them to a widget.
namespace DropEvents {

inline std::unique_ptr<QMimeData> mime(const QList<QUrl>& urls, const QString& text = QString())
{
    auto data = std::make_unique<QMimeData>();
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (!text.isNull())
        data->setText(text);
    return data;
}

// Sends the drag-enter; true when the target accepted it.
inline bool enter(QWidget* target, const QMimeData* data,
                  Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction, Qt::DropAction* chosen = nullptr)
{
    QDragEnterEvent event(target->rect().center(), actions, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
    if (chosen)
        *chosen = event.dropAction();
    return event.isAccepted();
}

// Sends the drag-enter and, as the platform does, the drop only when the enter was accepted
// (QApplication hands a drop only to the widget that accepted the enter).
inline bool drop(QWidget* target, const QMimeData* data,
                 Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction)
{
    if (!enter(target, data, actions))
        return false;
    QDropEvent event(QPointF(target->rect().center()), actions, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
    return event.isAccepted();
}

} // namespace DropEvents
