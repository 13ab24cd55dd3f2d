#pragma once

#include "crawl/Crawled.h"
#include "crawl/TreeWalker.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// What one crawl shares between its walk (on crawlQueue) and its model (on the GUI
// thread): the stop token, the live counters, and the records found but not yet shown.
// A stopped walk still hands over what it found before the stop. The model detaches
// itself when it supersedes or loses the crawl; from then on the walk stops, hands over
// nothing and posts nothing.
class CrawlSession
{
public:
    // `onPending` and `onFinished` run on `receiver`'s thread, posted there.
    CrawlSession(QObject* receiver, std::function<void()> onPending, std::function<void()> onFinished);

    // Where a record of a disk image is: its volume's number and its inode number there.
    struct InImage
    {
        int volume = 0;
        quint64 inode = 0;
    };

    std::atomic<bool> stop{false};
    TreeWalker::Progress progress;

    // Walk side.
    void deliver(std::vector<Crawled>& records);
    // The records of a disk image's volume, with the inode number of each.
    void deliver(std::vector<Crawled>& records, int volume, const std::vector<quint64>& inodes);
    // `failure`: why nothing could be read, where the walk's own result does not say (an image).
    // `notes`: what of an image could not be read, one line each.
    void finish(const TreeWalker::Result& result, const QString& failure = {}, const QStringList& notes = {});

    // Model side.
    // The records delivered since; an image's with where each is, in the same order.
    std::vector<Crawled> takePending(std::vector<InImage>* where = nullptr);
    bool isFinished(TreeWalker::Result* result = nullptr, QString* failure = nullptr,
                    QStringList* notes = nullptr);
    // Stops the walk and cuts every later delivery and notification.
    void detach();

private:
    void post(const std::function<void()>& call);

    std::mutex m_mutex;
    QObject* m_receiver; // null once detached
    std::function<void()> m_onPending;
    std::function<void()> m_onFinished;
    std::vector<Crawled> m_pending;
    std::vector<InImage> m_pendingWhere;
    bool m_finished = false;
    TreeWalker::Result m_result;
    QString m_failure;
    QStringList m_notes;
};
