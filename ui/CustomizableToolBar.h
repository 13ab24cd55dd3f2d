#pragma once

#include <QIcon>
#include <QStyle>
#include <QToolBar>

// A toolbar the user can rearrange: items can be hidden and shown from its context
// menu and the bar can be moved. The choices are kept in QSettings under the
// toolbar's identifier, per item identifier, and restored when a window opens.
class CustomizableToolBar : public QToolBar
{
    Q_OBJECT

public:
    CustomizableToolBar(const QString& identifier, QWidget* parent = nullptr);

    QString identifier() const { return objectName(); }

    // Adds a button; `themeIcon` is a freedesktop icon name, `fallback` a standard
    // pixmap used when the theme has no such icon (so a bare machine still shows one).
    QAction* addItem(const QString& itemIdentifier, const QString& title, const QString& toolTip,
                     const QString& themeIcon, QStyle::StandardPixmap fallback);

    QAction* item(const QString& itemIdentifier) const;
    QStringList itemIdentifiers() const;

    // Shows or hides an item and remembers the choice.
    void setItemShown(const QString& itemIdentifier, bool shown);

    // Where the user last put the bar (default: top).
    Qt::ToolBarArea savedArea() const;
    // Keeps the bar's current place in its window; windows call this when they close.
    void rememberArea();

private:
    QString settingsKey(const QString& itemIdentifier) const;
    void showCustomizeMenu(const QPoint& position);
};
