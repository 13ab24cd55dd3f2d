#include "origin/QuarantineValue.h"

#include "origin/UtcTime.h"

#include <algorithm>
#include <array>
#include <bit>

namespace {

// Only the bits whose meaning public sources agree on get a name; made once, shared by every
// value decoded.
const QString& flagName(int bit)
{
    static const auto names = [] {
        std::array<QString, 32> made;
        for (int i = 0; i < 32; ++i)
            made[i] = QStringLiteral("0x%1").arg(1u << i, 4, 16, QLatin1Char('0'));
        made[6] = QStringLiteral("userApproved"); // 0x0040
        return made;
    }();
    return names[size_t(bit)];
}

bool isHex(QByteArrayView text, int maximumDigits)
{
    if (text.isEmpty() || text.size() > maximumDigits)
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

} // namespace

std::optional<QuarantineValue> QuarantineValue::decode(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    const QByteArrayView text = QByteArrayView(bytes).first(end < 0 ? bytes.size() : end);
    if (text.isEmpty())
        return std::nullopt;
    // The fields, split at ";" before decoding: a ";" is never inside a UTF-8 sequence.
    std::array<QByteArrayView, 4> fields;
    qsizetype from = 0;
    for (size_t i = 0; i < fields.size() && from <= text.size(); ++i) {
        qsizetype to = text.indexOf(';', from);
        if (to < 0)
            to = text.size();
        fields[i] = text.sliced(from, to - from);
        from = to + 1;
    }

    QuarantineValue value;
    value.flags = QString::fromUtf8(fields[0]);
    if (isHex(fields[0], 8)) {
        const quint32 flags = fields[0].toUInt(nullptr, 16);
        value.flagNames.reserve(std::popcount(flags));
        for (int bit = 0; bit < 32; ++bit) {
            if (flags & (1u << bit))
                value.flagNames.append(flagName(bit));
        }
    }
    if (isHex(fields[1], 15))
        value.time = UtcTime::fromUnixSeconds(fields[1].toLongLong(nullptr, 16));
    value.agent = QString::fromUtf8(fields[2]);
    value.eventID = QString::fromUtf8(fields[3]);
    return value;
}
