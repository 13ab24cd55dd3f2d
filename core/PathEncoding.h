#pragma once

#include <QByteArray>
#include <QString>

// The percent-encoded form of a file-system path as shown in lists and CSV files:
// every byte that RFC 3986 does not allow in a path segment becomes %XX (uppercase
// hex), slashes stay. Takes the raw bytes so that names which are not UTF-8 stay exact.
QString encodePath(const QByteArray& rawPath);
// The same as Latin-1 bytes, for records built by the million.
QByteArray encodePathBytes(const QByteArray& rawPath);

// `path` without the slashes that end a listed folder's path ("/" stays "/").
inline QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// The file-system bytes of a path in that encoded form (the inverse of encodePath).
QByteArray decodePath(const QString& encodedPath);

// The name of a path component as the user reads it: UTF-8 with U+FFFD in place of
// bytes that are not.
QString displayName(const QByteArray& rawName);
