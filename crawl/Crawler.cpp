#include "crawl/Crawler.h"

#include "core/CsvWriter.h"
#include "crawl/CrawlQueue.h"
#include "crawl/CrawlSession.h"
#include "crawl/TreeWalker.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <cstring>

Crawler::Crawler(QObject* parent) : QAbstractListModel(parent)
{
    // Quitting stops every crawl without waiting for it.
    if (auto* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            if (m_session)
                m_session->detach();
        });
}

Crawler::~Crawler()
{
    if (m_session)
        m_session->detach();
}

void Crawler::startCrawl(const QString& folder, bool showQuarantine)
{
    if (m_session)
        m_session->detach();
    m_session.reset();

    if (m_filePath != folder) {
        m_filePath = folder;
        emit filePathChanged(m_filePath);
    }
    beginResetModel();
    m_crawlList.clear();
    m_crawlList.squeeze();
    endResetModel();
    if (m_theCount != 0) {
        m_theCount = 0;
        emit theCountChanged(m_theCount);
    }

    auto session = std::make_shared<CrawlSession>(
        this, [this] { drain(); }, [this] { finishCrawl(); });
    m_session = session;
    m_failure.clear();
    m_elapsed = 0;
    m_examined = 0;
    m_unreadable = 0;
    m_clock.start();
    setStatus(Running);

    crawlQueue()->start([session, folder, showQuarantine] {
        TreeWalker::Options options;
        options.showQuarantine = showQuarantine;
        options.cancel = &session->cancelled;
        options.progress = &session->progress;
        TreeWalker walker(options);
        const TreeWalker::Result result =
            walker.run(folder, [&session](std::vector<Crawled>& records) { session->deliver(records); });
        session->finish(result);
    });
}

void Crawler::stop()
{
    if (!m_session || m_status != Running)
        return;
    // What was found before the stop is still shown; nothing after it.
    m_session->cancelled.store(true);
    drain();
    endSession(Stopped);
}

void Crawler::drain()
{
    if (!m_session)
        return;
    std::vector<Crawled> records = m_session->takePending();
    if (records.empty())
        return;
    const auto first = int(m_crawlList.size());
    beginInsertRows(QModelIndex(), first, first + int(records.size()) - 1);
    for (Crawled& record : records)
        m_crawlList.append(std::move(record));
    endInsertRows();
    m_theCount += qint64(records.size());
    emit theCountChanged(m_theCount);
}

void Crawler::finishCrawl()
{
    TreeWalker::Result result;
    if (!m_session || !m_session->isFinished(&result))
        return;
    drain();
    if (result.rootError != 0) {
        m_failure = QString::fromLocal8Bit(std::strerror(result.rootError));
        endSession(Unreadable);
    } else {
        endSession(Finished);
    }
    emit crawlFinished();
}

void Crawler::endSession(Status status)
{
    m_examined = m_session->progress.examined.load();
    m_unreadable = m_session->progress.unreadableFolders.load();
    m_elapsed = m_clock.elapsed();
    m_session->detach();
    m_session.reset();
    setStatus(status);
}

void Crawler::setStatus(Status status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged(m_status);
}

qint64 Crawler::entriesExamined() const
{
    return m_session ? m_session->progress.examined.load(std::memory_order_relaxed) : m_examined;
}

qint64 Crawler::unreadableFolders() const
{
    return m_session ? m_session->progress.unreadableFolders.load(std::memory_order_relaxed) : m_unreadable;
}

qint64 Crawler::elapsedMilliseconds() const
{
    return m_session ? m_clock.elapsed() : m_elapsed;
}

CsvWriteResult Crawler::writeCSV(const QString& destination) const
{
    CsvWriter csv(Crawled::csvHeader());
    for (const Crawled& record : m_crawlList)
        csv.addRow(record.csvFields());
    return csv.exportTo(destination);
}

QString Crawler::proposedCsvName() const
{
    QString name = QStringLiteral("Quellmark_") + m_filePath + QStringLiteral(".csv");
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

int Crawler::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_crawlList.size());
}

QVariant Crawler::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Crawled& record = m_crawlList.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return record.name();
    case Qt::ToolTipRole:
    case PathRole:
        return record.path();
    case ProvenanceIDRole:
        return record.provenanceID();
    case QuarantineAppRole:
        return record.quarantineApp();
    case IdRole:
        return record.id();
    case ExportTextRole:
        return record.exportText();
    default:
        return {};
    }
}

QHash<int, QByteArray> Crawler::roleNames() const
{
    return recordRoleNames();
}
