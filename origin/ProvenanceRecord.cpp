#include "origin/ProvenanceRecord.h"

#include "origin/ReadOnlyDatabase.h"

#include <QtEndian>

namespace {

const char kSelect[] =
    "SELECT pk, url, bundle_id, cdhash, team_identifier, signing_identifier, flags, timestamp, "
    "link_pk FROM provenance_tracking WHERE pk = ?1";

} // namespace

QString ProvenanceRecord::check(ReadOnlyDatabase& database)
{
    return database.prepare(kSelect) ? QString() : database.error();
}

std::optional<ProvenanceRecord> ProvenanceRecord::find(ReadOnlyDatabase& database, qint64 key)
{
    std::optional<ProvenanceRecord> found;
    database.findRow(kSelect, key, [&found](sqlite3_stmt* row) {
        ProvenanceRecord& record = found.emplace();
        record.pk = ReadOnlyDatabase::integer(row, 0).value_or(0);
        record.url = ReadOnlyDatabase::text(row, 1).value_or(QString());
        record.bundleID = ReadOnlyDatabase::text(row, 2).value_or(QString());
        record.cdhash = ReadOnlyDatabase::textOrHex(row, 3).value_or(QString());
        record.teamID = ReadOnlyDatabase::text(row, 4).value_or(QString());
        record.signingID = ReadOnlyDatabase::text(row, 5).value_or(QString());
        record.flags = ReadOnlyDatabase::integer(row, 6);
        record.timestamp = ReadOnlyDatabase::integer(row, 7);
        record.linkPk = ReadOnlyDatabase::integer(row, 8);
    });
    return found;
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
