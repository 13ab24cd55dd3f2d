#include "crawl/CrawlSession.h"

#include <QMetaObject>

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

void CrawlSession::finish(const TreeWalker::Result& result, const QString& failure)
{
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_result = result;
    m_failure = failure;
    if (m_receiver)
        post(m_onFinished);
}

std::vector<Crawled> CrawlSession::takePending()
{
    std::vector<Crawled> taken;
    std::lock_guard lock(m_mutex);
    taken.swap(m_pending);
    return taken;
}

bool CrawlSession::isFinished(TreeWalker::Result* result, QString* failure)
{
    std::lock_guard lock(m_mutex);
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
}
