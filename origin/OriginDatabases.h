#pragma once

#include "origin/MacSources.h"
#include "origin/ProvenanceRecord.h"
#include "origin/QuarantineEvent.h"

#include <QHash>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <vector>

// A Mac's ExecPolicy and QuarantineEventsV2 databases, opened once (read-only, immutable)
// and kept open while a list is shown, so that any number of files can be linked to their
// rows: each row is found by its key, and each page read stays in memory. A table whose key
// has no usable index (missing, or damaged) has its keys read once instead, up to
// kMaxScannedRows of them, and each row is then found by its rowid. Safe to share between threads.
class OriginDatabases
{
public:
    static constexpr qsizetype kMaxScannedRows = 5'000'000; // 16 bytes each in memory

    OriginDatabases();
    ~OriginDatabases();

    // Opens every database of `sources`. One that cannot be used (not SQLite, damaged, a
    // table or column missing, a view in a table's place) is left out with a note; nothing fails.
    static std::shared_ptr<const OriginDatabases> load(const MacSources& sources);
    // The same for databases read into memory (from inside a disk image): `contents` holds the
    // bytes of each path of `sources`; a path without bytes is left out.
    static std::shared_ptr<const OriginDatabases> load(const MacSources& sources,
                                                       const QHash<QByteArray, QByteArray>& contents);

    const MacSources& sources() const { return m_sources; }
    bool hasQuarantineEvents() const { return !m_events.empty(); }
    bool hasProvenanceTable() const { return bool(m_execPolicy); }

    // Whose file is looked up: its path and owner put that user's database first.
    struct Owner
    {
        QByteArray path;
        std::optional<uid_t> uid;
    };
    // The event of a quarantine value's identifier (any case), or nothing.
    std::optional<QuarantineEvent> event(const QString& eventID, const Owner& owner = {}) const;
    // The row a provenance value names, with the byte order that matched, or nothing.
    std::optional<ProvenanceRecord> provenance(const QByteArray& value) const;

    // The evidence that could not be used, or only in part, one line each: what was found
    // on opening and, later, while rows were looked up (damage, a limit reached).
    QStringList notes() const;

private:
    struct Database;
    static std::shared_ptr<const OriginDatabases> load(const MacSources& sources,
                                                       const QHash<QByteArray, QByteArray>* contents);
    void note(const QString& line) const;
    template<typename Row, typename Key> std::optional<Row> rowIn(Database& database, const Key& key) const;
    template<typename Row> void scan(Database& database) const;
    bool usable(Database& database, ReadOnlyDatabase::Found found) const;

    MacSources m_sources;
    std::unique_ptr<Database> m_execPolicy;
    std::vector<std::unique_ptr<Database>> m_events;
    mutable QStringList m_notes;
    mutable std::mutex m_mutex; // one lookup at a time on the connections
};
