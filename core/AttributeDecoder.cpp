#include "core/AttributeDecoder.h"

namespace {

constexpr qsizetype kProvenanceSize = 11;

} // namespace

QByteArrayView provenanceValue(QByteArrayView bytes)
{
    if (bytes.size() == kProvenanceSize + 1 && bytes.startsWith(QByteArrayView("\x01\x02\x00", 3)) &&
        bytes.back() == '\0')
        return bytes.first(kProvenanceSize);
    return bytes;
}

QByteArrayView quarantineText(QByteArrayView bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.first(end);
}

QString decodeProvenanceID(const QByteArray& bytes)
{
    // Written in place: one allocation, where a hex copy and its conversion cost four per item.
    static constexpr char kDigits[] = "0123456789abcdef";
    const QByteArrayView value = provenanceValue(bytes);
    QString id(2 + 2 * value.size(), Qt::Uninitialized);
    QChar* out = id.data();
    *out++ = u'0';
    *out++ = u'x';
    for (const char c : value) {
        *out++ = QLatin1Char(kDigits[uchar(c) >> 4]);
        *out++ = QLatin1Char(kDigits[uchar(c) & 0xf]);
    }
    return id;
}

QString decodeQuarantineApp(const QByteArray& bytes)
{
    // The third field that is not empty, found in the bytes: a crawl decodes one per listed
    // file, and splitting the decoded text cost more than the rest of the row.
    const QByteArrayView text = quarantineText(bytes);
    if (text.isValidUtf8()) {
        int nonEmpty = 0;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text.at(i) != ';')
                continue;
            if (i > start && nonEmpty++ == 2)
                return QString::fromUtf8(text.sliced(start, i - start));
            start = i + 1;
        }
    }
    return QStringLiteral("unknown");
}
