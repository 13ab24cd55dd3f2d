#pragma once

#include "ui/TextRowDelegate.h"

#include <QMainWindow>

class DropPlaceholder;
class EmptyListHint;
class FindBar;
class FileInfo;
class QLabel;
class QuellmarkDropDelegate;
class RecordListView;

// The drop window: a list of the files of the latest drop, a placeholder symbol while
// the list is empty, and Copy of the selected rows. Every drop replaces the model.
class DropView : public QMainWindow
{
    Q_OBJECT

public:
    // One record: name, provenance and quarantine values when not empty, path.
    class FileRow : public TextRowDelegate
    {
    public:
        explicit FileRow(QObject* parent = nullptr) : TextRowDelegate(parent) {}
        QStringList pieces(const QModelIndex& index) const override;
    };

    explicit DropView(QWidget* parent = nullptr);

    FileInfo* fileInfo() const { return m_fileInfo; }
    // Shows `fileInfo` (taking ownership) and discards the previous model and selection.
    void setFileInfo(FileInfo* fileInfo);

    RecordListView* list() const { return m_list; }
    DropPlaceholder* placeholder() const { return m_placeholder; }
    // "N could not be read" while the list has files that could not be examined, else empty.
    QString unreadableText() const;
    QuellmarkDropDelegate* dropDelegate() const { return m_dropDelegate; }

signals:
    void fileInfoChanged(FileInfo* fileInfo);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updatePlaceholder();
    void centrePlaceholder();
    void updateUnreadable();

    FileInfo* m_fileInfo = nullptr;
    RecordListView* m_list;
    DropPlaceholder* m_placeholder;
    QuellmarkDropDelegate* m_dropDelegate;
    FindBar* m_findBar;
    EmptyListHint* m_hint;
    QLabel* m_unreadable;
};
