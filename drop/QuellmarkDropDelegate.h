#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <functional>

class FileInfo;
class QMimeData;
class QWidget;

// The drop window's drop target: accepts drags that carry at least one local file URL
// (text/uri-list), and for a drop replaces the window's FileInfo with a new, empty one,
// then hands each file URL to whatever FileInfo the window holds when that file's turn
// comes. Files are added on the GUI thread, a few milliseconds' worth per event-loop
// pass, so the window repaints while a drop of thousands of files goes in.
class QuellmarkDropDelegate : public QObject
{
    Q_OBJECT

public:
    // Reads and replaces the window's current model. `set` takes ownership.
    struct Binding
    {
        std::function<FileInfo*()> get;
        std::function<void(FileInfo*)> set;
    };

    explicit QuellmarkDropDelegate(Binding theFileInfo, QObject* parent = nullptr);

    // Handles the drag and drop events that reach `target` (before the widget sees them).
    void attach(QWidget* target);

    // The local file URLs of a drag, in the order the drag gives them.
    static QList<QUrl> fileUrls(const QMimeData* data);
    // True when the drag carries at least one local file URL.
    static bool validateDrop(const QMimeData* data);
    // Starts a new list and queues the drag's file URLs; false (and nothing changed)
    // when it carries none.
    bool performDrop(const QMimeData* data);
    // The same for file URLs from elsewhere (the command line).
    bool dropFiles(const QList<QUrl>& files);

    // File URLs dropped but not yet handed to a model.
    qsizetype pendingCount() const { return qsizetype(m_pending.size()); }

signals:
    // The queue ran empty: every dropped file so far has been added.
    void drained();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void feed();

    Binding m_theFileInfo;
    std::deque<QUrl> m_pending;
    QTimer m_feeder;
};
