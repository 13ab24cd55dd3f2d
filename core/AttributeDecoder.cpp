#include "core/AttributeDecoder.h"

#include "core/Utf8Text.h"

#include <QStringList>

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
    const QString text = decodeUtf8Strictly(quarantineText(bytes)).value_or(QStringLiteral(";;unknown;"));
    const QStringList fields = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (fields.size() > 2)
        return fields.at(2);
    return QStringLiteral("unknown");
}
