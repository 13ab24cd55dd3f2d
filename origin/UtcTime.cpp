#include "origin/UtcTime.h"

#include <QDateTime>

#include <cmath>

namespace {

constexpr qint64 kMacEpochOffset = 978307200; // 2001-01-01T00:00:00Z in Unix seconds
// Beyond these the text is no longer a four-digit year.
constexpr qint64 kEarliest = -62135596800; // 0001-01-01T00:00:00Z
constexpr qint64 kLatest = 253402300799;   // 9999-12-31T23:59:59Z

} // namespace

QString UtcTime::fromUnixSeconds(qint64 seconds)
{
    if (seconds < kEarliest || seconds > kLatest)
        return {};
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

QString UtcTime::fromMacAbsolute(double seconds)
{
    if (!std::isfinite(seconds) || seconds < double(kEarliest - kMacEpochOffset) ||
        seconds > double(kLatest - kMacEpochOffset))
        return {};
    double whole = std::floor(seconds);
    auto micros = qint64(std::llround((seconds - whole) * 1e6));
    if (micros == 1000000) {
        whole += 1;
        micros = 0;
    }
    QString text = fromUnixSeconds(qint64(whole) + kMacEpochOffset);
    if (micros == 0 || text.isEmpty())
        return text;
    QString fraction = QStringLiteral("%1").arg(micros, 6, 10, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    text.insert(text.size() - 1, QLatin1Char('.') + fraction);
    return text;
}
