#include "origin/WhereFroms.h"

#include <plist/plist.h>

#include <limits>
#include <memory>

namespace {

struct PlistFree
{
    void operator()(plist_t node) const { plist_free(node); }
};

} // namespace

std::optional<QStringList> WhereFroms::parse(QByteArrayView bytes)
{
    // The binary form only: its parser checks the header, offsets and object references.
    if (bytes.size() < 8 || bytes.size() > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_bin(bytes.data(), uint32_t(bytes.size()), &parsed);
    const std::unique_ptr<void, PlistFree> root(parsed);
    if (!root || plist_get_node_type(parsed) != PLIST_ARRAY)
        return std::nullopt;
    QStringList strings;
    const uint32_t count = plist_array_get_size(parsed);
    for (uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(parsed, i);
        if (!item || plist_get_node_type(item) != PLIST_STRING)
            return std::nullopt;
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(item, &length);
        if (!text || length > uint64_t(std::numeric_limits<qsizetype>::max()))
            return std::nullopt;
        strings.append(QString::fromUtf8(text, qsizetype(length)));
    }
    return strings;
}
