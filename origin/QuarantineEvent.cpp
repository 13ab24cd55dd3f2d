#include "origin/QuarantineEvent.h"

#include <QStringList>

namespace {

#define QUARANTINE_COLUMNS                                                                               \
    "LSQuarantineEventIdentifier, LSQuarantineTimeStamp, LSQuarantineAgentBundleIdentifier, "         \
    "LSQuarantineAgentName, LSQuarantineDataURLString, LSQuarantineSenderName, "                      \
    "LSQuarantineSenderAddress, LSQuarantineTypeNumber, LSQuarantineOriginTitle, "                    \
    "LSQuarantineOriginURLString"

const char kSelect[] =
    "SELECT " QUARANTINE_COLUMNS " FROM LSQuarantineEvent WHERE LSQuarantineEventIdentifier = ?1";
// Without the index, which may be missing or damaged: by the table's own rowid.
const char kSelectKeys[] = "SELECT rowid, LSQuarantineEventIdentifier FROM LSQuarantineEvent NOT INDEXED";
const char kSelectAt[] = "SELECT " QUARANTINE_COLUMNS " FROM LSQuarantineEvent NOT INDEXED WHERE rowid = ?1";

QuarantineEvent fromRow(sqlite3_stmt* row)
{
    QuarantineEvent event;
    event.timestamp = ReadOnlyDatabase::real(row, 1);
    event.agentBundleID = ReadOnlyDatabase::text(row, 2).value_or(QString());
    event.agentName = ReadOnlyDatabase::text(row, 3).value_or(QString());
    event.dataURL = ReadOnlyDatabase::text(row, 4).value_or(QString());
    event.senderName = ReadOnlyDatabase::text(row, 5).value_or(QString());
    event.senderAddress = ReadOnlyDatabase::text(row, 6).value_or(QString());
    event.type = ReadOnlyDatabase::integer(row, 7);
    event.originTitle = ReadOnlyDatabase::text(row, 8).value_or(QString());
    event.originURL = ReadOnlyDatabase::text(row, 9).value_or(QString());
    return event;
}

} // namespace

QString QuarantineEvent::check(ReadOnlyDatabase& database)
{
    const QString problem = database.checkTable(
        "LSQuarantineEvent",
        {"LSQuarantineEventIdentifier", "LSQuarantineTimeStamp", "LSQuarantineAgentBundleIdentifier",
         "LSQuarantineAgentName", "LSQuarantineDataURLString", "LSQuarantineSenderName",
         "LSQuarantineSenderAddress", "LSQuarantineTypeNumber", "LSQuarantineOriginTitle",
         "LSQuarantineOriginURLString"});
    if (!problem.isEmpty())
        return problem;
    return database.prepare(kSelect) ? QString() : database.error();
}

bool QuarantineEvent::needsScan(ReadOnlyDatabase& database)
{
    return database.scansTable(kSelect);
}

ReadOnlyDatabase::Found QuarantineEvent::find(ReadOnlyDatabase& database, const QString& eventID,
                                              std::optional<QuarantineEvent>& event)
{
    // The identifier is a UUID, whose case means nothing; the index compares exactly.
    QStringList tried;
    for (const QString& key : {eventID, eventID.toUpper(), eventID.toLower()}) {
        if (tried.contains(key))
            continue;
        tried.append(key);
        const auto found = database.findRow(kSelect, key, [&event](sqlite3_stmt* row) { event = fromRow(row); });
        if (found != ReadOnlyDatabase::Found::None)
            return found;
    }
    return ReadOnlyDatabase::Found::None;
}

bool QuarantineEvent::readKeys(ReadOnlyDatabase& database, const std::function<bool(qint64, quint64)>& row)
{
    return database.forEachRow(kSelectKeys, [&row](sqlite3_stmt* statement) {
        const std::optional<QString> id = ReadOnlyDatabase::text(statement, 1);
        return !id || row(ReadOnlyDatabase::integer(statement, 0).value_or(0), hashOf(*id));
    });
}

quint64 QuarantineEvent::hashOf(const QString& eventID)
{
    return qHash(eventID.toUpper());
}

ReadOnlyDatabase::Found QuarantineEvent::findAt(ReadOnlyDatabase& database, qint64 rowid, const QString& eventID,
                                                std::optional<QuarantineEvent>& event)
{
    return database.findRow(kSelectAt, rowid, [&](sqlite3_stmt* row) {
        if (ReadOnlyDatabase::text(row, 0).value_or(QString()).compare(eventID, Qt::CaseInsensitive) == 0)
            event = fromRow(row);
    });
}
