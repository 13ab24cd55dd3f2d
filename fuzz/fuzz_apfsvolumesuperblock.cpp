// An APFS volume superblock's role, name and flags read from arbitrary bytes: it parses only
// what carries the magic, and what it reads stays within the bytes and follows from them.
#include "image/ApfsVolumeSuperblock.h"

#include <QtEndian>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto superblock = ApfsVolumeSuperblock::parse(bytes);
    const bool isSuperblock =
        size >= std::size_t(ApfsVolumeSuperblock::kSize) && std::memcmp(data + 32, "APSB", 4) == 0;
    if (superblock.has_value() != isSuperblock)
        std::abort();
    if (!superblock)
        return 0;
    // The name ends at the field's end or its first NUL, and the flag is bit 0 cleared.
    if (superblock->name.size() > 256 || superblock->name.contains(QChar(u'\0')))
        std::abort();
    if (superblock->encrypted != !(data[264] & 1))
        std::abort();
    // No role is shown as a name of its own: none, a known role, or the number in hex.
    const quint16 role = qFromLittleEndian<quint16>(data + 964);
    if ((role == 0) != superblock->role.isEmpty() || superblock->role.size() > 10)
        std::abort();
    return 0;
}
