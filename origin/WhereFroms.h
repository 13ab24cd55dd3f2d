#pragma once

#include <QByteArrayView>
#include <QStringList>

#include <optional>

// The value of com.apple.metadata:kMDItemWhereFroms: a binary property list holding an
// array of strings, usually the download URL and the page it came from.
//
// Read by a reader of that one shape alone, in one pass over the array and never deeper, so
// a crafted list (nested a million deep, or one array referenced a billion times over)
// costs no more than its own bytes; the strings together may expand to kMaxTextBytes.
class WhereFroms
{
public:
    inline static constexpr char kAttribute[] = "com.apple.metadata:kMDItemWhereFroms";
    static constexpr qsizetype kMaxTextBytes = 1 << 20;

    // The strings in order (each cut as ValueCap says), or nothing when the bytes are not
    // such a list (damaged, another type, or an element that is not a string: a damaged
    // list is not shown in part); then `problem`, where given, says why.
    static std::optional<QStringList> parse(QByteArrayView bytes, QString* problem = nullptr);
};
