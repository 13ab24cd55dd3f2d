#include "origin/QuarantineEvent.h"

#include "origin/ReadOnlyDatabase.h"

#include <QStringList>

namespace {

const char kSelect[] =
    "SELECT LSQuarantineEventIdentifier, LSQuarantineTimeStamp, LSQuarantineAgentBundleIdentifier, "
    "LSQuarantineAgentName, LSQuarantineDataURLString, LSQuarantineSenderName, LSQuarantineSenderAddress, "
    "LSQuarantineTypeNumber, LSQuarantineOriginTitle, LSQuarantineOriginURLString FROM LSQuarantineEvent "
    "WHERE LSQuarantineEventIdentifier = ?1";

} // namespace

QString QuarantineEvent::check(ReadOnlyDatabase& database)
{
    return database.prepare(kSelect) ? QString() : database.error();
}

std::optional<QuarantineEvent> QuarantineEvent::find(ReadOnlyDatabase& database, const QString& eventID)
{
    std::optional<QuarantineEvent> found;
    const auto fill = [&found](sqlite3_stmt* row) {
        QuarantineEvent& event = found.emplace();
        event.timestamp = ReadOnlyDatabase::real(row, 1);
        event.agentBundleID = ReadOnlyDatabase::text(row, 2).value_or(QString());
        event.agentName = ReadOnlyDatabase::text(row, 3).value_or(QString());
        event.dataURL = ReadOnlyDatabase::text(row, 4).value_or(QString());
        event.senderName = ReadOnlyDatabase::text(row, 5).value_or(QString());
        event.senderAddress = ReadOnlyDatabase::text(row, 6).value_or(QString());
        event.type = ReadOnlyDatabase::integer(row, 7);
        event.originTitle = ReadOnlyDatabase::text(row, 8).value_or(QString());
        event.originURL = ReadOnlyDatabase::text(row, 9).value_or(QString());
    };
    // The identifier is a UUID, whose case means nothing; the index compares exactly.
    QStringList tried;
    for (const QString& key : {eventID, eventID.toUpper(), eventID.toLower()}) {
        if (tried.contains(key))
            continue;
        tried.append(key);
        if (database.findRow(kSelect, key, fill))
            return found;
    }
    return std::nullopt;
}
