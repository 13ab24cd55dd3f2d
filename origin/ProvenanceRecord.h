#pragma once

#include <QByteArray>
#include <QHash>
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
    QString time; // UTC ISO 8601
    std::optional<qint64> linkPk;
    QString byteOrder; // how the key was read from the value: "little-endian" or "big-endian"
    QString database;

    friend bool operator==(const ProvenanceRecord&, const ProvenanceRecord&) = default;

    // Adds every row of the database at `rawPath` to `records`, keyed by pk. Returns an empty
    // text, or why the file could not be read.
    static QString loadAll(const QByteArray& rawPath, QHash<qint64, ProvenanceRecord>& records);

    // The candidate keys of a provenance value: the last 8 bytes of an 11-byte value as a
    // signed 64-bit integer, little-endian first, then big-endian. None for other lengths.
    static QList<std::pair<qint64, QString>> keysOf(const QByteArray& provenance);
};
