#include "origin/ProvenanceRecord.h"

#include "origin/ReadOnlyDatabase.h"

#include <QtEndian>

namespace {

#define PROVENANCE_COLUMNS                                                                               \
    "pk, url, bundle_id, cdhash, team_identifier, signing_identifier, flags, timestamp, link_pk"

const char kSelect[] = "SELECT " PROVENANCE_COLUMNS " FROM provenance_tracking WHERE pk = ?1";
// Without an index, which may be missing or damaged: by the table's own rowid.
const char kSelectKeys[] = "SELECT rowid, pk FROM provenance_tracking NOT INDEXED";
const char kSelectAt[] = "SELECT " PROVENANCE_COLUMNS " FROM provenance_tracking NOT INDEXED WHERE rowid = ?1";

ProvenanceRecord fromRow(sqlite3_stmt* row)
{
    ProvenanceRecord record;
    record.pk = ReadOnlyDatabase::integer(row, 0).value_or(0);
    record.url = ReadOnlyDatabase::text(row, 1).value_or(QString());
    record.bundleID = ReadOnlyDatabase::text(row, 2).value_or(QString());
    record.cdhash = ReadOnlyDatabase::textOrHex(row, 3).value_or(QString());
    record.teamID = ReadOnlyDatabase::text(row, 4).value_or(QString());
    record.signingID = ReadOnlyDatabase::text(row, 5).value_or(QString());
    record.flags = ReadOnlyDatabase::integer(row, 6);
    record.timestamp = ReadOnlyDatabase::integer(row, 7);
    record.linkPk = ReadOnlyDatabase::integer(row, 8);
    return record;
}

} // namespace

QString ProvenanceRecord::check(ReadOnlyDatabase& database)
{
    const QString problem =
        database.checkTable("provenance_tracking", {"pk", "url", "bundle_id", "cdhash", "team_identifier",
                                                    "signing_identifier", "flags", "timestamp", "link_pk"});
    if (!problem.isEmpty())
        return problem;
    return database.prepare(kSelect) ? QString() : database.error();
}

bool ProvenanceRecord::needsScan(ReadOnlyDatabase& database)
{
    return database.scansTable(kSelect);
}

ReadOnlyDatabase::Found ProvenanceRecord::find(ReadOnlyDatabase& database, qint64 key,
                                               std::optional<ProvenanceRecord>& record)
{
    return database.findRow(kSelect, key, [&record](sqlite3_stmt* row) { record = fromRow(row); });
}

bool ProvenanceRecord::readKeys(ReadOnlyDatabase& database, const std::function<bool(qint64, quint64)>& row)
{
    return database.forEachRow(kSelectKeys, [&row](sqlite3_stmt* statement) {
        const std::optional<qint64> pk = ReadOnlyDatabase::integer(statement, 1);
        return !pk || row(ReadOnlyDatabase::integer(statement, 0).value_or(0), hashOf(*pk));
    });
}

ReadOnlyDatabase::Found ProvenanceRecord::findAt(ReadOnlyDatabase& database, qint64 rowid, qint64 key,
                                                 std::optional<ProvenanceRecord>& record)
{
    return database.findRow(kSelectAt, rowid, [&](sqlite3_stmt* row) {
        if (ReadOnlyDatabase::integer(row, 0) == key)
            record = fromRow(row);
    });
}

QList<std::pair<qint64, QString>> ProvenanceRecord::keysOf(const QByteArray& provenance)
{
    QByteArray value = provenance;
    // A Samba share may append one NUL to the 11-byte value.
    if (value.size() == 12 && value.endsWith('\0') && value.startsWith(QByteArrayLiteral("\x01\x02\x00")))
        value.chop(1);
    if (value.size() != 11)
        return {};
    const char* key = value.constData() + 3;
    return {{qFromLittleEndian<qint64>(key), QStringLiteral("little-endian")},
            {qFromBigEndian<qint64>(key), QStringLiteral("big-endian")}};
}
