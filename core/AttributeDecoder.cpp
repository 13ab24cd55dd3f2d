#include "core/AttributeDecoder.h"

#include "core/Utf8Text.h"

#include <QStringList>

QString decodeProvenanceID(const QByteArray& bytes)
{
    return QLatin1String("0x") + QString::fromLatin1(bytes.toHex());
}

QString decodeQuarantineApp(const QByteArray& bytes)
{
    const QString text = decodeUtf8Strictly(bytes).value_or(QStringLiteral(";;unknown;"));
    const QStringList fields = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (fields.size() > 2)
        return fields.at(2);
    return QStringLiteral("unknown");
}
