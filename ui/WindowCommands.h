#pragma once

#include <QList>

class QAction;
class QObject;

// Which menu of a window's menu bar lists a window's own command. The application builds
// every window's menu bar and puts there each marked action that belongs to the window (any
// QAction among its descendants), in the order the window made them.
class WindowCommands
{
public:
    enum Menu
    {
        FileMenu,
        EditMenu,
        ViewMenu
    };

    // `separated`: a separator goes before the action in the menu.
    static void mark(QAction* action, Menu menu, bool separated = false);
    static bool isSeparated(const QAction* action);
    static QList<QAction*> actions(const QObject* window, Menu menu);
};
