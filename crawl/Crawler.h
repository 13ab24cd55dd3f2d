#pragma once

#include "core/CsvWriteResult.h"
#include "core/RecordRoles.h"
#include "crawl/CrawlSession.h"
#include "crawl/Crawled.h"
#include "image/ImageOriginDatabases.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>

#include <future>
#include <memory>
#include <optional>

// The crawl window's model: the records of the last crawl started (crawlList), in walk
// order, growing while the walk runs on crawlQueue. Belongs to the GUI thread. Records
// arrive in batches at most every kDrainInterval, so a fast walk does not keep the
// event loop busy with insertions, and within that time of reaching the model, so a slow
// one shows each record soon after it was examined. stop() keeps every record examined
// before it; a new crawl, the model's destruction and the application's quit abandon the
// running walk, which then adds nothing more.
class Crawler : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString filePath READ filePath NOTIFY filePathChanged)
    Q_PROPERTY(qint64 theCount READ theCount NOTIFY theCountChanged)
    Q_PROPERTY(Status status READ status NOTIFY statusChanged)

public:
    enum Status
    {
        Idle, // no crawl started yet
        Running,
        Stopping, // stop() was called; the walk hands over what it found before
        Finished,
        Stopped,   // by stop()
        Unreadable // the folder or disk image itself could not be read
    };
    Q_ENUM(Status)

    explicit Crawler(QObject* parent = nullptr);
    ~Crawler() override;

    const QList<Crawled>& crawlList() const { return m_crawlList; }
    QString filePath() const { return m_filePath; }
    qint64 theCount() const { return m_theCount; }

    // Empties the list, sets filePath to `folder` and queues the walk (with `threads` walking
    // threads, 0 for the default; with `sidecars`, files lacking a value take it from their
    // AppleDouble file); a crawl still running stops and its records are not shown. Returns
    // at once.
    Q_INVOKABLE void startCrawl(const QString& folder, bool showQuarantine, int threads = 0,
                                bool sidecars = true);
    // The same for a folder given as file-system bytes (a command-line argument).
    void startCrawl(const QByteArray& rawFolder, bool showQuarantine, int threads = 0, bool sidecars = true);
    // Crawls the disk image at `rawImage` (file-system bytes): every volume, with rows as a
    // folder crawl has them, streaming in the same way; encrypted volumes with `password`;
    // only the volumes numbered `volumes` when given; AppleDouble sidecars read with `sidecars`.
    // The image's own origin databases are read beside the walk. Returns at once.
    void startImageCrawl(const QByteArray& rawImage, bool showQuarantine,
                         const std::optional<QByteArray>& password = std::nullopt, const QList<int>& volumes = {},
                         bool sidecars = true);
    // Whether the last crawl started is of a disk image.
    bool crawlsImage() const { return m_image; }
    // Of the last image crawl: the image, the password it was given, its origin databases
    // (ready once read), and, when it ended, what could not be read (one line each, as the
    // command line says them).
    QByteArray rawImage() const { return m_rawImage; }
    std::optional<QByteArray> imagePassword() const { return m_password; }
    std::shared_future<ImageOriginDatabases::Loaded> imageOrigins() const { return m_imageOrigins; }
    QStringList imageNotes() const { return m_imageNotes; }
    // Stops the running crawl: the walk examines nothing more, and every record it examined
    // before is added, in walk order, before the status becomes Stopped.
    Q_INVOKABLE void stop();

    Status status() const { return m_status; }
    bool isRunning() const { return m_status == Running || m_status == Stopping; }
    // Live while running, final afterwards.
    qint64 entriesExamined() const;
    qint64 unreadableFolders() const;
    qint64 unreadableEntries() const;
    qint64 linksPassedOver() const;          // symbolic links, which are not followed
    qint64 quarantineOnlyPassedOver() const; // entries a crawl with Show Quarantine would list
    qint64 elapsedMilliseconds() const;
    // Why the folder or image could not be read (with status Unreadable).
    QString failure() const { return m_failure; }

    // Writes crawlList as CSV to `destination`, atomically; nothing at all for an empty list.
    CsvWriteResult writeCSV(const QString& destination) const;
    // "Quellmark_" + filePath + ".csv", each "/" replaced by "_".
    QString proposedCsvName() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void filePathChanged(const QString& filePath);
    void theCountChanged(qint64 theCount);
    void statusChanged(Crawler::Status status);
    // The walk has ended (finished, stopped, or the folder could not be read) and every
    // record it found is in the list. Not emitted for a crawl that was superseded.
    void crawlFinished();

public:
    static constexpr int kDrainInterval = 50; // milliseconds

private:
    std::shared_ptr<CrawlSession> beginSession(const QByteArray& rawPath, bool image);
    void recordsPending();
    void drain();
    void finishCrawl();
    void endSession(Status status);
    void setStatus(Status status);

    QList<Crawled> m_crawlList;
    QList<CrawlSession::InImage> m_inImage; // of an image's records, row by row
    QString m_filePath;
    qint64 m_theCount = 0;
    std::shared_ptr<CrawlSession> m_session;
    Status m_status = Idle;
    QString m_failure;
    bool m_image = false;
    QByteArray m_rawImage;
    std::optional<QByteArray> m_password;
    std::shared_future<ImageOriginDatabases::Loaded> m_imageOrigins;
    QStringList m_imageNotes;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceDrain;
    QTimer* m_drainTimer;
    qint64 m_elapsed = 0;
    qint64 m_examined = 0;
    qint64 m_unreadableFolders = 0;
    qint64 m_unreadableEntries = 0;
    qint64 m_links = 0;
    qint64 m_quarantineOnly = 0;
};
