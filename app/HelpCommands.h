#pragma once

#include <QObject>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;

// The Help menu's one item, "Quellmark Help", which asks for the window "help". One
// instance serves the menus of every window.
class HelpCommands : public QObject
{
    Q_OBJECT

public:
    using OpenWindow = std::function<void(const QString& identifier)>;

    explicit HelpCommands(OpenWindow openWindow = {}, QObject* parent = nullptr);

    // Puts the item into the menu bar's Help menu, adding that menu when there is none.
    QAction* install(QMenuBar* menuBar);
    // Puts the item into `helpMenu` in place of the standard help items (F1 "Help
    // Contents", "What's This?") and of an item installed before.
    QAction* install(QMenu* helpMenu);

    static QString windowIdentifier() { return QStringLiteral("help"); }

signals:
    // Emitted with "help" each time the item is chosen, after the open-window call.
    void openWindowRequested(const QString& identifier);

private:
    void openHelp();

    OpenWindow m_openWindow;
};
