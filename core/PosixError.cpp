#include "core/PosixError.h"

#include <cerrno>
#include <cstring>

QString posixErrorDomain()
{
    return QStringLiteral("NSPOSIXErrorDomain");
}

namespace {

PosixError describe(int code)
{
    // strerror is not thread-safe; strerror_r's GNU form may return a static string.
    char buffer[256] = {};
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = strerror_r(code, buffer, sizeof buffer);
#else
    const char* text = strerror_r(code, buffer, sizeof buffer) == 0 ? buffer : "Unknown error";
#endif
    return PosixError{posixErrorDomain(), qint64(code), QString::fromLocal8Bit(text)};
}

} // namespace

PosixError posixError(int code)
{
    // "No data" is the everyday answer for an absent attribute, asked millions of times a crawl.
    static const PosixError noData = describe(ENODATA);
    return code == ENODATA ? noData : describe(code);
}
