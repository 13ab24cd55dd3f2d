#pragma once

#include "core/CsvWriteResult.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <optional>
#include <utility>

// Builds and writes the CSV exports: UTF-8 without byte order mark, a line feed
// after every line, fields as stored unless they hold a comma, a double quote, CR or
// LF, which are quoted with inner quotes doubled (RFC 4180).
class CsvWriter
{
public:
    explicit CsvWriter(const QStringList& header);

    void addRow(const QStringList& fields);
    // The same row from fields already in UTF-8, without a round trip through QString. The last
    // field goes on with `lastFieldRest` (a path kept as its folder and the rest), without a copy.
    void addUtf8Row(std::initializer_list<QByteArrayView> fields, QByteArrayView lastFieldRest = {});
    qsizetype rowCount() const { return m_rows; }
    const QByteArray& bytes() const { return m_bytes; }
    // Hands over the bytes built so far and goes on from there, for writing as it grows.
    QByteArray takeBytes() { return std::exchange(m_bytes, QByteArray()); }

    static QString field(const QString& value);

    // Replaces `destination` atomically with the bytes; on failure the reason, and any
    // earlier file there is left as it was.
    std::optional<QString> writeTo(const QString& destination) const;
    // A list export: nothing is written when there are no rows, else writeTo().
    CsvWriteResult exportTo(const QString& destination) const;

private:
    void addLine(const QStringList& fields);

    QByteArray m_bytes;
    qsizetype m_rows = 0;
};
