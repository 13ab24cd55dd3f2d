#include "ui/WindowGeometry.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QWidget>

#include <algorithm>

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
    const bool restored = !saved.isEmpty() && m_window->restoreGeometry(saved);
    fitScreen(restored);
    if (!restored)
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

void WindowGeometry::fitScreen(bool placed)
{
    const QScreen* screen = m_window->screen();
    if (!screen)
        return;
    // The frame is not known before the window is shown: leave room for a title bar and borders.
    const int border = 8;
    const int titleBar = m_window->style()->pixelMetric(QStyle::PM_TitleBarHeight) + border;
    const QRect available = screen->availableGeometry().adjusted(border, titleBar, -border, -border);
    const QSize size = m_window->size().boundedTo(available.size()).expandedTo(m_window->minimumSize());
    if (size != m_window->size())
        m_window->resize(size);
    // Remembered on a larger screen: moved onto this one.
    if (placed) {
        QRect place = m_window->geometry();
        place.moveRight(std::min(place.right(), available.right()));
        place.moveBottom(std::min(place.bottom(), available.bottom()));
        place.moveLeft(std::max(place.left(), available.left()));
        place.moveTop(std::max(place.top(), available.top()));
        if (place != m_window->geometry())
            m_window->setGeometry(place);
    }
}

bool WindowGeometry::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close)
        save();
    return QObject::eventFilter(watched, event);
}
