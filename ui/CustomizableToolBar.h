#pragma once

#include <QIcon>
#include <QList>
#include <QStyle>
#include <QToolBar>

class QMenu;

// A toolbar the user can rearrange: buttons can be hidden and shown from its context
// menu (and the window's View menu) and the bar can be moved. The choices are kept in
// QSettings under the toolbar's identifier, per item identifier, and restored when a
// window opens. Each item is a command that lives in the window, not on the bar: its
// shortcut and its File menu item work whether its button is shown or not.
class CustomizableToolBar : public QToolBar
{
    Q_OBJECT

public:
    CustomizableToolBar(const QString& identifier, QWidget* parent = nullptr);

    QString identifier() const { return objectName(); }

    // Adds an item and returns its command, which the window connects and gives its
    // shortcut; the bar shows it as a button. `themeIcon` is a freedesktop icon name,
    // `fallback` a standard pixmap used when the theme has no such icon (so a bare
    // machine still shows one).
    QAction* addItem(const QString& itemIdentifier, const QString& title, const QString& toolTip,
                     const QString& themeIcon, QStyle::StandardPixmap fallback);

    // The item's command.
    QAction* item(const QString& itemIdentifier) const;
    // The item's button on the bar (hidden when the user hid it).
    QAction* button(const QString& itemIdentifier) const;
    QStringList itemIdentifiers() const;

    bool isItemShown(const QString& itemIdentifier) const;
    // Shows or hides an item's button and remembers the choice; its command stays.
    void setItemShown(const QString& itemIdentifier, bool shown);
    // Every button shown, the bar shown and on top, the saved choices forgotten.
    void reset();

    // "Toolbar Buttons": one checkable entry per button. The bar's context menu has these and
    // "Reset Toolbar".
    QMenu* customizeMenu() const { return m_customizeMenu; }
    QAction* resetAction() const { return m_reset; }

    // Where the user last put the bar (default: top).
    Qt::ToolBarArea savedArea() const;
    // Keeps the bar's current place in its window; windows call this when they close.
    void rememberArea();

private:
    struct Item
    {
        QString identifier;
        QAction* command;
        QAction* button;
        QAction* toggle;
    };

    const Item* find(const QString& itemIdentifier) const;
    QString settingsKey(const QString& itemIdentifier) const;

    QList<Item> m_items;
    QMenu* m_customizeMenu;
    QAction* m_reset;
};
