#include "origin/QuarantineEvent.h"

#include "origin/ReadOnlyDatabase.h"
#include "origin/UtcTime.h"

#include <QFile>

QString QuarantineEvent::loadAll(const QByteArray& rawPath, QHash<QString, QuarantineEvent>& events)
{
    ReadOnlyDatabase db(rawPath);
    const QString source = QFile::decodeName(rawPath);
    const bool read = db.forEachRow(
        "SELECT LSQuarantineEventIdentifier, LSQuarantineTimeStamp, LSQuarantineAgentBundleIdentifier, "
        "LSQuarantineAgentName, LSQuarantineDataURLString, LSQuarantineSenderName, "
        "LSQuarantineSenderAddress, LSQuarantineTypeNumber, LSQuarantineOriginTitle, "
        "LSQuarantineOriginURLString FROM LSQuarantineEvent",
        [&](sqlite3_stmt* row) {
            const auto id = ReadOnlyDatabase::text(row, 0);
            if (!id || id->isEmpty())
                return;
            const QString key = id->toUpper();
            if (events.contains(key))
                return;
            QuarantineEvent event;
            if (const auto seconds = ReadOnlyDatabase::real(row, 1))
                event.time = UtcTime::fromMacAbsolute(*seconds);
            event.agentBundleID = ReadOnlyDatabase::text(row, 2).value_or(QString());
            event.agentName = ReadOnlyDatabase::text(row, 3).value_or(QString());
            event.dataURL = ReadOnlyDatabase::text(row, 4).value_or(QString());
            event.senderName = ReadOnlyDatabase::text(row, 5).value_or(QString());
            event.senderAddress = ReadOnlyDatabase::text(row, 6).value_or(QString());
            event.type = ReadOnlyDatabase::integer(row, 7);
            event.originTitle = ReadOnlyDatabase::text(row, 8).value_or(QString());
            event.originURL = ReadOnlyDatabase::text(row, 9).value_or(QString());
            event.database = source;
            events.insert(key, event);
        });
    return read ? QString() : QStringLiteral("%1: %2").arg(source, db.error());
}
