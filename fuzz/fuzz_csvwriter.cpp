// The CSV writer over arbitrary fields: reading its bytes back as RFC 4180 gives every field
// exactly, so no value can shift a column or end a line early.
#include "core/CsvWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

// An RFC 4180 reader: records end at a line feed outside quotes; nothing else is accepted.
bool readBack(const QByteArray& bytes, QList<QByteArrayList>& records)
{
    QByteArrayList record;
    QByteArray field;
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (bytes.at(i) == '"') { // quoted: to the closing quote, "" standing for one
            for (++i;; ++i) {
                if (i == bytes.size())
                    return false; // unbalanced
                if (bytes.at(i) == '"') {
                    if (i + 1 < bytes.size() && bytes.at(i + 1) == '"')
                        field += bytes.at(++i);
                    else
                        break;
                } else {
                    field += bytes.at(i);
                }
            }
            ++i;
            if (i < bytes.size() && bytes.at(i) != ',' && bytes.at(i) != '\n')
                return false; // text after the closing quote
        } else {
            while (i < bytes.size() && bytes.at(i) != ',' && bytes.at(i) != '\n') {
                if (bytes.at(i) == '"' || bytes.at(i) == '\r')
                    return false; // must have been quoted
                field += bytes.at(i++);
            }
        }
        if (i == bytes.size())
            return false; // every line ends in a line feed
        record.append(std::exchange(field, {}));
        if (bytes.at(i++) == '\n')
            records.append(std::exchange(record, {}));
    }
    return record.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // 0x1e ends a row, 0x1f a field.
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    CsvWriter writer({QStringLiteral("Filename"), QStringLiteral("Path")});
    QList<QStringList> rows;
    for (const QByteArray& line : input.split('\x1e')) {
        QStringList fields;
        for (const QByteArray& field : line.split('\x1f'))
            fields.append(QString::fromUtf8(field));
        writer.addRow(fields);
        rows.append(fields);
    }
    QList<QByteArrayList> records;
    if (!readBack(writer.bytes(), records) || records.size() != rows.size() + 1 ||
        writer.rowCount() != rows.size() || records.first() != QByteArrayList{"Filename", "Path"})
        std::abort();
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QStringList& fields = rows.at(r);
        if (records.at(r + 1).size() != fields.size())
            std::abort();
        for (qsizetype f = 0; f < fields.size(); ++f) {
            if (records.at(r + 1).at(f) != fields.at(f).toUtf8())
                std::abort();
            // A field without anything to quote is written as it is.
            const bool special = std::any_of(fields.at(f).cbegin(), fields.at(f).cend(), [](QChar c) {
                return c == u',' || c == u'"' || c == u'\r' || c == u'\n';
            });
            if (CsvWriter::field(fields.at(f)).startsWith(u'"') != special)
                std::abort();
        }
    }
    return 0;
}
