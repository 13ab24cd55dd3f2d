#include "origin/OriginDatabases.h"

#include "core/UniqueFd.h"
#include "origin/ReadOnlyDatabase.h"
#include "origin/UtcTime.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <limits>
#include <sys/stat.h>
#include <utility>

namespace {

const QByteArray kHomeDatabase =
    QByteArrayLiteral("/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2");

// An immutable open reads the file as it stands: a write-ahead log is not read, and the
// pages a rollback journal would restore are read as the unfinished transaction left them.
QStringList unfinishedWriteNotes(const QByteArray& database)
{
    QStringList notes;
    const QString path = QFile::decodeName(database);
    if (const QFileInfo log(path + QStringLiteral("-wal")); log.exists() && log.size() > 0)
        notes << QStringLiteral("%1 has a write-ahead log (%2 bytes) that was not read: its latest rows may "
                                "be missing")
                     .arg(path)
                     .arg(log.size());
    // A journal is hot while its header holds the magic: its transaction never ended.
    const UniqueFd journal(UniqueFd::openEvidence(AT_FDCWD, (database + "-journal").constData()));
    static const QByteArray magic = QByteArray::fromHex("d9d505f920a163d7");
    QByteArray header(8, '\0');
    struct stat st;
    if (journal.fd() >= 0 && ::pread(journal.fd(), header.data(), 8, 0) == 8 && header == magic &&
        ::fstat(journal.fd(), &st) == 0)
        notes << QStringLiteral("%1 has the journal of a transaction that never finished (%2 bytes): rows "
                                "it would undo are read as they stand and may never have been committed")
                     .arg(path)
                     .arg(st.st_size);
    return notes;
}

} // namespace

struct OriginDatabases::Database
{
    // Opens the file at `rawPath`, or `bytes` where given (the path then only names it).
    Database(const QByteArray& rawPath, const QByteArray* bytes)
        : path(QFile::decodeName(rawPath)), connection(open(rawPath, bytes))
    {
        // A user's database lies at <home>/Library/Preferences/…; the home folder names the user.
        if (rawPath.endsWith(kHomeDatabase)) {
            home = rawPath.chopped(kHomeDatabase.size());
            user = QFile::decodeName(home.mid(home.lastIndexOf('/') + 1));
        }
        if (struct stat st; !bytes && ::stat(rawPath.constData(), &st) == 0)
            owner = st.st_uid;
    }
    static ReadOnlyDatabase open(const QByteArray& rawPath, const QByteArray* bytes)
    {
        if (bytes)
            return ReadOnlyDatabase(ReadOnlyDatabase::Bytes{*bytes});
        return ReadOnlyDatabase(rawPath);
    }

    QString path;
    QByteArray home;
    QString user;
    std::optional<uid_t> owner;
    ReadOnlyDatabase connection;
    enum class Mode { Indexed, Scan, Unusable } mode = Mode::Indexed;
    bool scanned = false;
    bool toldRowFailure = false;
    // Read without the index: (hash of the key, rowid), sorted, so rows of a key are in table order.
    std::vector<std::pair<quint64, qint64>> rowids;
};

OriginDatabases::OriginDatabases() = default;
OriginDatabases::~OriginDatabases() = default;

std::shared_ptr<const OriginDatabases> OriginDatabases::load(const MacSources& sources)
{
    return load(sources, nullptr);
}

std::shared_ptr<const OriginDatabases> OriginDatabases::load(const MacSources& sources,
                                                             const QHash<QByteArray, QByteArray>& contents)
{
    return load(sources, &contents);
}

std::shared_ptr<const OriginDatabases> OriginDatabases::load(const MacSources& sources,
                                                             const QHash<QByteArray, QByteArray>* contents)
{
    auto databases = std::make_shared<OriginDatabases>();
    databases->m_sources = sources;
    // The database if `check` finds its table, else nothing and a note.
    const auto open = [&databases, contents](const QByteArray& path, QString (*check)(ReadOnlyDatabase&),
                                             bool (*needsScan)(ReadOnlyDatabase&)) {
        const auto bytes = contents ? contents->constFind(path) : QHash<QByteArray, QByteArray>::const_iterator();
        if (contents && bytes == contents->cend())
            return std::unique_ptr<Database>();
        auto database = std::make_unique<Database>(path, contents ? &*bytes : nullptr);
        if (const QString problem = check(database->connection); !problem.isEmpty()) {
            databases->m_notes.append(QStringLiteral("%1: %2").arg(database->path, problem));
            return std::unique_ptr<Database>();
        }
        if (needsScan(database->connection))
            database->mode = Database::Mode::Scan;
        if (!contents) // a journal beside a file inside an image is not read
            databases->m_notes += unfinishedWriteNotes(path);
        return database;
    };
    if (!sources.execPolicy.isEmpty())
        databases->m_execPolicy = open(sources.execPolicy, &ProvenanceRecord::check, &ProvenanceRecord::needsScan);
    for (const QByteArray& path : sources.quarantineEvents) {
        if (auto database = open(path, &QuarantineEvent::check, &QuarantineEvent::needsScan))
            databases->m_events.push_back(std::move(database));
    }
    return databases;
}

QStringList OriginDatabases::notes() const
{
    std::lock_guard lock(m_mutex);
    return m_notes;
}

void OriginDatabases::note(const QString& line) const
{
    m_notes.append(line);
}

bool OriginDatabases::usable(Database& database, ReadOnlyDatabase::Found found) const
{
    if (found != ReadOnlyDatabase::Found::Failed)
        return true;
    const QString error = database.connection.error();
    switch (database.connection.failure()) {
    case ReadOnlyDatabase::Failure::Damaged:
        note(QStringLiteral("%1 is damaged (%2): its rows are read without its index").arg(database.path, error));
        database.mode = Database::Mode::Scan;
        break;
    case ReadOnlyDatabase::Failure::TooBig: // that row alone
        note(QStringLiteral("%1: %2").arg(database.path, error));
        break;
    default:
        note(QStringLiteral("%1: %2; no more rows are read from it").arg(database.path, error));
        database.mode = Database::Mode::Unusable;
    }
    return false;
}

template<typename Row> void OriginDatabases::scan(Database& database) const
{
    if (database.scanned)
        return;
    database.scanned = true;
    bool full = false;
    const bool read = Row::readKeys(database.connection, [&](qint64 rowid, quint64 hash) {
        database.rowids.emplace_back(hash, rowid);
        full = qsizetype(database.rowids.size()) >= kMaxScannedRows;
        return !full;
    });
    std::sort(database.rowids.begin(), database.rowids.end());
    if (full)
        note(QStringLiteral("%1 is too large to read without its index: only its first %2 rows are linked")
                 .arg(database.path)
                 .arg(database.rowids.size()));
    else if (!read)
        note(QStringLiteral("%1 could not be read to its end (%2): only its first %3 rows are linked")
                 .arg(database.path, database.connection.error())
                 .arg(database.rowids.size()));
}

template<typename Row, typename Key>
std::optional<Row> OriginDatabases::rowIn(Database& database, const Key& key) const
{
    // By its index while that works; else by the keys read once, each row then by its rowid.
    if (database.mode == Database::Mode::Indexed) {
        std::optional<Row> row;
        if (usable(database, Row::find(database.connection, key, row)))
            return row;
    }
    if (database.mode != Database::Mode::Scan)
        return std::nullopt;
    scan<Row>(database);
    const quint64 hash = Row::hashOf(key);
    auto candidate = std::lower_bound(database.rowids.cbegin(), database.rowids.cend(),
                                      std::pair<quint64, qint64>(hash, std::numeric_limits<qint64>::min()));
    for (; candidate != database.rowids.cend() && candidate->first == hash; ++candidate) {
        std::optional<Row> row;
        if (Row::findAt(database.connection, candidate->second, key, row) == ReadOnlyDatabase::Found::Failed &&
            !std::exchange(database.toldRowFailure, true))
            note(QStringLiteral("%1: %2; rows that could not be read are not linked")
                     .arg(database.path, database.connection.error()));
        if (row)
            return row;
    }
    return std::nullopt;
}

std::optional<QuarantineEvent> OriginDatabases::event(const QString& eventID, const Owner& owner) const
{
    std::lock_guard lock(m_mutex);
    // The file owner's database first: the one whose home holds the file, then the one the
    // same user owns. Another user's row for the same identifier only comes after.
    std::vector<Database*> order;
    const auto rank = [&owner](const Database& database) {
        if (!database.home.isEmpty() && owner.path.startsWith(database.home + '/'))
            return 0;
        return owner.uid && database.owner == owner.uid ? 1 : 2;
    };
    for (int wanted = 0; wanted <= 2; ++wanted) {
        for (const auto& database : m_events) {
            if (rank(*database) == wanted)
                order.push_back(database.get());
        }
    }
    for (Database* database : order) {
        if (auto event = rowIn<QuarantineEvent>(*database, eventID)) {
            event->database = database->path;
            event->user = database->user;
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
        if (auto record = rowIn<ProvenanceRecord>(*m_execPolicy, key)) {
            record->byteOrder = byteOrder;
            record->database = m_execPolicy->path;
            if (record->timestamp)
                record->time = UtcTime::fromUnixSeconds(*record->timestamp);
            return record;
        }
    }
    return std::nullopt;
}
