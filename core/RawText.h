#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text that carries any bytes without loss, for file-system names handed through
// text-based interfaces (a command-line parser): valid UTF-8 becomes its characters,
// every other byte b the lone surrogate U+DC00 + b, and back.
class RawText
{
public:
    static QString fromBytes(QByteArrayView bytes);
    // Exactly the bytes fromBytes() was given; a lone surrogate that did not come from
    // a byte becomes U+FFFD.
    static QByteArray toBytes(const QString& text);
    // For messages: escaped bytes as U+FFFD, controls as their pictures.
    static QString display(const QString& text);
};
