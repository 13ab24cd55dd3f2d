#include "image/libyal/BfioPool.h"

#include "core/EvidenceAccess.h"
#include "core/PosixError.h"
#include "core/UniqueFd.h"
#include "image/libyal/LibyalCalls.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Past this many, libbfio closes the least recently used file: a set of hundreds of segments
// stays within the walk's descriptor budget.
constexpr int kMaximumOpenFiles = 16;

// O_NONBLOCK: a FIFO swapped in for a segment fails the regular-file check instead of hanging.
constexpr int kOpenFlags = O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;

// The io_handle behind each libbfio handle.
struct Descriptor
{
    QByteArray path;
    size64_t size = 0;
    int fd = -1;
    off64_t offset = 0;
};

Descriptor* descriptor(intptr_t* io)
{
    return reinterpret_cast<Descriptor*>(io);
}

int closeFile(intptr_t* io, libbfio_error_t**)
{
    if (!io)
        return -1;
    if (descriptor(io)->fd >= 0)
        ::close(descriptor(io)->fd);
    descriptor(io)->fd = -1;
    return 0;
}

int freeFile(intptr_t** io, libbfio_error_t** error)
{
    if (!io)
        return -1;
    if (*io) {
        closeFile(*io, error);
        delete descriptor(*io);
        *io = nullptr;
    }
    return 1;
}

int cloneFile(intptr_t** to, intptr_t* from, libbfio_error_t**)
{
    if (!to || *to)
        return -1;
    if (from)
        *to = reinterpret_cast<intptr_t*>(new Descriptor{descriptor(from)->path, descriptor(from)->size});
    return 1;
}

int openFile(intptr_t* io, int accessFlags, libbfio_error_t**)
{
    if (!io || (accessFlags & LIBBFIO_ACCESS_FLAG_WRITE) != 0)
        return -1; // evidence is never opened for writing
    Descriptor* file = descriptor(io);
    if (file->fd < 0)
        file->fd = EvidenceAccess::openat(AT_FDCWD, file->path.constData(), kOpenFlags);
    file->offset = 0;
    return file->fd >= 0 ? 1 : -1;
}

ssize_t readFile(intptr_t* io, uint8_t* buffer, size_t size, libbfio_error_t**)
{
    if (!io || descriptor(io)->fd < 0)
        return -1;
    Descriptor* file = descriptor(io);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(file->fd, buffer + done, size - done, file->offset + off64_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    file->offset += off64_t(done);
    return ssize_t(done);
}

ssize_t writeFile(intptr_t*, const uint8_t*, size_t, libbfio_error_t**)
{
    return -1;
}

off64_t seekFile(intptr_t* io, off64_t offset, int whence, libbfio_error_t**)
{
    if (!io)
        return -1;
    Descriptor* file = descriptor(io);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? file->offset
                         : whence == SEEK_END ? off64_t(file->size)
                                              : -1;
    if (base < 0 || base + offset < 0)
        return -1;
    file->offset = base + offset;
    return file->offset;
}

int fileExists(intptr_t* io, libbfio_error_t**)
{
    return io ? 1 : -1; // checked when added
}

int fileIsOpen(intptr_t* io, libbfio_error_t**)
{
    return !io ? -1 : descriptor(io)->fd >= 0 ? 1 : 0;
}

int fileSize(intptr_t* io, size64_t* size, libbfio_error_t**)
{
    if (!io || !size)
        return -1;
    *size = descriptor(io)->size;
    return 1;
}

} // namespace

BfioPool::BfioPool(const LibyalCalls& calls) : m_calls(calls)
{
    if (m_calls.libbfio_pool_initialize(&m_pool, 0, kMaximumOpenFiles, nullptr) != 1)
        m_pool = nullptr;
}

BfioPool::~BfioPool()
{
    if (m_pool)
        m_calls.libbfio_pool_free(&m_pool, nullptr);
}

bool BfioPool::add(const QByteArray& path, QString* error)
{
    const QString name = QFile::decodeName(path);
    UniqueFd fd(EvidenceAccess::openat(AT_FDCWD, path.constData(), kOpenFlags));
    struct stat status;
    if (fd.fd() < 0 || ::fstat(fd.fd(), &status) != 0) {
        *error = name + QStringLiteral(": ") + posixError(errno).description;
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = name + QStringLiteral(": not a regular file");
        return false;
    }
    auto* file = new Descriptor{path, size64_t(status.st_size)};
    libbfio_handle_t* handle = nullptr;
    int entry = 0;
    if (!m_pool ||
        m_calls.libbfio_handle_initialize(
            &handle, reinterpret_cast<intptr_t*>(file), freeFile, cloneFile, openFile, closeFile, readFile,
            writeFile, seekFile, fileExists, fileIsOpen, fileSize,
            LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION, nullptr) != 1) {
        delete file;
        *error = name + QStringLiteral(": cannot be handed to the image library");
        return false;
    }
    if (m_calls.libbfio_pool_append_handle(m_pool, &entry, handle, LIBBFIO_OPEN_READ, nullptr) != 1) {
        m_calls.libbfio_handle_free(&handle, nullptr); // frees `file` too
        *error = name + QStringLiteral(": cannot be handed to the image library");
        return false;
    }
    ++m_count;
    return true;
}

libbfio_handle_t* BfioPool::handle(int entry) const
{
    libbfio_handle_t* handle = nullptr;
    return m_pool && m_calls.libbfio_pool_get_handle(m_pool, entry, &handle, nullptr) == 1 ? handle : nullptr;
}
