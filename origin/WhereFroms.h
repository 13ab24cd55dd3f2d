#pragma once

#include <QByteArrayView>
#include <QStringList>

#include <optional>

// The value of com.apple.metadata:kMDItemWhereFroms: a binary property list holding an
// array of strings, usually the download URL and the page it came from.
class WhereFroms
{
public:
    inline static constexpr char kAttribute[] = "com.apple.metadata:kMDItemWhereFroms";

    // The strings in order, or nothing when the bytes are not such a list (damaged,
    // another type, or an element that is not a string): a damaged list is not shown in part.
    static std::optional<QStringList> parse(QByteArrayView bytes);
};
