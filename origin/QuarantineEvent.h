#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class ReadOnlyDatabase;

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
    std::optional<double> timestamp; // seconds since 2001-01-01 UTC, as stored
    QString time;                    // UTC ISO 8601, made when the row is linked
    QString database;                // the file the row was read from

    friend bool operator==(const QuarantineEvent&, const QuarantineEvent&) = default;

    // Whether `database` has the table and columns: an empty text, or why not.
    static QString check(ReadOnlyDatabase& database);
    // The row of the event `eventID`, looked up as stored, then in upper and in lower case.
    static std::optional<QuarantineEvent> find(ReadOnlyDatabase& database, const QString& eventID);
};
