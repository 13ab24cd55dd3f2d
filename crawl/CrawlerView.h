#pragma once

#include <QMainWindow>

class Crawler;
class CustomizableToolBar;
class QAction;
class QCheckBox;
class QFileDialog;
class QDialog;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class RecordListView;

// The crawl window: the options line (the "Show Quarantine" switch, the folder's path, the
// number of entries found), a status line for the running or finished crawl with a Stop
// button, the list of entries, and a toolbar to choose a folder and to save the list as
// CSV. Owns its Crawler; closing the window stops the crawl.
class CrawlerView : public QMainWindow
{
    Q_OBJECT

public:
    explicit CrawlerView(QWidget* parent = nullptr);

    Crawler* crawler() const { return m_crawler; }
    RecordListView* list() const { return m_list; }
    CustomizableToolBar* toolBar() const { return m_toolBar; }

    // The switch's state: where the next crawl also examines the quarantine attribute.
    bool showQuarantine() const;
    void setShowQuarantine(bool show);

    // The menu item "Read AppleDouble Sidecars": the preference, on by default, kept when changed.
    QAction* sidecarsAction() const { return m_readSidecars; }
    bool readSidecars() const;

    // The texts of the options and status lines, as shown.
    QString filePathText() const;
    QString countText() const;
    QString statusText() const;

    // "Load Folder": opens the folder dialog (non-modal) and returns it; confirming it
    // crawls the chosen folder with the switch's value at the time of the press.
    QFileDialog* chooseFolder();
    // Crawls `rawFolder` (file-system bytes) with the switch's value.
    void crawlFolder(const QByteArray& rawFolder);
    // "Open Disk Image…": the same for an image file (non-modal dialog), every volume crawled.
    QFileDialog* chooseImage();
    void crawlImage(const QByteArray& rawImage);
    // Crawls `rawImage`; where it has several volumes, first asks which, and where a chosen one is
    // encrypted, its password (window-modal dialogs, the first returned; see ImagePasswordPrompt).
    QDialog* openImage(const QByteArray& rawImage, bool showQuarantine);
    // "Save Folder to CSV": opens the save dialog; while the crawl runs, asks first whether to
    // save the rows found so far, and says afterwards that the file holds a partial list.
    void saveCSV();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void addOpenImageItem();
    void openSaveDialog();
    QString rowsText(qint64 rows) const;
    QString examinedText() const;
    // Why the list is empty, for the hint inside it.
    QString emptyListHint() const;
    // `one` or `many` (untranslated, with %1) for `count`, the number as the locale writes it.
    QString counted(qint64 count, const char* one, const char* many) const;
    void updateCount();
    void updateStatus();

    Crawler* m_crawler;
    CustomizableToolBar* m_toolBar;
    QCheckBox* m_showQuarantine;
    QLabel* m_filePath;
    QLabel* m_count;
    QLabel* m_status;
    QPushButton* m_stop;
    RecordListView* m_list;
    QTimer* m_statusTimer;
    QMenu* m_crawlMenu;
    QAction* m_readSidecars;
    QAction* m_stopAction; // the Stop button's menu item, Escape
};
