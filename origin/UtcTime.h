#pragma once

#include <QString>

// Times as UTC ISO 8601 ("2024-01-12T22:01:07Z"); fractions only where a value has them.
class UtcTime
{
public:
    // Seconds since 1970-01-01 UTC; empty when outside the years 0001 to 9999.
    static QString fromUnixSeconds(qint64 seconds);
    // The same written into `text` (20 characters, no terminating NUL); false when outside.
    static bool write(qint64 seconds, char* text);
    // Seconds since 2001-01-01 UTC, as a Mac's CFAbsoluteTime, to the microsecond.
    static QString fromMacAbsolute(double seconds);
};
