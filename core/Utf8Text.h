#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// Strict UTF-8: the text, or nothing when the bytes are not valid UTF-8.
// A leading byte order mark is kept as a character, like any other.
std::optional<QString> decodeUtf8Strictly(QByteArrayView bytes);
