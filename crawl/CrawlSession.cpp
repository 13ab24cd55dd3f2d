#include "crawl/CrawlSession.h"

#include <QMetaObject>

#include <algorithm>

CrawlSession::CrawlSession(QObject* receiver, std::function<void()> onPending,
                           std::function<void()> onFinished)
    : m_receiver(receiver), m_onPending(std::move(onPending)), m_onFinished(std::move(onFinished))
{}

void CrawlSession::post(const std::function<void()>& call)
{
    // Under m_mutex: the receiver cannot be destroyed before detach() has taken the lock,
    // and its destruction discards the events posted to it.
    QMetaObject::invokeMethod(m_receiver, call, Qt::QueuedConnection);
}

void CrawlSession::deliver(std::vector<Crawled>& records)
{
    std::lock_guard lock(m_mutex);
    if (!m_receiver)
        return;
    const bool wasEmpty = m_pending.empty();
    if (wasEmpty)
        m_pending.swap(records);
    else
        std::move(records.begin(), records.end(), std::back_inserter(m_pending));
    // One drain per emptying of the buffer: a fast walk does not flood the event loop.
    if (wasEmpty)
        post(m_onPending);
}

void CrawlSession::deliver(std::vector<Crawled>& records, int volume, const std::vector<quint64>& inodes)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_receiver)
            return;
        for (const quint64 inode : inodes)
            m_pendingWhere.push_back({volume, inode});
    }
    // Taken with the records: a drain between the two locks finds the places first, never
    // records without theirs.
    deliver(records);
}

void CrawlSession::finish(const TreeWalker::Result& result, const QString& failure, const QStringList& notes)
{
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_result = result;
    m_failure = failure;
    m_notes = notes;
    if (m_receiver)
        post(m_onFinished);
}

std::vector<Crawled> CrawlSession::takePending(std::vector<InImage>* where)
{
    std::vector<Crawled> taken;
    std::lock_guard lock(m_mutex);
    taken.swap(m_pending);
    if (where) {
        where->assign(m_pendingWhere.begin(),
                      m_pendingWhere.begin() + qsizetype(std::min(taken.size(), m_pendingWhere.size())));
        m_pendingWhere.erase(m_pendingWhere.begin(), m_pendingWhere.begin() + qsizetype(where->size()));
    }
    return taken;
}

bool CrawlSession::isFinished(TreeWalker::Result* result, QString* failure, QStringList* notes)
{
    std::lock_guard lock(m_mutex);
    if (notes)
        *notes = m_notes;
    if (result)
        *result = m_result;
    if (failure)
        *failure = m_failure;
    return m_finished;
}

void CrawlSession::detach()
{
    stop.store(true);
    std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
    m_pending.clear();
    m_pendingWhere.clear();
}
