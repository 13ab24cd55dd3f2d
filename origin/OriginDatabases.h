#pragma once

#include "origin/MacSources.h"
#include "origin/ProvenanceRecord.h"
#include "origin/QuarantineEvent.h"

#include <QStringList>

#include <memory>

// The rows of a Mac's ExecPolicy and QuarantineEventsV2 databases, read once into memory
// so that any number of files can be linked to them. Immutable once loaded: shared
// between threads without a lock.
class OriginDatabases
{
public:
    // Reads every database of `sources`. One that cannot be read (not SQLite, a table
    // missing, damaged) is left out with a note; nothing fails.
    static std::shared_ptr<const OriginDatabases> load(const MacSources& sources);

    const MacSources& sources() const { return m_sources; }
    bool hasQuarantineEvents() const { return m_readQuarantineEvents; }
    bool hasProvenanceTable() const { return m_readProvenance; }

    // The event of a quarantine value's identifier (any case), or nothing.
    std::optional<QuarantineEvent> event(const QString& eventID) const;
    // The row a provenance value names, with the byte order that matched, or nothing.
    std::optional<ProvenanceRecord> provenance(const QByteArray& value) const;

    // What could not be read, one line each.
    QStringList notes() const { return m_notes; }

private:
    MacSources m_sources;
    QHash<QString, QuarantineEvent> m_events;
    QHash<qint64, ProvenanceRecord> m_provenance;
    bool m_readQuarantineEvents = false;
    bool m_readProvenance = false;
    QStringList m_notes;
};
