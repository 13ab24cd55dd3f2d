#include "image/DiskImage.h"

#include "core/EvidenceAccess.h"
#include "core/PosixError.h"
#include "core/UniqueFd.h"
#include "image/SleuthKitError.h"
#include "image/udif/UdifImage.h"

#include <QFile>

#include <tsk/libtsk.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Sleuth Kit exports these for external images without declaring them in its public headers.
extern "C" {
void* tsk_img_malloc(size_t size);
void tsk_img_free(void* image);
}

namespace {

// The external image: Sleuth Kit's header first, as tsk_img_open_external asks.
struct RawImage
{
    TSK_IMG_INFO info;
    int fd;
};

ssize_t readRaw(TSK_IMG_INFO* info, TSK_OFF_T offset, char* buffer, size_t length)
{
    const int fd = reinterpret_cast<RawImage*>(info)->fd;
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, buffer + done, length - done, offset + TSK_OFF_T(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            tsk_error_reset();
            tsk_error_set_errno(TSK_ERR_IMG_READ);
            tsk_error_set_errstr("%s", posixError(errno).description.toUtf8().constData());
            return -1;
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

void closeRaw(TSK_IMG_INFO* info)
{
    ::close(reinterpret_cast<RawImage*>(info)->fd);
    tsk_img_free(info);
}

void statRaw(TSK_IMG_INFO*, FILE* out)
{
    std::fputs("Image Type: raw\n", out);
}

// A .dmg: Sleuth Kit reads the disk's bytes as UdifImage inflates them.
struct UdifExternal
{
    TSK_IMG_INFO info;
    UdifImage* udif;
};

ssize_t readUdif(TSK_IMG_INFO* info, TSK_OFF_T offset, char* buffer, size_t length)
{
    QString error;
    const qint64 got = reinterpret_cast<UdifExternal*>(info)->udif->read(quint64(offset), buffer, length, &error);
    if (got < 0) {
        tsk_error_reset();
        tsk_error_set_errno(TSK_ERR_IMG_READ);
        tsk_error_set_errstr("%s", error.toUtf8().constData());
    }
    return ssize_t(got);
}

void closeUdif(TSK_IMG_INFO* info)
{
    delete reinterpret_cast<UdifExternal*>(info)->udif;
    tsk_img_free(info);
}

void statUdif(TSK_IMG_INFO*, FILE* out)
{
    std::fputs("Image Type: UDIF\n", out);
}

bool startsWith(const char* bytes, ssize_t size, const char* magic, ssize_t magicSize)
{
    return size >= magicSize && std::memcmp(bytes, magic, size_t(magicSize)) == 0;
}

// Whether the first bytes (and the last sector) name a format Sleuth Kit reads itself.
bool isContainerFormat(int fd, qint64 size)
{
    char head[32] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    char tail[8] = {};
    const bool vhd = size >= 512 && ::pread(fd, tail, sizeof tail, size - 512) == ssize_t(sizeof tail) &&
                     std::memcmp(tail, "conectix", 8) == 0;
    return vhd || startsWith(head, got, "EVF\x09\x0d\x0a\xff\x00", 8) || // EWF (E01)
           startsWith(head, got, "KDMV", 4) ||                          // VMDK sparse extent
           startsWith(head, got, "# Disk DescriptorFile", 21) ||        // VMDK descriptor
           startsWith(head, got, "vhdxfile", 8) || startsWith(head, got, "AFF10", 5);
}


// The name of the E01, E02, …, EAA, … segment file is `index` (from 1) gives, its first letter
// in the case `e` has.
QByteArray segmentName(const QByteArray& stem, int index, char e)
{
    const int shift = e - 'E'; // 0, or the distance to lowercase
    if (index <= 99)
        return stem + char('E' + shift) + QByteArray::number(index).rightJustified(2, '0');
    const int past = index - 100;
    return stem + char('E' + past / 676 + shift) + char('A' + past / 26 % 26 + shift) + char('A' + past % 26 + shift);
}

// The first segment missing from the set NAME.E01, NAME.E02, … that `path` opens, where a
// later one is there: libewf opens the segments up to the gap and reads zeros past it, which
// would pass for an image without volumes. Empty when none is missing.
QByteArray missingSegment(const QByteArray& path)
{
    if (!path.endsWith(".E01") && !path.endsWith(".e01"))
        return {};
    const QByteArray stem = path.chopped(3);
    const char e = path.at(path.size() - 3);
    int last = 1;
    int gap = 0;
    struct stat status;
    // Past 50 names missing in a row, the set has ended.
    for (int index = 2; index <= 99 + 14 * 676 && index - last <= 50; ++index) {
        if (::stat(segmentName(stem, index, e).constData(), &status) == 0) {
            if (gap != 0)
                return segmentName(stem, gap, e);
            last = index;
        } else if (gap == 0) {
            gap = index;
        }
    }
    return {};
}

} // namespace

DiskImage::DiskImage(TSK_IMG_INFO* image, QByteArray path) : m_image(image), m_path(std::move(path)) {}

DiskImage::~DiskImage()
{
    tsk_img_close(m_image);
}

bool DiskImage::mayHoldImage(const QByteArray& path)
{
    struct stat status;
    return ::stat(path.constData(), &status) == 0 && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
}

std::unique_ptr<DiskImage> DiskImage::open(const QByteArray& path, QString* error)
{
    std::vector<KnownPartition> known;
    TSK_IMG_INFO* image = UdifImage::hasTrailer(QFile::decodeName(path)) ? openUdif(path, &known, error)
                                                                          : openRaw(path, error);
    if (!image && error->isEmpty()) {
        tsk_error_reset();
        if (const QByteArray missing = missingSegment(path); !missing.isEmpty()) {
            *error = QStringLiteral("the segment file %1 of the image is missing").arg(QFile::decodeName(missing));
            return nullptr;
        }
        image = tsk_img_open_utf8_sing(path.constData(), TSK_IMG_TYPE_DETECT, 0);
        if (image)
            EvidenceAccess::openedByLibrary();
        else
            *error = SleuthKitError::take(QStringLiteral("not a disk image Sleuth Kit can read"));
    }
    if (!image)
        return nullptr;
    auto disk = std::make_unique<DiskImage>(image, path);
    disk->m_known = std::move(known);
    return disk;
}

TSK_IMG_INFO* DiskImage::openUdif(const QByteArray& path, std::vector<KnownPartition>* known, QString* error)
{
    std::unique_ptr<UdifImage> udif = UdifImage::open(QFile::decodeName(path), error);
    if (!udif)
        return nullptr;
    // Refused whole: Sleuth Kit would meet the unreadable chunks as damaged file systems.
    if (const QStringList unsupported = udif->unsupportedChunkTypes(); !unsupported.isEmpty()) {
        *error = QStringLiteral("the .dmg is compressed with %1, which cannot be read here (zlib, bzip2 and "
                                "uncompressed images can)")
                     .arg(unsupported.join(QStringLiteral(", ")));
        return nullptr;
    }
    for (const UdifImage::Partition& partition : udif->partitions())
        known->push_back({partition.name, qint64(partition.firstSector * UdifImage::kSectorSize),
                          qint64(partition.sectorCount * UdifImage::kSectorSize)});
    auto* external = static_cast<UdifExternal*>(tsk_img_malloc(sizeof(UdifExternal)));
    if (!external) {
        *error = SleuthKitError::take(QStringLiteral("cannot open the image"));
        return nullptr;
    }
    const qint64 size = qint64(udif->size());
    external->udif = udif.release();
    if (TSK_IMG_INFO* image = tsk_img_open_external(external, size, 512, readUdif, closeUdif, statUdif))
        return image;
    delete external->udif;
    tsk_img_free(external);
    *error = SleuthKitError::take(QStringLiteral("cannot open the image"));
    return nullptr;
}

// Null with an empty error when the file is in a format Sleuth Kit opens itself.
TSK_IMG_INFO* DiskImage::openRaw(const QByteArray& path, QString* error)
{
    UniqueFd owned(EvidenceAccess::openat(AT_FDCWD, path.constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    const int fd = owned.fd();
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        *error = posixError(errno).description;
        return nullptr;
    }
    const qint64 size = ::lseek(fd, 0, SEEK_END); // a block device's size too
    if (!S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode)) {
        *error = QStringLiteral("not a file or a block device");
    } else if (size <= 0) {
        *error = QStringLiteral("the image is empty");
    } else if (!isContainerFormat(fd, size)) {
        auto* raw = static_cast<RawImage*>(tsk_img_malloc(sizeof(RawImage)));
        if (raw) {
            raw->fd = fd;
            if (TSK_IMG_INFO* image = tsk_img_open_external(raw, size, 512, readRaw, closeRaw, statRaw)) {
                owned.release(); // closeRaw closes it
                return image;
            }
            tsk_img_free(raw);
        }
        *error = SleuthKitError::take(QStringLiteral("cannot open the image"));
    }
    return nullptr;
}

qint64 DiskImage::size() const
{
    return m_image->size;
}

bool DiskImage::read(qint64 offset, char* buffer, qint64 length) const
{
    return tsk_img_read(m_image, offset, buffer, size_t(length)) == ssize_t(length);
}
