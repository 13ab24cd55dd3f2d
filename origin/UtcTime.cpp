#include "origin/UtcTime.h"

#include <cmath>
#include <cstring>

namespace {

constexpr qint64 kMacEpochOffset = 978307200; // 2001-01-01T00:00:00Z in Unix seconds
// Beyond these the text is no longer a four-digit year.
constexpr qint64 kEarliest = -62135596800; // 0001-01-01T00:00:00Z
constexpr qint64 kLatest = 253402300799;   // 9999-12-31T23:59:59Z

} // namespace

QString UtcTime::fromUnixSeconds(qint64 seconds)
{
    char text[20];
    return write(seconds, text) ? QString::fromLatin1(text, sizeof text) : QString();
}

bool UtcTime::write(qint64 seconds, char* text)
{
    if (seconds < kEarliest || seconds > kLatest)
        return false;
    // The proleptic Gregorian date of a day count (H. Hinnant's civil_from_days): a crawl
    // writes several times per file, and a QDateTime each costs more than the rest of its line.
    qint64 days = seconds / 86400;
    qint64 second = seconds % 86400;
    if (second < 0) {
        second += 86400;
        --days;
    }
    days += 719468; // from 0000-03-01
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153; // from March
    const qint64 day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const qint64 month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    std::memcpy(text, "0000-00-00T00:00:00Z", 20);
    const auto put = [text](int at, qint64 value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char('0' + value % 10);
    };
    put(0, year, 4);
    put(5, month, 2);
    put(8, day, 2);
    put(11, second / 3600, 2);
    put(14, second / 60 % 60, 2);
    put(17, second % 60, 2);
    return true;
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
