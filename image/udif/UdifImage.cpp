#include "image/udif/UdifImage.h"

#include "core/EvidenceAccess.h"
#include "image/udif/UdifBytes.h"

#include <QByteArrayView>
#include <QFile>

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace udif;

static_assert(kMaxSectors == quint64(std::numeric_limits<qint64>::max()) / UdifImage::kSectorSize);

namespace {

// Where the trailer keeps what we use (big-endian).
constexpr qsizetype kKolyVersion = 4;
constexpr qsizetype kKolyHeaderSize = 8;
constexpr qsizetype kKolyXmlOffset = 216;
constexpr qsizetype kKolyXmlLength = 224;
constexpr qsizetype kKolySectorCount = 492;

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
    if (!readFile(xmlOffset, xml.data(), std::size_t(xml.size()), error) ||
        !m_tables.load(xml, dataEnd, error))
        return false;

    // The trailer's sector count, else (where it gives none) the end of the last partition.
    quint64 sectors = sectorCount;
    for (const Partition& partition : m_tables.partitions()) {
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
    if (!decompress(m_tables.chunks()[index], slot->bytes, error)) {
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
        const std::vector<Chunk>& chunks = m_tables.chunks();
        const auto next =
            std::upper_bound(chunks.begin(), chunks.end(), sector,
                             [](quint64 s, const Chunk& c) { return s < c.firstSector + c.sectorCount; });
        char* const into = buffer + done;
        if (next == chunks.end() || next->firstSector > sector) {
            // Sectors no chunk covers read as zeros.
            const quint64 gapEnd = next == chunks.end() ? m_size : next->firstSector * kSectorSize;
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
            const std::vector<char>* bytes = inflated(std::size_t(next - chunks.begin()), error);
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
