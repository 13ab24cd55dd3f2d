#pragma once

#include "origin/MacSources.h"
#include "origin/ProvenanceRecord.h"
#include "origin/QuarantineEvent.h"

#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

class ReadOnlyDatabase;

// A Mac's ExecPolicy and QuarantineEventsV2 databases, opened once (read-only, immutable)
// and kept open while a list is shown, so that any number of files can be linked to their
// rows: each row is found by its key, and each page read stays in memory. Safe to share
// between threads.
class OriginDatabases
{
public:
    OriginDatabases();
    ~OriginDatabases();

    // Opens every database of `sources`. One that cannot be read (not SQLite, a table or
    // column missing) is left out with a note; nothing fails.
    static std::shared_ptr<const OriginDatabases> load(const MacSources& sources);

    const MacSources& sources() const { return m_sources; }
    bool hasQuarantineEvents() const { return !m_events.empty(); }
    bool hasProvenanceTable() const { return bool(m_execPolicy); }

    // The event of a quarantine value's identifier (any case), or nothing.
    std::optional<QuarantineEvent> event(const QString& eventID) const;
    // The row a provenance value names, with the byte order that matched, or nothing.
    std::optional<ProvenanceRecord> provenance(const QByteArray& value) const;

    // What could not be read, one line each.
    QStringList notes() const { return m_notes; }

private:
    struct Database;

    MacSources m_sources;
    std::unique_ptr<Database> m_execPolicy;
    std::vector<std::unique_ptr<Database>> m_events;
    QStringList m_notes;
    mutable std::mutex m_mutex; // one lookup at a time on the connections
};
