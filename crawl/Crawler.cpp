#include "crawl/Crawler.h"

#include "core/AbsolutePath.h"
#include "core/CsvWriter.h"
#include "crawl/CrawlQueue.h"
#include "crawl/CrawlSession.h"
#include "crawl/TreeWalker.h"
#include "image/ImageCrawl.h"
#include "origin/OriginDatabases.h"

#include <QCoreApplication>
#include <QFile>
#include <QThreadPool>

#include <cstring>

Crawler::Crawler(QObject* parent) : QAbstractListModel(parent), m_drainTimer(new QTimer(this))
{
    m_drainTimer->setSingleShot(true);
    connect(m_drainTimer, &QTimer::timeout, this, &Crawler::drain);
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

void Crawler::startCrawl(const QString& folder, bool showQuarantine, int threads, bool sidecars)
{
    startCrawl(QFile::encodeName(folder), showQuarantine, threads, sidecars);
}

void Crawler::startCrawl(const QByteArray& rawFolder, bool showQuarantine, int threads, bool sidecars)
{
    const std::shared_ptr<CrawlSession> session = beginSession(rawFolder, false);
    crawlQueue()->start([session, rawFolder, showQuarantine, threads, sidecars] {
        TreeWalker::Options options;
        options.showQuarantine = showQuarantine;
        options.threads = threads;
        options.sidecars = sidecars;
        options.stop = &session->stop;
        options.progress = &session->progress;
        TreeWalker walker(options);
        const TreeWalker::Result result =
            walker.run(rawFolder, [&session](std::vector<Crawled>& records) { session->deliver(records); });
        session->finish(result);
    });
}

void Crawler::startImageCrawl(const QByteArray& rawImage, bool showQuarantine,
                              const std::optional<QByteArray>& password, const QList<int>& volumes, bool sidecars)
{
    const std::shared_ptr<CrawlSession> session = beginSession(rawImage, true);
    m_rawImage = rawImage;
    m_password = password;
    // Read beside the walk: the details pane links image rows to them as soon as they are in.
    m_imageOrigins = std::async(std::launch::async, [rawImage, password] {
                         return ImageOriginDatabases::load(rawImage, password);
                     }).share();
    crawlQueue()->start([session, rawImage, showQuarantine, password, volumes, sidecars, origins = m_imageOrigins] {
        ImageCrawl::Request request;
        request.image = rawImage;
        request.password = password;
        request.volumes = volumes;
        request.options.showQuarantine = showQuarantine;
        request.options.sidecars = sidecars;
        request.options.stop = &session->stop;
        request.options.progress = &session->progress;
        const ImageCrawl::Outcome outcome = ImageCrawl::run(
            request,
            [&session](std::vector<Crawled>& records, const std::vector<quint64>& inodes,
                       const ImageVolume& volume) { session->deliver(records, volume.number, inodes); });
        // As the command line says them: the volumes and entries first, then the databases.
        QStringList notes = outcome.notes;
        const ImageOriginDatabases::Loaded& loaded = origins.get();
        notes += loaded.notes;
        if (loaded.databases)
            notes += loaded.databases->notes();
        session->finish(outcome.totals, outcome.failure, outcome.failure.isEmpty() ? notes : QStringList());
    });
}

std::shared_ptr<CrawlSession> Crawler::beginSession(const QByteArray& rawPath, bool image)
{
    // Shown as text, as the absolute path the walk's rows begin with (a folder named on the
    // command line may be relative); the walk goes by the bytes, which need not be UTF-8.
    const PosixResult<QByteArray> absolute = AbsolutePath::of(rawPath);
    const QString shown = QFile::decodeName(absolute ? absolute.value() : rawPath);
    if (m_session)
        m_session->detach();
    m_session.reset();

    if (m_filePath != shown) {
        m_filePath = shown;
        emit filePathChanged(m_filePath);
    }
    beginResetModel();
    m_crawlList.clear();
    m_crawlList.squeeze();
    m_inImage.clear();
    m_inImage.squeeze();
    endResetModel();
    if (m_theCount != 0) {
        m_theCount = 0;
        emit theCountChanged(m_theCount);
    }

    auto session = std::make_shared<CrawlSession>(
        this, [this] { recordsPending(); }, [this] { finishCrawl(); });
    m_session = session;
    m_failure.clear();
    m_image = image;
    m_rawImage.clear();
    m_password.reset();
    m_imageOrigins = {};
    m_imageNotes.clear();
    m_elapsed = 0;
    m_examined = 0;
    m_unreadableFolders = 0;
    m_unreadableEntries = 0;
    m_links = 0;
    m_quarantineOnly = 0;
    m_drainTimer->stop();
    m_sinceDrain.invalidate();
    m_clock.start();
    setStatus(Running);
    return session;
}

void Crawler::stop()
{
    if (!m_session || m_status != Running)
        return;
    // The walk ends at its next entry and hands over what it found before; finishCrawl follows.
    m_session->stop.store(true);
    setStatus(Stopping);
}

void Crawler::recordsPending()
{
    // Each insertion makes the view do some work: batch what a fast walk finds.
    if (!m_sinceDrain.isValid() || m_sinceDrain.elapsed() >= kDrainInterval)
        drain();
    else if (!m_drainTimer->isActive())
        m_drainTimer->start(int(kDrainInterval - m_sinceDrain.elapsed()));
}

void Crawler::drain()
{
    m_drainTimer->stop();
    m_sinceDrain.start();
    if (!m_session)
        return;
    std::vector<CrawlSession::InImage> where;
    std::vector<Crawled> records = m_session->takePending(m_image ? &where : nullptr);
    if (records.empty())
        return;
    const auto first = int(m_crawlList.size());
    beginInsertRows(QModelIndex(), first, first + int(records.size()) - 1);
    for (Crawled& record : records)
        m_crawlList.append(std::move(record));
    m_inImage.append(QList<CrawlSession::InImage>(where.begin(), where.end()));
    endInsertRows();
    m_theCount += qint64(records.size());
    emit theCountChanged(m_theCount);
}

void Crawler::finishCrawl()
{
    TreeWalker::Result result;
    QString failure;
    if (!m_session || !m_session->isFinished(&result, &failure, &m_imageNotes))
        return;
    drain();
    if (!failure.isEmpty()) {
        m_failure = failure;
        endSession(Unreadable);
    } else if (result.rootError != 0) {
        m_failure = QString::fromLocal8Bit(std::strerror(result.rootError));
        endSession(Unreadable);
    } else {
        endSession(result.stopped ? Stopped : Finished);
    }
    emit crawlFinished();
}

void Crawler::endSession(Status status)
{
    m_examined = m_session->progress.examined.load();
    m_unreadableFolders = m_session->progress.unreadableFolders.load();
    m_unreadableEntries = m_session->progress.unreadableEntries.load();
    m_links = m_session->progress.links.load();
    m_quarantineOnly = m_session->progress.quarantineOnly.load();
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
    return m_session ? m_session->progress.unreadableFolders.load(std::memory_order_relaxed)
                     : m_unreadableFolders;
}

qint64 Crawler::unreadableEntries() const
{
    return m_session ? m_session->progress.unreadableEntries.load(std::memory_order_relaxed)
                     : m_unreadableEntries;
}

qint64 Crawler::linksPassedOver() const
{
    return m_session ? m_session->progress.links.load(std::memory_order_relaxed) : m_links;
}

qint64 Crawler::quarantineOnlyPassedOver() const
{
    return m_session ? m_session->progress.quarantineOnly.load(std::memory_order_relaxed) : m_quarantineOnly;
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
    case InImageRole:
        return m_image;
    case ImageVolumeRole:
        return index.row() < m_inImage.size() ? QVariant(m_inImage.at(index.row()).volume) : QVariant();
    case ImageInodeRole:
        return index.row() < m_inImage.size() ? QVariant(m_inImage.at(index.row()).inode) : QVariant();
    default:
        return {};
    }
}

QHash<int, QByteArray> Crawler::roleNames() const
{
    return recordRoleNames();
}
