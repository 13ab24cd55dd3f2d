#include "crawl/WalkScheduler.h"

#include "crawl/WalkEmitter.h"

#include <algorithm>

void WalkScheduler::leave(std::shared_ptr<ListedFolder> folder)
{
    std::lock_guard lock(m_mutex);
    m_folders.push_back(std::move(folder));
    std::push_heap(m_folders.begin(), m_folders.end(), ListedFolder::comesAfter);
    if (m_sleepers > 0)
        m_condition.notify_one();
}

std::shared_ptr<ListedFolder> WalkScheduler::take()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (stopped()) {
            // What is left of these folders will not be examined: nothing to wait for.
            for (const auto& folder : m_folders)
                folder->node->finished = true;
            m_folders.clear();
        }
        if (!m_folders.empty()) {
            std::pop_heap(m_folders.begin(), m_folders.end(), ListedFolder::comesAfter);
            std::shared_ptr<ListedFolder> folder = std::move(m_folders.back());
            m_folders.pop_back();
            ++m_active;
            return folder;
        }
        if (m_active == 0) {
            m_condition.notify_all();
            return nullptr;
        }
        ++m_sleepers;
        m_condition.wait(lock);
        --m_sleepers;
    }
}

void WalkScheduler::release()
{
    std::lock_guard lock(m_mutex);
    if (--m_active == 0 && m_folders.empty())
        m_condition.notify_all();
}

bool WalkScheduler::waitDone(std::chrono::milliseconds interval)
{
    std::unique_lock lock(m_mutex);
    return m_condition.wait_for(lock, interval, [this] { return done(); });
}
