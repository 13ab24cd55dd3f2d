#include "origin/OriginDatabases.h"

#include "origin/ReadOnlyDatabase.h"
#include "origin/UtcTime.h"

#include <QFile>
#include <QFileInfo>

namespace {

// An immutable open does not read a write-ahead log: rows still in it are not seen.
QString unreadLogNote(const QByteArray& database)
{
    const QFileInfo log(QFile::decodeName(database + "-wal"));
    if (!log.exists() || log.size() == 0)
        return {};
    return QStringLiteral(
               "%1 has a write-ahead log (%2 bytes) that was not read: its latest rows may be missing")
        .arg(QFile::decodeName(database))
        .arg(log.size());
}

} // namespace

struct OriginDatabases::Database
{
    explicit Database(const QByteArray& rawPath) : path(QFile::decodeName(rawPath)), connection(rawPath) {}

    QString path;
    ReadOnlyDatabase connection;
};

OriginDatabases::OriginDatabases() = default;
OriginDatabases::~OriginDatabases() = default;

std::shared_ptr<const OriginDatabases> OriginDatabases::load(const MacSources& sources)
{
    auto databases = std::make_shared<OriginDatabases>();
    databases->m_sources = sources;
    // The database if `check` finds its table, else nothing and a note.
    const auto open = [&databases](const QByteArray& path, QString (*check)(ReadOnlyDatabase&)) {
        auto database = std::make_unique<Database>(path);
        if (const QString problem = check(database->connection); !problem.isEmpty()) {
            databases->m_notes.append(QStringLiteral("%1: %2").arg(database->path, problem));
            return std::unique_ptr<Database>();
        }
        if (const QString note = unreadLogNote(path); !note.isEmpty())
            databases->m_notes.append(note);
        return database;
    };
    if (!sources.execPolicy.isEmpty())
        databases->m_execPolicy = open(sources.execPolicy, &ProvenanceRecord::check);
    for (const QByteArray& path : sources.quarantineEvents) {
        if (auto database = open(path, &QuarantineEvent::check))
            databases->m_events.push_back(std::move(database));
    }
    return databases;
}

std::optional<QuarantineEvent> OriginDatabases::event(const QString& eventID) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& database : m_events) {
        if (auto event = QuarantineEvent::find(database->connection, eventID)) {
            event->database = database->path;
            if (event->timestamp)
                event->time = UtcTime::fromMacAbsolute(*event->timestamp);
            return event;
        }
    }
    return std::nullopt;
}

std::optional<ProvenanceRecord> OriginDatabases::provenance(const QByteArray& value) const
{
    if (!m_execPolicy)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    for (const auto& [key, byteOrder] : ProvenanceRecord::keysOf(value)) {
        if (auto record = ProvenanceRecord::find(m_execPolicy->connection, key)) {
            record->byteOrder = byteOrder;
            record->database = m_execPolicy->path;
            if (record->timestamp)
                record->time = UtcTime::fromUnixSeconds(*record->timestamp);
            return record;
        }
    }
    return std::nullopt;
}
