#include "core/AppleDouble.h"

#include <algorithm>

namespace {

constexpr quint32 kMagic = 0x00051607;
constexpr quint32 kVersion = 0x00020000;
constexpr quint64 kHeaderSize = 26; // magic, version, filler, count
constexpr quint64 kEntrySize = 12;  // id, offset, length
constexpr quint32 kFinderInfoId = 9;
constexpr quint64 kFinderInfoSize = 32;
constexpr quint64 kAttrStart = kFinderInfoSize + 2; // after the padding
constexpr quint32 kAttrMagic = 0x41545452;          // "ATTR"
constexpr quint64 kAttrHeaderSize = 36;
constexpr quint64 kAttrCountAt = 34;
constexpr quint64 kAttrEntryFixed = 11; // offset, length, flags, name length

// Reads only below the end of `bytes`: callers check `at + width <= bytes.size()` first.
quint32 be32(QByteArrayView bytes, quint64 at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

quint16 be16(QByteArrayView bytes, quint64 at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return quint16(p[0] << 8 | p[1]);
}

struct Extent
{
    quint64 offset;
    quint64 length;
    quint64 end() const { return offset + length; } // 32-bit parts: no overflow in 64 bits
};

// The header and entry table: the Finder Info entry (length 0 when there is none) and the
// end of the table, or nothing when `bytes` is not a sound AppleDouble header.
struct Header
{
    Extent finderInfo{0, 0};
    bool hasFinderInfo = false;
    quint64 tableEnd = 0;
};

std::optional<Header> readHeader(QByteArrayView bytes, quint64 fileSize, bool needTable)
{
    const auto size = quint64(bytes.size());
    if (size < kHeaderSize || size > fileSize || be32(bytes, 0) != kMagic || be32(bytes, 4) != kVersion)
        return std::nullopt;
    Header header;
    header.tableEnd = kHeaderSize + kEntrySize * be16(bytes, 24);
    if (header.tableEnd > fileSize)
        return std::nullopt;
    if (header.tableEnd > size) {
        if (needTable)
            return std::nullopt;
        return header; // the rest of the table is still to be read
    }
    for (quint64 at = kHeaderSize; at < header.tableEnd; at += kEntrySize) {
        const Extent entry{be32(bytes, at + 4), be32(bytes, at + 8)};
        if (entry.end() > fileSize)
            return std::nullopt;
        if (be32(bytes, at) == kFinderInfoId && !header.hasFinderInfo) {
            header.finderInfo = entry;
            header.hasFinderInfo = true;
        }
    }
    return header;
}

} // namespace

quint64 AppleDouble::extentNeeded(QByteArrayView head, quint64 fileSize)
{
    const auto header = readHeader(head, fileSize, false);
    if (!header)
        return 0;
    return std::max(header->tableEnd, header->finderInfo.end());
}

std::optional<AppleDouble> AppleDouble::parse(QByteArray bytes, quint64 fileSize)
{
    const auto header = readHeader(bytes, fileSize, true);
    if (!header)
        return std::nullopt;
    AppleDouble sidecar;
    if (!header->hasFinderInfo)
        return sidecar;
    const Extent info = header->finderInfo;
    if (info.length < kFinderInfoSize || info.end() > quint64(bytes.size()))
        return std::nullopt;
    // Finder info alone, or followed by something other than an attribute block.
    const quint64 attrStart = info.offset + kAttrStart;
    if (info.length < kAttrStart + kAttrHeaderSize || be32(bytes, attrStart) != kAttrMagic)
        return sidecar;

    const quint64 infoEnd = info.end();
    const quint16 count = be16(bytes, attrStart + kAttrCountAt);
    quint64 at = attrStart + kAttrHeaderSize;
    sidecar.m_entries.reserve(count);
    for (quint16 i = 0; i < count; ++i) {
        if (at + kAttrEntryFixed > infoEnd)
            return std::nullopt;
        const Extent value{be32(bytes, at), be32(bytes, at + 4)};
        const quint64 nameLength = quint8(bytes.at(qsizetype(at + 10)));
        const quint64 name = at + kAttrEntryFixed;
        if (nameLength == 0 || name + nameLength > infoEnd)
            return std::nullopt;
        // The name ends at its last byte, its NUL, and nowhere before.
        const QByteArrayView nameBytes(bytes.constData() + name, qsizetype(nameLength));
        if (nameBytes.indexOf('\0') != qsizetype(nameLength - 1))
            return std::nullopt;
        if (value.offset < info.offset || value.end() > infoEnd)
            return std::nullopt;
        sidecar.m_entries.push_back(
            {quint32(name), quint32(nameLength - 1), quint32(value.offset), quint32(value.length)});
        at += (kAttrEntryFixed + nameLength + 3) & ~quint64(3); // each entry padded to 4 bytes
    }
    sidecar.m_bytes = std::move(bytes);
    return sidecar;
}

AppleDouble::Attribute AppleDouble::attribute(const Entry& entry) const
{
    return {std::string_view(m_bytes.constData() + entry.nameOffset, entry.nameLength),
            QByteArrayView(m_bytes.constData() + entry.valueOffset, qsizetype(entry.valueLength))};
}

std::optional<QByteArrayView> AppleDouble::value(std::string_view name) const
{
    for (const Entry& entry : m_entries) {
        const Attribute found = attribute(entry);
        if (found.name == name)
            return found.value;
    }
    return std::nullopt;
}

std::vector<AppleDouble::Attribute> AppleDouble::attributes() const
{
    std::vector<Attribute> all;
    all.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        all.push_back(attribute(entry));
    return all;
}
