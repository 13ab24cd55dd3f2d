#pragma once

#include "origin/RowReader.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A row of a Mac volume's ExecPolicy database (table provenance_tracking): the application
// that made files carrying a provenance key. Fields are empty where the row holds NULL.
struct ProvenanceRecord
{
    qint64 pk = 0;
    QString url;
    QString bundleID;
    QString teamID;
    QString signingID;
    QString cdhash; // as stored, or lowercase hex when stored as bytes
    std::optional<qint64> flags;
    std::optional<qint64> timestamp; // seconds since 1970, as stored
    QString time;                    // UTC ISO 8601, made when the row is linked
    std::optional<qint64> linkPk;
    QString byteOrder; // how the key was read from the value: "little-endian" or "big-endian"
    QString database;

    friend bool operator==(const ProvenanceRecord&, const ProvenanceRecord&) = default;

    // The fields, their columns and how they are shown.
    static const RowReader<ProvenanceRecord>& rows();

    // Whether `database` has the table and columns: an empty text, or why not.
    static QString check(ReadOnlyDatabase& database);
    // Whether looking up a key reads the whole table (its index is missing).
    static bool needsScan(ReadOnlyDatabase& database);
    // The row whose pk is `key`.
    static ReadOnlyDatabase::Found find(ReadOnlyDatabase& database, qint64 key,
                                        std::optional<ProvenanceRecord>& record);
    // For a table read without its index: each row's rowid and its pk, until `row` returns
    // false; then the row at a rowid, if its pk is `key`.
    static bool readKeys(ReadOnlyDatabase& database, const std::function<bool(qint64, quint64)>& row);
    static quint64 hashOf(qint64 key) { return quint64(key); }
    static ReadOnlyDatabase::Found findAt(ReadOnlyDatabase& database, qint64 rowid, qint64 key,
                                          std::optional<ProvenanceRecord>& record);

    // The candidate keys of a provenance value: the last 8 bytes of an 11-byte value as a
    // signed 64-bit integer, little-endian first, then big-endian. None for other lengths.
    static QList<std::pair<qint64, QString>> keysOf(const QByteArray& provenance);
};
