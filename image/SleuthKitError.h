#pragma once

#include <QString>

// Sleuth Kit's last error on this thread, as one line.
class SleuthKitError
{
public:
    // The error's text (or `fallback` when Sleuth Kit set none), and clears it.
    static QString take(const QString& fallback);
};
