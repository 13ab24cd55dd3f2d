#include "core/PathEncoding.h"

QString encodePath(const QByteArray& rawPath)
{
    return QString::fromLatin1(encodePathBytes(rawPath));
}

QByteArray encodePathBytes(const QByteArray& rawPath)
{
    // Unreserved characters are kept anyway; these are the rest of a segment's pchar, and "/".
    static const QByteArray kept = QByteArrayLiteral("/!$&'()*+,;=:@");
    return rawPath.toPercentEncoding(kept);
}

QByteArray decodePath(const QString& encodedPath)
{
    return QByteArray::fromPercentEncoding(encodedPath.toUtf8());
}

QString displayName(const QByteArray& rawName)
{
    return QString::fromUtf8(rawName);
}
