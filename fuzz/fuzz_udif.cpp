// The UDIF reader over arbitrary bytes as a .dmg file: it opens or says why not, and every
// read returns what it promises or a reason, within the image's size.
#include "image/udif/UdifImage.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// Reads `length` bytes at `offset` and checks what the reader says about them.
void readAt(const UdifImage& image, quint64 offset, std::size_t length)
{
    std::vector<char> buffer(length);
    QString error;
    const qint64 got = image.read(offset, buffer.data(), length, &error);
    const quint64 expected = offset >= image.size() ? 0 : std::min<quint64>(length, image.size() - offset);
    if (got < 0 ? error.isEmpty() : quint64(got) != expected)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The reader takes a path: the bytes go into a file in memory, opened again by its name.
    const int fd = ::memfd_create("fuzz_udif", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    if (size > 0 && ::write(fd, data, size) != ssize_t(size))
        std::abort();
    QString error;
    const auto image = UdifImage::open(QStringLiteral("/proc/self/fd/%1").arg(fd), &error);
    ::close(fd);
    if (!image) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    if (image->size() % UdifImage::kSectorSize != 0)
        std::abort();
    constexpr std::size_t kRead = 64 * 1024;
    readAt(*image, 0, kRead);
    readAt(*image, image->size() > kRead ? image->size() - kRead : 0, kRead + 1);
    // The first partitions (a table may list thousands).
    const auto& partitions = image->partitions();
    for (std::size_t i = 0; i < std::min<std::size_t>(partitions.size(), 64); ++i) {
        const UdifImage::Partition& partition = partitions[i];
        const quint64 end = (partition.firstSector + partition.sectorCount) * UdifImage::kSectorSize;
        if (end > image->size())
            std::abort();
        // Its first bytes, and a read across its end into what follows.
        readAt(*image, partition.firstSector * UdifImage::kSectorSize, kRead);
        readAt(*image, end > kRead / 2 ? end - kRead / 2 : 0, kRead);
    }
    return 0;
}
