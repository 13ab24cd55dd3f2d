#pragma once

#include <QApplication>
#include <QHash>
#include <QPointer>

#include <functional>

class ContentView;
struct LaunchArguments;
class HelpCommands;
class QMainWindow;

// The application: opens windows by identifier and gives each its menus. Main
// windows are a group (any number, each with its own model); "crawler", "dropview"
// and "help" are single windows that come to the front when asked for again.
class QuellmarkApp : public QApplication
{
    Q_OBJECT

public:
    QuellmarkApp(int& argc, char** argv);
    ~QuellmarkApp() override;

    static QuellmarkApp* instance();

    // A new, independent main window.
    ContentView* newMainWindow();
    // Opens the single window with this identifier, or raises it when it is open.
    QMainWindow* openWindow(const QString& identifier);
    // The open single window with this identifier, if any.
    QMainWindow* window(const QString& identifier) const;

    static QString windowTitle(const QString& identifier);

    // Opens what the command line asks for: the main window, a crawl window crawling a
    // folder (with the remembered Show Quarantine), or a drop window listing paths.
    void start(const LaunchArguments& launch);

private:
    using Factory = std::function<QMainWindow*()>;

    void installMenus(QMainWindow* window);
    void prepare(QMainWindow* window);
    void closeEveryWindow();

    HelpCommands* m_helpCommands;
    QHash<QString, Factory> m_factories;
    QHash<QString, QPointer<QMainWindow>> m_singleWindows;
};
