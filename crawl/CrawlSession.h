#pragma once

#include "crawl/Crawled.h"
#include "crawl/TreeWalker.h"

#include <QObject>
#include <QString>

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

    std::atomic<bool> stop{false};
    TreeWalker::Progress progress;

    // Walk side.
    void deliver(std::vector<Crawled>& records);
    // `failure`: why nothing could be read, where the walk's own result does not say (an image).
    void finish(const TreeWalker::Result& result, const QString& failure = {});

    // Model side.
    std::vector<Crawled> takePending();
    bool isFinished(TreeWalker::Result* result = nullptr, QString* failure = nullptr);
    // Stops the walk and cuts every later delivery and notification.
    void detach();

private:
    void post(const std::function<void()>& call);

    std::mutex m_mutex;
    QObject* m_receiver; // null once detached
    std::function<void()> m_onPending;
    std::function<void()> m_onFinished;
    std::vector<Crawled> m_pending;
    bool m_finished = false;
    TreeWalker::Result m_result;
    QString m_failure;
};
