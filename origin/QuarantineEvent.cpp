#include "origin/QuarantineEvent.h"

#include <QStringList>

#define LABEL(text) QT_TRANSLATE_NOOP("OriginDetailsPane", text)

const RowReader<QuarantineEvent>& QuarantineEvent::rows()
{
    static const RowReader<QuarantineEvent> rows(
        "LSQuarantineEvent", "LSQuarantineEventIdentifier",
        {{"LSQuarantineDataURLString", &QuarantineEvent::dataURL, "dataURL", LABEL("Data URL")},
         {"LSQuarantineOriginURLString", &QuarantineEvent::originURL, "originURL", LABEL("Origin URL")},
         {"LSQuarantineOriginTitle", &QuarantineEvent::originTitle, "originTitle", LABEL("Origin Title")},
         {"LSQuarantineAgentName", &QuarantineEvent::agentName, "agentName", LABEL("Agent Name")},
         {"LSQuarantineAgentBundleIdentifier", &QuarantineEvent::agentBundleID, "agentBundleID",
          LABEL("Agent Bundle ID")},
         {"LSQuarantineSenderName", &QuarantineEvent::senderName, "senderName", LABEL("Sender Name")},
         {"LSQuarantineSenderAddress", &QuarantineEvent::senderAddress, "senderAddress", LABEL("Sender Address")},
         {"LSQuarantineTypeNumber", &QuarantineEvent::type, "type", LABEL("Type")},
         {"LSQuarantineTimeStamp", &QuarantineEvent::timestamp},
         {nullptr, &QuarantineEvent::time, "time", LABEL("Time")},
         {nullptr, &QuarantineEvent::user, "user", LABEL("User")},
         {nullptr, &QuarantineEvent::database, "database", LABEL("Database")}});
    return rows;
}

QString QuarantineEvent::check(ReadOnlyDatabase& database)
{
    return rows().check(database);
}

bool QuarantineEvent::needsScan(ReadOnlyDatabase& database)
{
    return rows().needsScan(database);
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
        const auto found = rows().find(database, key, event);
        if (found != ReadOnlyDatabase::Found::None)
            return found;
    }
    return ReadOnlyDatabase::Found::None;
}

bool QuarantineEvent::readKeys(ReadOnlyDatabase& database, const std::function<bool(qint64, quint64)>& row)
{
    const auto hash = [](sqlite3_stmt* statement) -> std::optional<quint64> {
        const std::optional<QString> id = ReadOnlyDatabase::text(statement, 1);
        return id ? std::optional(hashOf(*id)) : std::nullopt;
    };
    return rows().readKeys(database, hash, row);
}

quint64 QuarantineEvent::hashOf(const QString& eventID)
{
    return qHash(eventID.toUpper());
}

ReadOnlyDatabase::Found QuarantineEvent::findAt(ReadOnlyDatabase& database, qint64 rowid, const QString& eventID,
                                                std::optional<QuarantineEvent>& event)
{
    const auto matches = [&eventID](sqlite3_stmt* row) {
        return ReadOnlyDatabase::text(row, 0).value_or(QString()).compare(eventID, Qt::CaseInsensitive) == 0;
    };
    return rows().findAt(database, rowid, matches, event);
}
