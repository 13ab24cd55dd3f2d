#include "image/udif/UdifBlockTables.h"

#include "image/udif/UdifBytes.h"
#include "image/udif/UdifImage.h"

#include <QByteArrayView>

#include <plist/plist.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

using namespace udif;

namespace {

// The block table: a 204-byte header, then 40-byte chunk entries.
constexpr quint64 kTableHeader = 204;
constexpr quint64 kTableEntry = 40;
constexpr qsizetype kTableFirstSector = 8;
constexpr qsizetype kTableSectorCount = 16;
constexpr qsizetype kTableDataOffset = 24;
constexpr qsizetype kTableChunkCount = 200;
// A compressed chunk is read whole; zlib and bzip2 add at most 1% to what they cannot shrink.
constexpr quint64 kMaxCompressedBytes = UdifImage::kMaxChunkBytes + UdifImage::kMaxChunkBytes / 64;
// Partition names as we keep them.
constexpr qsizetype kMaxNameLength = 256;

// The deepest nesting of <dict> and <array> elements in `xml`; comments, CDATA sections,
// declarations and processing instructions are skipped as an XML parser skips them. -1 when
// a tag, comment or section is left open or an element is closed that was never opened.
int containerDepth(QByteArrayView xml)
{
    int depth = 0, deepest = 0;
    qsizetype at = 0;
    auto skipPast = [&](const char* opening, const char* closing) {
        if (!xml.sliced(at).startsWith(opening))
            return qsizetype(0);
        const qsizetype end = xml.indexOf(closing, at + qsizetype(std::strlen(opening)));
        return end < 0 ? qsizetype(-1) : end + qsizetype(std::strlen(closing));
    };
    while ((at = xml.indexOf('<', at)) >= 0) {
        static constexpr std::pair<const char*, const char*> kSkipped[] = {
            {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}, {"<!", ">"}};
        qsizetype next = 0;
        for (const auto& [opening, closing] : kSkipped) {
            next = skipPast(opening, closing);
            if (next != 0)
                break;
        }
        if (next < 0)
            return -1;
        if (next > 0) {
            at = next;
            continue;
        }
        const qsizetype end = xml.indexOf('>', at);
        if (end < 0)
            return -1;
        QByteArrayView tag = xml.sliced(at + 1, end - at - 1);
        at = end + 1;
        const bool closing = tag.startsWith('/');
        if (closing)
            tag = tag.sliced(1);
        const bool empty = tag.endsWith('/');
        qsizetype nameLength = 0;
        while (nameLength < tag.size() && !QByteArrayView(" \t\r\n/").contains(tag[nameLength]))
            ++nameLength;
        const QByteArrayView name = tag.first(nameLength);
        if (name != "dict" && name != "array")
            continue;
        if (closing) {
            if (--depth < 0)
                return -1;
        } else if (!empty) {
            deepest = std::max(deepest, ++depth);
        }
    }
    return deepest;
}

struct PlistFree
{
    void operator()(plist_t node) const { plist_free(node); }
};

// The string value of `key` in the dict `node`; null when there is none.
plist_t stringItem(plist_t node, const char* key)
{
    plist_t item = plist_dict_get_item(node, key);
    return item && plist_get_node_type(item) == PLIST_STRING ? item : nullptr;
}

QByteArray stringValue(plist_t item)
{
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    return text ? QByteArray(text, qsizetype(length)) : QByteArray();
}

} // namespace

bool UdifBlockTables::load(const QByteArray& xml, quint64 dataEnd, QString* error)
{
    m_dataEnd = dataEnd;
    const int depth = containerDepth(xml);
    if (depth < 0 || depth > UdifImage::kMaxPlistDepth) {
        *error = depth < 0 ? QStringLiteral("the property list is not well-formed XML")
                           : QStringLiteral("the property list nests %1 deep, more than the %2 we read")
                                 .arg(depth)
                                 .arg(UdifImage::kMaxPlistDepth);
        return false;
    }
    plist_t parsed = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &parsed);
    const std::unique_ptr<void, PlistFree> root(parsed);
    if (!root) {
        *error = QStringLiteral("the property list cannot be parsed");
        return false;
    }
    plist_t fork =
        plist_get_node_type(parsed) == PLIST_DICT ? plist_dict_get_item(parsed, "resource-fork") : nullptr;
    plist_t blkx =
        fork && plist_get_node_type(fork) == PLIST_DICT ? plist_dict_get_item(fork, "blkx") : nullptr;
    if (!blkx || plist_get_node_type(blkx) != PLIST_ARRAY) {
        *error = QStringLiteral("the property list has no resource-fork blkx array");
        return false;
    }
    const uint32_t count = plist_array_get_size(blkx);
    if (count > UdifImage::kMaxPartitions) {
        *error = QStringLiteral("the blkx array lists %1 partitions, more than the %2 we read")
                     .arg(number(count), number(UdifImage::kMaxPartitions));
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        plist_t entry = plist_array_get_item(blkx, i);
        if (!entry || plist_get_node_type(entry) != PLIST_DICT) {
            *error = QStringLiteral("blkx entry %1 is not a dictionary").arg(i);
            return false;
        }
        Partition partition;
        plist_t name = stringItem(entry, "Name");
        if (!name)
            name = stringItem(entry, "CFName");
        if (name)
            partition.name =
                QString::fromUtf8(stringValue(name).left(kMaxNameLength * 4)).left(kMaxNameLength);
        plist_t data = plist_dict_get_item(entry, "Data");
        if (!data || plist_get_node_type(data) != PLIST_DATA) {
            *error = QStringLiteral("blkx entry %1 (\"%2\") has no Data").arg(number(i), partition.name);
            return false;
        }
        uint64_t length = 0;
        const char* table = plist_get_data_ptr(data, &length);
        if (!addTable(partition, table, table ? length : 0, error))
            return false;
    }
    return checkChunks(error);
}

bool UdifBlockTables::addTable(const Partition& named, const char* data, quint64 length, QString* error)
{
    Partition partition = named;
    const QString where = QStringLiteral("the block table of \"%1\"").arg(partition.name);
    if (length < kTableHeader || std::memcmp(data, "mish", 4) != 0 || be32(data + 4) != 1) {
        *error = length < kTableHeader
                     ? QStringLiteral("%1 is %2 bytes, shorter than its header").arg(where, number(length))
                     : QStringLiteral("%1 is not a version 1 \"mish\" table").arg(where);
        return false;
    }
    partition.firstSector = be64(data + kTableFirstSector);
    partition.sectorCount = be64(data + kTableSectorCount);
    if (!fits(partition.firstSector, partition.sectorCount, kMaxSectors)) {
        *error = QStringLiteral("%1 names sectors %2 + %3, which overflow")
                     .arg(where, number(partition.firstSector), number(partition.sectorCount));
        return false;
    }
    const quint64 dataOffset = be64(data + kTableDataOffset);
    const quint64 count = be32(data + kTableChunkCount);
    if (count > (length - kTableHeader) / kTableEntry) {
        *error = QStringLiteral("%1 lists %2 chunks but holds %3")
                     .arg(where, number(count), number((length - kTableHeader) / kTableEntry));
        return false;
    }
    if (count > UdifImage::kMaxChunks - m_chunks.size()) {
        *error =
            QStringLiteral("the block tables list more than %1 chunks").arg(number(UdifImage::kMaxChunks));
        return false;
    }
    const quint64 dataEnd = m_dataEnd;
    for (quint64 i = 0; i < count; ++i) {
        const char* entry = data + kTableHeader + i * kTableEntry;
        const quint32 type = be32(entry);
        const quint64 sector = be64(entry + 8), sectors = be64(entry + 16);
        const quint64 offset = be64(entry + 24), stored = be64(entry + 32);
        if (type == UdifImage::Terminator)
            break;
        if (type == UdifImage::Comment || sectors == 0)
            continue;
        const QString chunk = QStringLiteral("the %1 chunk %2 of \"%3\"")
                                  .arg(UdifImage::chunkTypeName(type), number(i), partition.name);
        if (!fits(sector, sectors, partition.sectorCount)) {
            *error = QStringLiteral("%1 covers sectors %2 + %3, outside its partition's %4 sectors")
                         .arg(chunk, number(sector), number(sectors), number(partition.sectorCount));
            return false;
        }
        Chunk entryChunk{partition.firstSector + sector, sectors, 0, 0, type};
        // Where the bytes are matters only for the chunks we read from the file.
        if (type == UdifImage::Raw || type == UdifImage::Zlib || type == UdifImage::Bzip2) {
            if (offset > std::numeric_limits<quint64>::max() - dataOffset ||
                !fits(dataOffset + offset, stored, dataEnd)) {
                *error =
                    QStringLiteral("%1 (%2 bytes at offset %3) runs past the %4 bytes before the trailer")
                        .arg(chunk, number(stored), number(offset), number(dataEnd));
                return false;
            }
            entryChunk.fileOffset = dataOffset + offset;
            entryChunk.fileLength = stored;
        }
        if (type == UdifImage::Raw && stored != sectors * UdifImage::kSectorSize) {
            *error = QStringLiteral("%1 stores %2 bytes for %3 sectors")
                         .arg(chunk, number(stored), number(sectors));
            return false;
        }
        if ((type == UdifImage::Zlib || type == UdifImage::Bzip2) &&
            (sectors > UdifImage::kMaxChunkBytes / UdifImage::kSectorSize || stored == 0 ||
             stored > kMaxCompressedBytes)) {
            *error = QStringLiteral("%1 holds %2 sectors in %3 bytes; a chunk may hold up to %4 bytes")
                         .arg(chunk, number(sectors), number(stored), number(UdifImage::kMaxChunkBytes));
            return false;
        }
        if (type != UdifImage::ZeroFill && type != UdifImage::Ignore && type != UdifImage::Raw &&
            type != UdifImage::Zlib && type != UdifImage::Bzip2 &&
            !m_unsupported.contains(UdifImage::chunkTypeName(type)))
            m_unsupported.append(UdifImage::chunkTypeName(type));
        m_chunks.push_back(entryChunk);
    }
    m_partitions.push_back(partition);
    return true;
}

bool UdifBlockTables::checkChunks(QString* error)
{
    std::sort(m_chunks.begin(), m_chunks.end(),
              [](const Chunk& a, const Chunk& b) { return a.firstSector < b.firstSector; });
    for (std::size_t i = 1; i < m_chunks.size(); ++i) {
        if (m_chunks[i - 1].firstSector + m_chunks[i - 1].sectorCount > m_chunks[i].firstSector) {
            *error = QStringLiteral("two chunks overlap at sector %1").arg(number(m_chunks[i].firstSector));
            return false;
        }
    }
    std::vector<const Partition*> byStart;
    for (const Partition& partition : m_partitions)
        if (partition.sectorCount > 0)
            byStart.push_back(&partition);
    std::sort(byStart.begin(), byStart.end(),
              [](const Partition* a, const Partition* b) { return a->firstSector < b->firstSector; });
    for (std::size_t i = 1; i < byStart.size(); ++i) {
        if (byStart[i - 1]->firstSector + byStart[i - 1]->sectorCount > byStart[i]->firstSector) {
            *error = QStringLiteral("partitions \"%1\" and \"%2\" overlap")
                         .arg(byStart[i - 1]->name, byStart[i]->name);
            return false;
        }
    }
    return true;
}
