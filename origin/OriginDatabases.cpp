#include "origin/OriginDatabases.h"

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

std::shared_ptr<const OriginDatabases> OriginDatabases::load(const MacSources& sources)
{
    auto databases = std::make_shared<OriginDatabases>();
    databases->m_sources = sources;
    const auto read = [&databases](const QByteArray& path, const QString& problem) {
        if (!problem.isEmpty()) {
            databases->m_notes.append(problem);
            return false;
        }
        if (const QString note = unreadLogNote(path); !note.isEmpty())
            databases->m_notes.append(note);
        return true;
    };
    if (!sources.execPolicy.isEmpty())
        databases->m_readProvenance =
            read(sources.execPolicy, ProvenanceRecord::loadAll(sources.execPolicy, databases->m_provenance));
    for (const QByteArray& path : sources.quarantineEvents) {
        if (read(path, QuarantineEvent::loadAll(path, databases->m_events)))
            databases->m_readQuarantineEvents = true;
    }
    return databases;
}

std::optional<QuarantineEvent> OriginDatabases::event(const QString& eventID) const
{
    const auto found = m_events.constFind(eventID.toUpper());
    if (found == m_events.cend())
        return std::nullopt;
    return *found;
}

std::optional<ProvenanceRecord> OriginDatabases::provenance(const QByteArray& value) const
{
    for (const auto& [key, byteOrder] : ProvenanceRecord::keysOf(value)) {
        const auto found = m_provenance.constFind(key);
        if (found != m_provenance.cend()) {
            ProvenanceRecord record = *found;
            record.byteOrder = byteOrder;
            return record;
        }
    }
    return std::nullopt;
}
