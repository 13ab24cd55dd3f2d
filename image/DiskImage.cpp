#include "image/DiskImage.h"

#include "core/EvidenceAccess.h"
#include "core/PosixError.h"
#include "core/UniqueFd.h"
#include "image/SleuthKitError.h"
#include "image/libyal/LibraryImage.h"
#include "image/udif/UdifImage.h"

#include <QFile>

#include <tsk/libtsk.h>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

// Sleuth Kit exports these for external images without declaring them in its public headers.
extern "C" {
void* tsk_img_malloc(size_t size);
void tsk_img_free(void* image);
}

namespace {

// A raw image or block device, read as it stands.
class RawFile
{
public:
    explicit RawFile(UniqueFd fd) : m_fd(std::move(fd)) {}

    qint64 read(quint64 offset, char* buffer, size_t length, QString* error) const
    {
        size_t done = 0;
        while (done < length) {
            const ssize_t got = ::pread(m_fd.fd(), buffer + done, length - done, off_t(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                *error = posixError(errno).description;
                return -1;
            }
            if (got == 0)
                break;
            done += size_t(got);
        }
        return qint64(done);
    }

private:
    UniqueFd m_fd;
};

const char* typeName(const RawFile&)
{
    return "raw";
}

const char* typeName(const UdifImage&)
{
    return "UDIF";
}

const char* typeName(const LibraryImage& image)
{
    return image.format() == LibraryImage::Format::Ewf ? "ewf" : "vmdk";
}

// A raw image, a .dmg (UdifImage inflates it) or an E01 or VMDK image (LibraryImage) that
// Sleuth Kit reads through our read(); Sleuth Kit's header first, as tsk_img_open_external asks.
std::mutex& failureMutex()
{
    static std::mutex mutex;
    return mutex;
}

template<typename Image> struct External
{
    TSK_IMG_INFO info;
    Image* image;
    QString* firstFailure; // kept: Sleuth Kit reports a volume it could not read as none at all

    static ssize_t read(TSK_IMG_INFO* info, TSK_OFF_T offset, char* buffer, size_t length)
    {
        QString error;
        auto* external = reinterpret_cast<External*>(info);
        const qint64 got = external->image->read(quint64(offset), buffer, length, &error);
        if (got < 0) {
            tsk_error_reset();
            tsk_error_set_errno(TSK_ERR_IMG_READ);
            tsk_error_set_errstr("%s", error.toUtf8().constData());
            const std::lock_guard lock(failureMutex()); // walking threads read too
            if (external->firstFailure->isEmpty())
                *external->firstFailure = error;
        }
        return ssize_t(got);
    }

    static void close(TSK_IMG_INFO* info)
    {
        delete reinterpret_cast<External*>(info)->image;
        delete reinterpret_cast<External*>(info)->firstFailure;
        tsk_img_free(info);
    }

    static void stat(TSK_IMG_INFO* info, FILE* out)
    {
        std::fprintf(out, "Image Type: %s\n", typeName(*reinterpret_cast<External*>(info)->image));
    }
};

// Hands `image` to Sleuth Kit; null with the reason in `error`. `failure` then holds the first
// read that failed, for as long as the image is open.
template<typename Image>
TSK_IMG_INFO* openExternal(std::unique_ptr<Image> image, qint64 size, unsigned int sectorSize,
                           const QString** failure, QString* error)
{
    using Info = External<Image>;
    if (auto* external = static_cast<Info*>(tsk_img_malloc(sizeof(Info)))) {
        external->image = image.get();
        external->firstFailure = new QString;
        if (TSK_IMG_INFO* info =
                tsk_img_open_external(external, size, sectorSize, Info::read, Info::close, Info::stat)) {
            image.release(); // Info::close deletes it
            *failure = external->firstFailure;
            return info;
        }
        delete external->firstFailure;
        tsk_img_free(external);
    }
    *error = SleuthKitError::take(QStringLiteral("cannot open the image"));
    return nullptr;
}

bool startsWith(const char* bytes, ssize_t size, const char* magic, ssize_t magicSize)
{
    return size >= magicSize && std::memcmp(bytes, magic, size_t(magicSize)) == 0;
}

// What the first bytes (and the last sector) say the image is.
enum class Container
{
    Raw,
    Ewf,
    Vmdk,
    OpenedBySleuthKit
};

Container containerFormat(int fd, qint64 size)
{
    char head[32] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    char tail[8] = {};
    const bool vhd = size >= 512 && ::pread(fd, tail, sizeof tail, size - 512) == ssize_t(sizeof tail) &&
                     std::memcmp(tail, "conectix", 8) == 0;
    if (startsWith(head, got, "EVF\x09\x0d\x0a\xff\x00", 8))
        return Container::Ewf;
    if (startsWith(head, got, "KDMV", 4) || startsWith(head, got, "# Disk DescriptorFile", 21))
        return Container::Vmdk; // a sparse extent, or a descriptor naming the extents
    if (vhd || startsWith(head, got, "vhdxfile", 8) || startsWith(head, got, "AFF10", 5))
        return Container::OpenedBySleuthKit;
    return Container::Raw;
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
    const QString* failure = nullptr;
    TSK_IMG_INFO* image = UdifImage::hasTrailer(QFile::decodeName(path))
                              ? openUdif(path, &known, &failure, error)
                              : openRaw(path, &failure, error);
    if (!image && error->isEmpty()) {
        tsk_error_reset();
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
    disk->m_readFailure = failure;
    return disk;
}

TSK_IMG_INFO* DiskImage::openUdif(const QByteArray& path, std::vector<KnownPartition>* known,
                                  const QString** failure, QString* error)
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
    const qint64 size = qint64(udif->size());
    return openExternal(std::move(udif), size, 512, failure, error);
}

TSK_IMG_INFO* DiskImage::openLibrary(LibraryImage::Format format, const QByteArray& path,
                                     const QString** failure, QString* error)
{
    std::unique_ptr<LibraryImage> library = LibraryImage::open(format, path, error);
    if (!library)
        return nullptr;
    const qint64 size = library->size();
    const unsigned int sectorSize = library->sectorSize();
    return openExternal(std::move(library), size, sectorSize, failure, error);
}

// Null with an empty error when the file is in a format Sleuth Kit opens itself.
TSK_IMG_INFO* DiskImage::openRaw(const QByteArray& path, const QString** failure, QString* error)
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
    } else if (const Container format = containerFormat(fd, size); format == Container::Ewf) {
        return openLibrary(LibraryImage::Format::Ewf, path, failure, error);
    } else if (format == Container::Vmdk) {
        return openLibrary(LibraryImage::Format::Vmdk, path, failure, error);
    } else if (format == Container::Raw) {
        return openExternal(std::make_unique<RawFile>(std::move(owned)), size, 512, failure, error);
    }
    return nullptr;
}

qint64 DiskImage::size() const
{
    return m_image->size;
}

QString DiskImage::readFailure() const
{
    const std::lock_guard lock(failureMutex());
    return m_readFailure ? *m_readFailure : QString();
}

bool DiskImage::read(qint64 offset, char* buffer, qint64 length) const
{
    return tsk_img_read(m_image, offset, buffer, size_t(length)) == ssize_t(length);
}
