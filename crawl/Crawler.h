#pragma once

#include "core/CsvWriteResult.h"
#include "core/RecordRoles.h"
#include "crawl/Crawled.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <memory>

class CrawlSession;

// The crawl window's model: the records of the last crawl started (crawlList), in walk
// order, growing while the walk runs on crawlQueue. Belongs to the GUI thread. A new
// crawl, stop(), the model's destruction and the application's quit each stop the
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
        Finished,
        Stopped,   // by stop()
        Unreadable // the folder itself could not be read
    };
    Q_ENUM(Status)

    explicit Crawler(QObject* parent = nullptr);
    ~Crawler() override;

    const QList<Crawled>& crawlList() const { return m_crawlList; }
    QString filePath() const { return m_filePath; }
    qint64 theCount() const { return m_theCount; }

    // Empties the list, sets filePath to `folder` and queues the walk; a crawl still running
    // stops and its records are not shown. Returns at once.
    Q_INVOKABLE void startCrawl(const QString& folder, bool showQuarantine);
    // Stops the running crawl; the records found so far stay.
    Q_INVOKABLE void stop();

    Status status() const { return m_status; }
    bool isRunning() const { return m_status == Running; }
    // Live while running, final afterwards.
    qint64 entriesExamined() const;
    qint64 unreadableFolders() const;
    qint64 elapsedMilliseconds() const;
    // Why the folder could not be read (with status Unreadable).
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
    // The crawl ended by itself (not superseded or stopped).
    void crawlFinished();

private:
    void drain();
    void finishCrawl();
    void endSession(Status status);
    void setStatus(Status status);

    QList<Crawled> m_crawlList;
    QString m_filePath;
    qint64 m_theCount = 0;
    std::shared_ptr<CrawlSession> m_session;
    Status m_status = Idle;
    QString m_failure;
    QElapsedTimer m_clock;
    qint64 m_elapsed = 0;
    qint64 m_examined = 0;
    qint64 m_unreadable = 0;
};
