#include "image/udif/UdifImage.h"

#include "core/EvidenceAccess.h"

#include <QByteArrayView>
#include <QFile>
#include <QtEndian>

#include <bzlib.h>
#include <plist/plist.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Where the trailer keeps what we use (big-endian).
constexpr qsizetype kKolyVersion = 4;
constexpr qsizetype kKolyHeaderSize = 8;
constexpr qsizetype kKolyXmlOffset = 216;
constexpr qsizetype kKolyXmlLength = 224;
constexpr qsizetype kKolySectorCount = 492;
// The block table: a 204-byte header, then 40-byte chunk entries.
constexpr quint64 kTableHeader = 204;
constexpr quint64 kTableEntry = 40;
constexpr qsizetype kTableFirstSector = 8;
constexpr qsizetype kTableSectorCount = 16;
constexpr qsizetype kTableDataOffset = 24;
constexpr qsizetype kTableChunkCount = 200;
// Sector numbers stay below this, so that a byte offset fits a signed 64-bit number.
constexpr quint64 kMaxSectors = quint64(std::numeric_limits<qint64>::max()) / UdifImage::kSectorSize;
// A compressed chunk is read whole; zlib and bzip2 add at most 1% to what they cannot shrink.
constexpr quint64 kMaxCompressedBytes = UdifImage::kMaxChunkBytes + UdifImage::kMaxChunkBytes / 64;
// Partition names as we keep them.
constexpr qsizetype kMaxNameLength = 256;

quint32 be32(const char* at)
{
    return qFromBigEndian<quint32>(at);
}
quint64 be64(const char* at)
{
    return qFromBigEndian<quint64>(at);
}

QString number(quint64 value)
{
    return QString::number(value);
}

// Whether [offset, offset + length) lies within [0, limit), without overflowing.
bool fits(quint64 offset, quint64 length, quint64 limit)
{
    return offset <= limit && length <= limit - offset;
}

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

QByteArray stringValue(plist_t item);

// The number under `key` in the dict `node`, written as a string (as hdiutil writes it: "-1",
// "0x0050") or as an integer; 0 when there is none.
qint64 integerValue(plist_t node, const char* key)
{
    plist_t item = plist_dict_get_item(node, key);
    if (item && plist_get_node_type(item) == PLIST_STRING) {
        const QByteArray text = stringValue(item).trimmed();
        const bool hex = text.startsWith("0x") || text.startsWith("0X");
        return hex ? text.sliced(2).toLongLong(nullptr, 16) : text.toLongLong();
    }
    uint64_t value = 0;
    if (item && plist_get_node_type(item) == PLIST_UINT)
        plist_get_uint_val(item, &value);
    return qint64(value);
}

QByteArray stringValue(plist_t item)
{
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    return text ? QByteArray(text, qsizetype(length)) : QByteArray();
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

QString UdifImage::chunkTypeName(quint32 type)
{
    switch (type) {
    case ZeroFill:
        return QStringLiteral("zero-fill");
    case Raw:
        return QStringLiteral("raw");
    case Ignore:
        return QStringLiteral("ignored");
    case Adc:
        return QStringLiteral("ADC");
    case Zlib:
        return QStringLiteral("zlib");
    case Bzip2:
        return QStringLiteral("bzip2");
    case Lzfse:
        return QStringLiteral("LZFSE");
    case Lzma:
        return QStringLiteral("LZMA");
    case Comment:
        return QStringLiteral("comment");
    case Terminator:
        return QStringLiteral("terminator");
    }
    return QStringLiteral("type 0x%1").arg(type, 8, 16, QLatin1Char('0'));
}

UdifImage::~UdifImage() = default;

namespace {

// Opens `path` read-only as evidence: keeping its access time where the kernel allows it (a
// refusal is remembered for the user to be told), and without blocking on a FIFO.
int openEvidence(const QString& path)
{
    return EvidenceAccess::openat(AT_FDCWD, QFile::encodeName(path).constData(),
                                  O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// The size of the regular file or block device `fd`; -1 (errno set, or EINVAL) for others.
qint64 evidenceSize(int fd)
{
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return -1;
    if (S_ISREG(status.st_mode))
        return status.st_size;
    if (S_ISBLK(status.st_mode))
        return ::lseek(fd, 0, SEEK_END);
    errno = EINVAL;
    return -1;
}

} // namespace

bool UdifImage::hasTrailer(const QString& path)
{
    const UniqueFd fd(openEvidence(path));
    if (fd.fd() < 0)
        return false;
    const qint64 size = evidenceSize(fd.fd());
    char magic[4] = {};
    return size >= qint64(kTrailerSize) &&
           ::pread(fd.fd(), magic, sizeof magic, size - qint64(kTrailerSize)) == sizeof magic &&
           std::memcmp(magic, "koly", 4) == 0;
}

std::unique_ptr<UdifImage> UdifImage::open(const QString& path, QString* error)
{
    std::unique_ptr<UdifImage> image(new UdifImage);
    image->m_fd = UniqueFd(openEvidence(path));
    if (image->m_fd.fd() < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, errnoText(errno));
        return nullptr;
    }
    const qint64 size = evidenceSize(image->m_fd.fd());
    if (size < 0) {
        *error = QStringLiteral("%1 is not a regular file or block device").arg(path);
        return nullptr;
    }
    image->m_fileSize = quint64(size);
    if (!image->load(error))
        return nullptr;
    return image;
}

bool UdifImage::readFile(quint64 offset, char* buffer, std::size_t length, QString* error) const
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(m_fd.fd(), buffer + done, length - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            *error = got < 0 ? QStringLiteral("reading %1 bytes at offset %2 failed: %3")
                                   .arg(number(length), number(offset), errnoText(errno))
                             : QStringLiteral("the file ended while reading %1 bytes at offset %2")
                                   .arg(number(length), number(offset));
            return false;
        }
        done += std::size_t(got);
    }
    return true;
}

bool UdifImage::load(QString* error)
{
    if (m_fileSize < kTrailerSize) {
        *error = QStringLiteral("the file is %1 bytes long, too short for a UDIF trailer of 512 bytes")
                     .arg(number(m_fileSize));
        return false;
    }
    const quint64 dataEnd = m_fileSize - kTrailerSize;
    char koly[kTrailerSize];
    if (!readFile(dataEnd, koly, sizeof koly, error))
        return false;
    if (std::memcmp(koly, "koly", 4) != 0) {
        *error = QStringLiteral("no UDIF trailer: the last 512 bytes do not begin with \"koly\"");
        return false;
    }
    if (be32(koly + kKolyVersion) != 4 || be32(koly + kKolyHeaderSize) != kTrailerSize) {
        *error =
            QStringLiteral("UDIF trailer version %1 of %2 bytes is not supported (version 4, 512 bytes is)")
                .arg(number(be32(koly + kKolyVersion)), number(be32(koly + kKolyHeaderSize)));
        return false;
    }
    const quint64 xmlOffset = be64(koly + kKolyXmlOffset), xmlLength = be64(koly + kKolyXmlLength);
    if (xmlLength == 0) {
        *error = QStringLiteral("the UDIF trailer points at no property list, so there is no block table");
        return false;
    }
    if (xmlLength > kMaxPlistBytes) {
        *error = QStringLiteral("the property list is %1 bytes, more than the %2 we read")
                     .arg(number(xmlLength), number(kMaxPlistBytes));
        return false;
    }
    if (!fits(xmlOffset, xmlLength, dataEnd)) {
        *error = QStringLiteral(
                     "the property list (%1 bytes at offset %2) runs past the %3 bytes before the trailer")
                     .arg(number(xmlLength), number(xmlOffset), number(dataEnd));
        return false;
    }
    const quint64 sectorCount = be64(koly + kKolySectorCount);
    if (sectorCount > kMaxSectors) {
        *error = QStringLiteral("the trailer's sector count %1 is too large").arg(number(sectorCount));
        return false;
    }
    QByteArray xml(qsizetype(xmlLength), Qt::Uninitialized);
    if (!readFile(xmlOffset, xml.data(), std::size_t(xml.size()), error) || !loadPlist(xml, error) ||
        !checkChunks(error))
        return false;

    // The trailer's sector count, else (where it gives none) the end of the last partition.
    quint64 sectors = sectorCount;
    for (const Partition& partition : m_partitions) {
        const quint64 end = partition.firstSector + partition.sectorCount;
        if (sectorCount == 0) {
            sectors = std::max(sectors, end);
        } else if (end > sectorCount) {
            *error = QStringLiteral("partition \"%1\" ends at sector %2, past the image's %3 sectors")
                         .arg(partition.name, number(end), number(sectorCount));
            return false;
        }
    }
    m_size = sectors * kSectorSize;
    return true;
}

bool UdifImage::loadPlist(const QByteArray& xml, QString* error)
{
    const int depth = containerDepth(xml);
    if (depth < 0 || depth > kMaxPlistDepth) {
        *error = depth < 0 ? QStringLiteral("the property list is not well-formed XML")
                           : QStringLiteral("the property list nests %1 deep, more than the %2 we read")
                                 .arg(depth)
                                 .arg(kMaxPlistDepth);
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
    if (count > kMaxPartitions) {
        *error = QStringLiteral("the blkx array lists %1 partitions, more than the %2 we read")
                     .arg(number(count), number(kMaxPartitions));
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
        partition.id = integerValue(entry, "ID");
        partition.attributes = quint32(integerValue(entry, "Attributes"));
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
    return true;
}

bool UdifImage::addTable(const Partition& named, const char* data, quint64 length, QString* error)
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
    if (count > kMaxChunks - m_chunks.size()) {
        *error = QStringLiteral("the block tables list more than %1 chunks").arg(number(kMaxChunks));
        return false;
    }
    const quint64 dataEnd = m_fileSize - kTrailerSize;
    for (quint64 i = 0; i < count; ++i) {
        const char* entry = data + kTableHeader + i * kTableEntry;
        const quint32 type = be32(entry);
        const quint64 sector = be64(entry + 8), sectors = be64(entry + 16);
        const quint64 offset = be64(entry + 24), stored = be64(entry + 32);
        if (type == Terminator)
            break;
        if (type == Comment || sectors == 0)
            continue;
        const QString chunk =
            QStringLiteral("the %1 chunk %2 of \"%3\"").arg(chunkTypeName(type), number(i), partition.name);
        if (!fits(sector, sectors, partition.sectorCount)) {
            *error = QStringLiteral("%1 covers sectors %2 + %3, outside its partition's %4 sectors")
                         .arg(chunk, number(sector), number(sectors), number(partition.sectorCount));
            return false;
        }
        Chunk entryChunk{partition.firstSector + sector, sectors, 0, 0, type};
        // Where the bytes are matters only for the chunks we read from the file.
        if (type == Raw || type == Zlib || type == Bzip2) {
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
        if (type == Raw && stored != sectors * kSectorSize) {
            *error = QStringLiteral("%1 stores %2 bytes for %3 sectors")
                         .arg(chunk, number(stored), number(sectors));
            return false;
        }
        if ((type == Zlib || type == Bzip2) &&
            (sectors > kMaxChunkBytes / kSectorSize || stored == 0 || stored > kMaxCompressedBytes)) {
            *error = QStringLiteral("%1 holds %2 sectors in %3 bytes; a chunk may hold up to %4 bytes")
                         .arg(chunk, number(sectors), number(stored), number(kMaxChunkBytes));
            return false;
        }
        if (type != ZeroFill && type != Ignore && type != Raw && type != Zlib && type != Bzip2 &&
            !m_unsupported.contains(chunkTypeName(type)))
            m_unsupported.append(chunkTypeName(type));
        m_chunks.push_back(entryChunk);
    }
    m_partitions.push_back(partition);
    return true;
}

bool UdifImage::checkChunks(QString* error)
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

bool UdifImage::decompress(const Chunk& chunk, std::vector<char>& out, QString* error) const
{
    const quint64 expected = chunk.sectorCount * kSectorSize;
    std::vector<char> in(chunk.fileLength);
    if (!readFile(chunk.fileOffset, in.data(), in.size(), error))
        return false;
    // One byte more than the chunk holds: a stream that does not end there is too long.
    out.resize(expected + 1);
    const QString what =
        QStringLiteral("the %1 chunk at sector %2").arg(chunkTypeName(chunk.type), number(chunk.firstSector));
    quint64 produced = 0;
    bool ended = false;
    if (chunk.type == Zlib) {
        z_stream stream{};
        if (inflateInit(&stream) != Z_OK) {
            *error = QStringLiteral("zlib cannot start");
            return false;
        }
        stream.next_in = reinterpret_cast<Bytef*>(in.data());
        stream.avail_in = uInt(in.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = uInt(out.size());
        int status = Z_OK;
        while (status == Z_OK && stream.avail_in > 0 && stream.avail_out > 0)
            status = inflate(&stream, Z_NO_FLUSH);
        produced = stream.total_out;
        ended = status == Z_STREAM_END;
        const QString message = stream.msg ? QString::fromLatin1(stream.msg) : QString();
        inflateEnd(&stream);
        if (status == Z_DATA_ERROR || status == Z_NEED_DICT || status == Z_MEM_ERROR) {
            *error = QStringLiteral("%1 is damaged: %2")
                         .arg(what, message.isEmpty() ? QStringLiteral("zlib error") : message);
            return false;
        }
    } else {
        unsigned int length = unsigned(out.size());
        const int status =
            BZ2_bzBuffToBuffDecompress(out.data(), &length, in.data(), unsigned(in.size()), 0, 0);
        if (status != BZ_OK && status != BZ_OUTBUFF_FULL && status != BZ_UNEXPECTED_EOF) {
            *error = QStringLiteral("%1 is damaged (bzip2 error %2)").arg(what).arg(status);
            return false;
        }
        ended = status == BZ_OK;
        produced = length;
    }
    out.resize(expected);
    if (!ended || produced != expected) {
        *error = !ended && produced < expected
                     ? QStringLiteral("%1 is cut short: it ends after %2 of its %3 bytes")
                           .arg(what, number(produced), number(expected))
                     : QStringLiteral("%1 does not decompress to the %2 bytes of its sectors")
                           .arg(what, number(expected));
        return false;
    }
    return true;
}

const std::vector<char>* UdifImage::inflated(std::size_t index, QString* error) const
{
    CachedChunk* slot = &m_cache[0];
    for (CachedChunk& cached : m_cache) {
        if (cached.lastUse != 0 && cached.index == index) {
            cached.lastUse = ++m_useCounter;
            return &cached.bytes;
        }
        if (cached.lastUse < slot->lastUse)
            slot = &cached;
    }
    slot->lastUse = 0;
    if (!decompress(m_chunks[index], slot->bytes, error)) {
        slot->bytes = {};
        return nullptr;
    }
    slot->index = index;
    slot->lastUse = ++m_useCounter;
    return &slot->bytes;
}

qint64 UdifImage::read(quint64 offset, char* buffer, std::size_t length, QString* error) const
{
    if (offset >= m_size)
        return 0;
    const quint64 total = std::min<quint64>(length, m_size - offset);
    const std::lock_guard lock(m_mutex);
    quint64 done = 0;
    while (done < total) {
        const quint64 at = offset + done;
        const quint64 sector = at / kSectorSize;
        // The first chunk that ends after `sector`.
        const auto next =
            std::upper_bound(m_chunks.begin(), m_chunks.end(), sector,
                             [](quint64 s, const Chunk& c) { return s < c.firstSector + c.sectorCount; });
        char* const into = buffer + done;
        if (next == m_chunks.end() || next->firstSector > sector) {
            // Sectors no chunk covers read as zeros.
            const quint64 gapEnd = next == m_chunks.end() ? m_size : next->firstSector * kSectorSize;
            const quint64 take = std::min(total - done, gapEnd - at);
            std::memset(into, 0, take);
            done += take;
            continue;
        }
        const Chunk& chunk = *next;
        const quint64 inChunk = at - chunk.firstSector * kSectorSize;
        const quint64 take = std::min(total - done, chunk.sectorCount * kSectorSize - inChunk);
        if (take == 0) { // cannot happen with the chunks sorted and checked; never loop on it
            *error = QStringLiteral("the block table maps offset %1 to no bytes").arg(number(at));
            return -1;
        }
        switch (chunk.type) {
        case ZeroFill:
        case Ignore:
            std::memset(into, 0, take);
            break;
        case Raw:
            if (!readFile(chunk.fileOffset + inChunk, into, take, error))
                return -1;
            break;
        case Zlib:
        case Bzip2: {
            const std::vector<char>* bytes = inflated(std::size_t(next - m_chunks.begin()), error);
            if (!bytes)
                return -1;
            std::memcpy(into, bytes->data() + inChunk, take);
            break;
        }
        default:
            *error =
                QStringLiteral("%1 chunks are not supported (the chunk at sectors %2 + %3)")
                    .arg(chunkTypeName(chunk.type), number(chunk.firstSector), number(chunk.sectorCount));
            return -1;
        }
        done += take;
    }
    return qint64(total);
}
