#pragma once

#include "origin/RowReader.h"

#include <QByteArray>
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
    std::optional<double> timestamp; // seconds since 2001-01-01 UTC, as stored
    QString time;                    // UTC ISO 8601, made when the row is linked
    QString database;                // the file the row was read from
    QString user;                    // whose database that is (the name of its home folder)

    friend bool operator==(const QuarantineEvent&, const QuarantineEvent&) = default;

    // The fields, their columns and how they are shown.
    static const RowReader<QuarantineEvent>& rows();

    // Whether `database` has the table and columns: an empty text, or why not.
    static QString check(ReadOnlyDatabase& database);
    // Whether looking up an identifier reads the whole table (its index is missing).
    static bool needsScan(ReadOnlyDatabase& database);
    // The row of the event `eventID`, looked up as stored, then in upper and in lower case.
    static ReadOnlyDatabase::Found find(ReadOnlyDatabase& database, const QString& eventID,
                                        std::optional<QuarantineEvent>& event);
    // For a table read without its index: each row's rowid and the hash of its identifier
    // (see hashOf), until `row` returns false; then the row at a rowid, if its identifier is `eventID`.
    static bool readKeys(ReadOnlyDatabase& database, const std::function<bool(qint64, quint64)>& row);
    static quint64 hashOf(const QString& eventID);
    static ReadOnlyDatabase::Found findAt(ReadOnlyDatabase& database, qint64 rowid, const QString& eventID,
                                          std::optional<QuarantineEvent>& event);
};
