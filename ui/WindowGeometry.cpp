#include "ui/WindowGeometry.h"

#include <QApplication>
#include <QEvent>
#include <QSettings>
#include <QWidget>

WindowGeometry::WindowGeometry(QWidget* window, const QString& kind)
    : QObject(window), m_window(window), m_kind(kind)
{
    restore();
    window->installEventFilter(this);
}

QString WindowGeometry::settingsKey(const QString& kind)
{
    return QStringLiteral("windows/%1/geometry").arg(kind);
}

void WindowGeometry::save() const
{
    QSettings().setValue(settingsKey(m_kind), m_window->saveGeometry());
}

void WindowGeometry::restore()
{
    const QByteArray saved = QSettings().value(settingsKey(m_kind)).toByteArray();
    if (saved.isEmpty() || !m_window->restoreGeometry(saved))
        return;
    // Other open windows of the kind already stand there: step aside, as cascading does.
    const auto occupied = [this] {
        for (QWidget* other : QApplication::topLevelWidgets()) {
            // Compared by the client area: a window not shown yet has no frame.
            if (other == m_window || !other->isVisible() ||
                other->geometry().topLeft() != m_window->geometry().topLeft())
                continue;
            const auto* keeper = other->findChild<WindowGeometry*>(QString(), Qt::FindDirectChildrenOnly);
            if (keeper && keeper->kind() == m_kind)
                return true;
        }
        return false;
    };
    for (int step = 0; step < 16 && occupied(); ++step)
        m_window->setGeometry(m_window->geometry().translated(32, 32));
}

bool WindowGeometry::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close)
        save();
    return QObject::eventFilter(watched, event);
}
