#pragma once

#include <QMainWindow>

class CustomizableToolBar;
class MessageRow;
class Provener;
class QLabel;
class QProgressBar;
class RecordListView;

// The main window: the count line, the application list, and the toolbar that
// loads it, opens the crawl and drop windows, and writes the list to CSV.
class ContentView : public QMainWindow
{
    Q_OBJECT

public:
    explicit ContentView(QWidget* parent = nullptr);

    Provener* providerer() const { return m_providerer; }
    RecordListView* list() const { return m_list; }
    CustomizableToolBar* toolBar() const { return m_toolBar; }

    // The count line's text, e.g. "3 apps found".
    QString countText() const;
    // The line under it: the load in progress, or why the last load's list is incomplete;
    // empty when it is hidden.
    QString statusText() const;

signals:
    // Asks the application to open a window by identifier ("crawler", "dropview").
    void openWindowRequested(const QString& identifier);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void updateCount();
    void updateStatus();
    void saveCSV();

    Provener* m_providerer;
    RecordListView* m_list;
    CustomizableToolBar* m_toolBar;
    QLabel* m_count;
    QProgressBar* m_busy;
    QLabel* m_status;
    QLabel* m_problem;
};
