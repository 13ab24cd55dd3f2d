#include "ui/EmptyListHint.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QEvent>

EmptyListHint::EmptyListHint(const QString& text, QAbstractItemView* list, QAbstractItemModel* model,
                             int verticalOffset)
    : QLabel(text, list->viewport()), m_verticalOffset(verticalOffset)
{
    setObjectName(QStringLiteral("emptyListHint"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setForegroundRole(QPalette::PlaceholderText);
    list->viewport()->installEventFilter(this);
    setModel(model);
}

void EmptyListHint::setModel(QAbstractItemModel* model)
{
    for (const QMetaObject::Connection& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_model = model;
    if (model) {
        for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            m_connections << connect(model, signal, this, &EmptyListHint::refresh);
        m_connections << connect(model, &QAbstractItemModel::modelReset, this, &EmptyListHint::refresh);
    }
    refresh();
}

void EmptyListHint::setHint(const QString& text)
{
    setText(text);
    refresh();
}

void EmptyListHint::refresh()
{
    const bool empty = !m_model || m_model->rowCount() == 0;
    setVisible(empty && !text().isEmpty());
    if (!isHidden())
        place();
}

void EmptyListHint::place()
{
    const QRect area = parentWidget()->rect();
    const int width = std::max(area.width() - 24, 0);
    resize(width, heightForWidth(width));
    QRect box = rect();
    box.moveCenter(area.center() + QPoint(0, m_verticalOffset));
    move(box.topLeft());
}

bool EmptyListHint::eventFilter(QObject* watched, QEvent* event)
{
    // Its parent is the viewport, which has events while the list is being destroyed.
    if (watched == parentWidget() && event->type() == QEvent::Resize && !isHidden())
        place();
    return QLabel::eventFilter(watched, event);
}
