#include "crawl/WalkEmitter.h"

std::shared_ptr<WalkNode> WalkEmitter::start()
{
    auto root = std::make_shared<WalkNode>();
    m_cursors.push_back({root, {}, 0});
    return root;
}

void WalkEmitter::emitReady()
{
    m_batch.clear();
    m_reads.clear();
    while (!m_cursors.empty()) {
        Cursor& cursor = m_cursors.back();
        if (cursor.index == cursor.items.size()) {
            cursor.items.clear();
            cursor.index = 0;
            bool finished;
            {
                std::lock_guard lock(m_mutex);
                cursor.items.swap(cursor.node->ready);
                finished = cursor.node->finished;
            }
            if (cursor.items.empty()) {
                if (!finished)
                    break;
                m_cursors.pop_back();
                continue;
            }
        }
        WalkItem& item = cursor.items[cursor.index++];
        if (item.record)
            m_batch.push_back(std::move(*item.record));
        if (item.reads)
            m_reads.push_back(std::move(*item.reads));
        if (item.failure && m_onFailure) {
            // The records before it go first, so that it arrives where its row would be.
            handOver();
            m_onFailure(*item.failure);
        }
        if (item.child) {
            std::shared_ptr<WalkNode> child = std::move(item.child);
            m_cursors.push_back({std::move(child), {}, 0});
        }
    }
    handOver();
}

void WalkEmitter::handOver()
{
    if (m_batch.empty())
        return;
    m_progress.listed.fetch_add(qint64(m_batch.size()), std::memory_order_relaxed);
    m_sink(m_batch, m_reads);
    m_batch.clear();
    m_reads.clear();
}
