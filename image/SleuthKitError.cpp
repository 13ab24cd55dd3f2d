#include "image/SleuthKitError.h"

#include <tsk/libtsk.h>

QString SleuthKitError::take(const QString& fallback)
{
    const char* text = tsk_error_get_errno() != 0 ? tsk_error_get() : nullptr;
    QString line = text ? QString::fromUtf8(text).simplified() : QString();
    tsk_error_reset();
    return line.isEmpty() ? fallback : line;
}
