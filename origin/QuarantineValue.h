#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The fields of a com.apple.quarantine value, "flags;time;agent;eventID". The value is a
// C string: it ends at its first NUL. Fields that are missing or empty stay empty.
struct QuarantineValue
{
    QString flags;         // as stored, e.g. "0083"
    QStringList flagNames; // one per set bit, lowest first: its public name, else "0x0002"
    QString time;          // UTC ISO 8601; empty when the field is not a hex time
    QString agent;
    QString eventID; // as stored, case kept

    // Nothing for an empty value.
    static std::optional<QuarantineValue> decode(const QByteArray& bytes);

    friend bool operator==(const QuarantineValue&, const QuarantineValue&) = default;
};
