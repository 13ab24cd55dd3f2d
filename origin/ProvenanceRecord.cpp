#include "origin/ProvenanceRecord.h"

#include "origin/ReadOnlyDatabase.h"
#include "origin/UtcTime.h"

#include <QFile>
#include <QtEndian>

QString ProvenanceRecord::loadAll(const QByteArray& rawPath, QHash<qint64, ProvenanceRecord>& records)
{
    ReadOnlyDatabase db(rawPath);
    const QString source = QFile::decodeName(rawPath);
    const bool read = db.forEachRow(
        "SELECT pk, url, bundle_id, cdhash, team_identifier, signing_identifier, flags, timestamp, link_pk "
        "FROM provenance_tracking",
        [&](sqlite3_stmt* row) {
            const auto pk = ReadOnlyDatabase::integer(row, 0);
            if (!pk)
                return;
            ProvenanceRecord record;
            record.pk = *pk;
            record.url = ReadOnlyDatabase::text(row, 1).value_or(QString());
            record.bundleID = ReadOnlyDatabase::text(row, 2).value_or(QString());
            record.cdhash = ReadOnlyDatabase::textOrHex(row, 3).value_or(QString());
            record.teamID = ReadOnlyDatabase::text(row, 4).value_or(QString());
            record.signingID = ReadOnlyDatabase::text(row, 5).value_or(QString());
            record.flags = ReadOnlyDatabase::integer(row, 6);
            if (const auto seconds = ReadOnlyDatabase::integer(row, 7))
                record.time = UtcTime::fromUnixSeconds(*seconds);
            record.linkPk = ReadOnlyDatabase::integer(row, 8);
            record.database = source;
            records.insert(record.pk, record);
        });
    return read ? QString() : QStringLiteral("%1: %2").arg(source, db.error());
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
