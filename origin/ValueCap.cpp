#include "origin/ValueCap.h"

QString ValueCap::cutMark(qsizetype size)
{
    return QStringLiteral(" … (%1 bytes in all)").arg(size);
}
QString ValueCap::fromUtf8(QByteArrayView bytes)
{
    if (bytes.size() <= kMaxBytes)
        return QString::fromUtf8(bytes);
    qsizetype end = kMaxBytes;
    // Back to the start of a character: continuation bytes are 10xxxxxx.
    while (end > 0 && (uchar(bytes[end]) & 0xC0) == 0x80)
        --end;
    return QString::fromUtf8(bytes.first(end)) + cutMark(bytes.size());
}

QString ValueCap::fromUtf16(const char16_t* units, qsizetype count)
{
    const QString text = QString::fromUtf16(units, count);
    // Every unit is at most three bytes of UTF-8: only a long text needs measuring.
    if (count * 3 <= kMaxBytes)
        return text;
    return fromUtf8(text.toUtf8());
}
