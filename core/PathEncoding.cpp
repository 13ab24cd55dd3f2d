#include "core/PathEncoding.h"

#include <algorithm>

QString encodePath(const QByteArray& rawPath)
{
    return QString::fromLatin1(encodePathBytes(rawPath));
}

QByteArray encodePathBytes(const QByteArray& rawPath)
{
    // Unreserved characters are kept anyway; these are the rest of a segment's pchar, and "/".
    static const QByteArray kept = QByteArrayLiteral("/!$&'()*+,;=:@");
    // Most names need no escape: they are shared as they are, without a copy.
    const bool plain = std::all_of(rawPath.cbegin(), rawPath.cend(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '.' || c == '_' || c == '~' || kept.contains(c);
    });
    return plain ? rawPath : rawPath.toPercentEncoding(kept);
}

QByteArray decodePath(const QString& encodedPath)
{
    return QByteArray::fromPercentEncoding(encodedPath.toUtf8());
}

QString displayName(const QByteArray& rawName)
{
    return QString::fromUtf8(rawName);
}
