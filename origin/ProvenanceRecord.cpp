#include "origin/ProvenanceRecord.h"

#include <QtEndian>

#define LABEL(text) QT_TRANSLATE_NOOP("OriginDetailsPane", text)

const RowReader<ProvenanceRecord>& ProvenanceRecord::rows()
{
    static const RowReader<ProvenanceRecord> rows(
        "provenance_tracking", "pk",
        {{"pk", &ProvenanceRecord::pk, nullptr, LABEL("pk")},
         {"url", &ProvenanceRecord::url, "url", LABEL("URL")},
         {"bundle_id", &ProvenanceRecord::bundleID, "bundleID", LABEL("Bundle ID")},
         {"team_identifier", &ProvenanceRecord::teamID, "teamID", LABEL("Team ID")},
         {"signing_identifier", &ProvenanceRecord::signingID, "signingID", LABEL("Signing ID")},
         {"cdhash", &ProvenanceRecord::cdhash, "cdhash", LABEL("cdhash"), true},
         {"flags", &ProvenanceRecord::flags, "flags", LABEL("Flags")},
         {"timestamp", &ProvenanceRecord::timestamp},
         {nullptr, &ProvenanceRecord::time, "time", LABEL("Time")},
         {"link_pk", &ProvenanceRecord::linkPk, nullptr, LABEL("link_pk")},
         {nullptr, &ProvenanceRecord::byteOrder, "byteOrder", LABEL("Key Byte Order")},
         {nullptr, &ProvenanceRecord::database, "database", LABEL("Database")}});
    return rows;
}

QString ProvenanceRecord::check(ReadOnlyDatabase& database)
{
    return rows().check(database);
}

bool ProvenanceRecord::needsScan(ReadOnlyDatabase& database)
{
    return rows().needsScan(database);
}

ReadOnlyDatabase::Found ProvenanceRecord::find(ReadOnlyDatabase& database, qint64 key,
                                               std::optional<ProvenanceRecord>& record)
{
    return rows().find(database, key, record);
}

bool ProvenanceRecord::readKeys(ReadOnlyDatabase& database, const std::function<bool(qint64, quint64)>& row)
{
    const auto hash = [](sqlite3_stmt* statement) -> std::optional<quint64> {
        const std::optional<qint64> pk = ReadOnlyDatabase::integer(statement, 1);
        return pk ? std::optional(hashOf(*pk)) : std::nullopt;
    };
    return rows().readKeys(database, hash, row);
}

ReadOnlyDatabase::Found ProvenanceRecord::findAt(ReadOnlyDatabase& database, qint64 rowid, qint64 key,
                                                 std::optional<ProvenanceRecord>& record)
{
    const auto matches = [key](sqlite3_stmt* row) { return ReadOnlyDatabase::integer(row, 0) == key; };
    return rows().findAt(database, rowid, matches, record);
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
