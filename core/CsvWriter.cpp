#include "core/CsvWriter.h"

#include <QSaveFile>

#include <algorithm>
#include <cstring>

CsvWriter::CsvWriter(const QStringList& header)
{
    addLine(header);
}

void CsvWriter::addRow(const QStringList& fields)
{
    addLine(fields);
    ++m_rows;
}

void CsvWriter::addUtf8Row(std::initializer_list<QByteArrayView> fields, QByteArrayView lastFieldRest)
{
    // The characters that need quotes are ASCII, so UTF-8 bytes are tested as they are.
    const auto needsQuotes = [](QByteArrayView value) {
        return std::any_of(value.cbegin(), value.cend(), [](char c) {
            return c <= ',' && (c == ',' || c == '"' || c == '\r' || c == '\n');
        });
    };
    // Rows of an image's or a folder's every entry: most need no quotes and are copied into
    // place in one step, where appending piece by piece costs more than reading the entry.
    qsizetype length = qsizetype(fields.size()) + lastFieldRest.size();
    bool plain = fields.size() > 0 && !needsQuotes(lastFieldRest);
    for (const QByteArrayView value : fields) {
        length += value.size();
        plain = plain && !needsQuotes(value);
    }
    if (plain) {
        qsizetype at = m_bytes.size();
        m_bytes.resize(at + length);
        char* out = m_bytes.data();
        const auto put = [&](QByteArrayView value) {
            if (!value.isEmpty())
                std::memcpy(out + at, value.data(), size_t(value.size()));
            at += value.size();
        };
        for (const QByteArrayView value : fields) {
            put(value);
            out[at++] = ',';
        }
        --at;
        put(lastFieldRest);
        out[at] = '\n';
        ++m_rows;
        return;
    }
    qsizetype index = 0;
    for (QByteArrayView value : fields) {
        if (index > 0)
            m_bytes += ',';
        QByteArray joined;
        if (++index == qsizetype(fields.size()) && !lastFieldRest.isEmpty()) {
            joined = value.toByteArray().append(lastFieldRest);
            value = joined;
        }
        if (!needsQuotes(value)) {
            m_bytes += value;
            continue;
        }
        m_bytes += '"';
        for (const char c : value) {
            if (c == '"')
                m_bytes += '"';
            m_bytes += c;
        }
        m_bytes += '"';
    }
    m_bytes += '\n';
    ++m_rows;
}

QString CsvWriter::field(const QString& value)
{
    // One pass with plain comparisons: this runs over every path of a large export.
    const bool needsQuotes = std::any_of(value.cbegin(), value.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return u <= u',' && (u == u',' || u == u'"' || u == u'\r' || u == u'\n');
    });
    if (!needsQuotes)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

void CsvWriter::addLine(const QStringList& fields)
{
    QString line;
    qsizetype length = fields.size() + 2;
    for (const QString& value : fields)
        length += value.size();
    line.reserve(length);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        line += field(fields.at(i));
    }
    line += QLatin1Char('\n');
    m_bytes += line.toUtf8();
}

std::optional<QString> CsvWriter::writeTo(const QString& destination) const
{
    QSaveFile file(destination);
    // Unbuffered: commit() does not notice when its own flush of a buffered tail fails
    // (Qt 6.4) and would replace the earlier file with a short one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    // A short write carries no error of its own; writing the rest brings out why.
    for (qsizetype done = 0; done < m_bytes.size();) {
        const qint64 written = file.write(m_bytes.constData() + done, m_bytes.size() - done);
        if (written <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return reason;
        }
        done += written;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

CsvWriteResult CsvWriter::exportTo(const QString& destination) const
{
    if (m_rows == 0)
        return {CsvWriteResult::NothingToWrite, {}};
    if (const auto failure = writeTo(destination))
        return {CsvWriteResult::Failed, *failure};
    return {CsvWriteResult::Written, {}};
}
