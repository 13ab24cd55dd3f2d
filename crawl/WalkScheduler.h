#pragma once

#include "crawl/ListedFolder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

// Shares a walk's folders among its threads. A thread examines a folder depth first and, at
// a subfolder, leaves the rest of the folder here, where an idle thread takes it up; the
// rest nearest the walk's front goes first, so records examined ahead wait little. The walk
// is done when no folder is left and none is being examined.
//
// Its mutex also guards what the threads publish (see WalkNode).
class WalkScheduler
{
public:
    explicit WalkScheduler(const std::atomic<bool>* stop) : m_stop(stop) {}

    std::mutex& mutex() { return m_mutex; }
    bool stopped() const { return m_stop && m_stop->load(std::memory_order_relaxed); }

    // Leaves the rest of `folder` for any thread.
    void leave(std::shared_ptr<ListedFolder> folder);
    // The next folder to examine, waiting while others may still leave one; null when the
    // walk is done. Once stopped, the folders left are dropped, finished.
    std::shared_ptr<ListedFolder> take();
    // The folder take() gave has been examined as far as this thread goes.
    void release();
    // Waits up to `interval` for the walk to be done; whether it is.
    bool waitDone(std::chrono::milliseconds interval);

private:
    bool done() const { return m_folders.empty() && m_active == 0; }

    const std::atomic<bool>* const m_stop;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::vector<std::shared_ptr<ListedFolder>> m_folders; // a heap, ListedFolder::comesAfter
    int m_active = 0;
    int m_sleepers = 0;
};
