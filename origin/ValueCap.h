#pragma once

#include <QByteArrayView>
#include <QString>

// The cap on a text read from a Mac's records (a database field, a where-froms URL) before
// it is shown or written: past kMaxBytes of UTF-8 a text is cut on a character boundary and
// ends in " … (N bytes in all)", so a cut value never passes for a whole one.
class ValueCap
{
public:
    static constexpr qsizetype kMaxBytes = 16 * 1024;

    static QString fromUtf8(QByteArrayView bytes);
    // The same for UTF-16 code units, counted as their UTF-8 length.
    static QString fromUtf16(const char16_t* units, qsizetype count);
    // What a cut text ends in.
    static QString cutMark(qsizetype size);
};
