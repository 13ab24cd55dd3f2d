#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// A row of a user's QuarantineEventsV2 database (table LSQuarantineEvent): what a Mac
// recorded when it quarantined a download. Fields are empty where the row holds NULL.
struct QuarantineEvent
{
    QString dataURL;
    QString originURL;
    QString originTitle;
    QString agentName;
    QString agentBundleID;
    QString senderName;
    QString senderAddress;
    std::optional<qint64> type;
    QString time;     // UTC ISO 8601
    QString database; // the file the row was read from

    friend bool operator==(const QuarantineEvent&, const QuarantineEvent&) = default;

    // Adds every row of the database at `rawPath` to `events`, keyed by the event identifier in
    // upper case; an identifier already there keeps its row. Returns an empty text, or why
    // the file could not be read.
    static QString loadAll(const QByteArray& rawPath, QHash<QString, QuarantineEvent>& events);
};
