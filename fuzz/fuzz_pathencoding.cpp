// The percent-encoding of paths over arbitrary bytes: only characters a URL path may hold,
// slashes kept, and decoding gives back exactly the bytes.
#include "core/PathEncoding.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool mayStand(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("-._~/!$&'()*+,;=:@").contains(c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString encoded = encodePath(raw);
    const QByteArray ascii = encoded.toLatin1();
    if (QString::fromLatin1(ascii) != encoded)
        std::abort();
    for (qsizetype i = 0; i < ascii.size(); ++i) {
        const char c = ascii.at(i);
        if (c == '%') {
            if (i + 2 >= ascii.size() || !isUpperHex(ascii.at(i + 1)) || !isUpperHex(ascii.at(i + 2)))
                std::abort();
            i += 2;
        } else if (!mayStand(c)) {
            std::abort();
        }
    }
    if (QByteArray::fromPercentEncoding(ascii) != raw || ascii.count('/') != raw.count('/'))
        std::abort();
    // The name as read: one character per UTF-8 sequence or stray byte, nothing lost from valid text.
    const QString name = displayName(raw);
    if (raw.isValidUtf8() && name.toUtf8() != raw)
        std::abort();
    return 0;
}
