#include "origin/QuarantineValue.h"

#include "origin/UtcTime.h"

#include <algorithm>

namespace {

// Only the bits whose meaning public sources agree on get a name.
QString flagName(quint32 bit)
{
    if (bit == 0x0040)
        return QStringLiteral("userApproved");
    return QStringLiteral("0x%1").arg(bit, 4, 16, QLatin1Char('0'));
}

bool isHex(const QString& text, int maximumDigits)
{
    if (text.isEmpty() || text.size() > maximumDigits)
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
    });
}

} // namespace

std::optional<QuarantineValue> QuarantineValue::decode(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    const QByteArray text = end < 0 ? bytes : bytes.left(end);
    if (text.isEmpty())
        return std::nullopt;
    const QStringList fields = QString::fromUtf8(text).split(QLatin1Char(';'));
    const auto field = [&fields](int i) { return i < fields.size() ? fields.at(i) : QString(); };

    QuarantineValue value;
    value.flags = field(0);
    if (isHex(value.flags, 8)) {
        const quint32 flags = value.flags.toUInt(nullptr, 16);
        for (quint32 bit = 1; bit != 0 && bit <= flags; bit <<= 1) {
            if (flags & bit)
                value.flagNames.append(flagName(bit));
        }
    }
    if (const QString time = field(1); isHex(time, 15))
        value.time = UtcTime::fromUnixSeconds(time.toLongLong(nullptr, 16));
    value.agent = field(2);
    value.eventID = field(3);
    return value;
}
