#pragma once

#include <QString>
#include <QtEndian>

#include <limits>

// What the .dmg readers share for reading the file's big-endian fields and checking them.
namespace udif {

inline quint32 be32(const char* at)
{
    return qFromBigEndian<quint32>(at);
}

inline quint64 be64(const char* at)
{
    return qFromBigEndian<quint64>(at);
}

inline QString number(quint64 value)
{
    return QString::number(value);
}

// Whether [offset, offset + length) lies within [0, limit), without overflowing.
inline bool fits(quint64 offset, quint64 length, quint64 limit)
{
    return offset <= limit && length <= limit - offset;
}

// Sector numbers stay below this, so that a byte offset fits a signed 64-bit number.
constexpr quint64 kMaxSectors = quint64(std::numeric_limits<qint64>::max()) / 512;

} // namespace udif
