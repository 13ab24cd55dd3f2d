#include "crawl/CrawlQueue.h"

#include <QThreadPool>

QThreadPool* crawlQueue()
{
    static QThreadPool* const queue = [] {
        auto* pool = new QThreadPool;
        pool->setObjectName(QStringLiteral("crawlQueue"));
        pool->setMaxThreadCount(4);
        return pool;
    }();
    return queue;
}
