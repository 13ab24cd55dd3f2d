#include "tools/cli/OutputTarget.h"

#include "core/PosixError.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

#ifdef O_PATH
constexpr int kLookupOnly = O_PATH | O_CLOEXEC;
#else
constexpr int kLookupOnly = O_RDONLY | O_CLOEXEC;
#endif

QString reason(int error)
{
    return posixError(error).description;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The path that `path` leads to through symbolic links: a replaced file stays where the
// link points, and the link stays a link.
QByteArray followLinks(QByteArray path, int* error)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        QByteArray target(qsizetype(st.st_size) + 1, '\0');
        const ssize_t length = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (length < 0 || length >= target.size()) { // changed while we looked
            *error = length < 0 ? errno : EAGAIN;
            return {};
        }
        target.truncate(length);
        const qsizetype slash = path.lastIndexOf('/');
        path = target.startsWith('/') || slash < 0 ? target : path.left(slash + 1) + target;
    }
    *error = ELOOP;
    return {};
}

// A stream connection to the UNIX socket at `path`, or -1 with errno set.
int connectSocket(const QByteArray& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QByteArray name = path;
    int pathFd = -1;
    if (size_t(name.size()) >= sizeof address.sun_path) { // reached through a descriptor instead
        pathFd = ::open(path.constData(), kLookupOnly);
        if (pathFd < 0)
            return -1;
        name = "/proc/self/fd/" + QByteArray::number(pathFd);
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        fd = -1;
        errno = error;
    }
    if (pathFd >= 0) {
        const int error = errno;
        ::close(pathFd);
        errno = error;
    }
    return fd;
}

} // namespace

OutputTarget::~OutputTarget()
{
    abandon();
    if (m_ownsFd && m_fd >= 0)
        ::close(m_fd);
}

std::optional<QString> OutputTarget::open(const QByteArray& rawPath)
{
    if (rawPath.isEmpty() || rawPath == "-") {
        m_fd = STDOUT_FILENO;
        return std::nullopt;
    }
    struct stat existing;
    const bool exists = ::stat(rawPath.constData(), &existing) == 0;
    if (!exists && errno != ENOENT)
        return reason(errno);
    if (exists) {
        // /dev/stdout and the like: what the shell already opened for us.
        for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            struct stat ours;
            if (::fstat(fd, &ours) == 0 && sameFile(ours, existing)) {
                m_fd = fd;
                return std::nullopt;
            }
        }
        if (S_ISDIR(existing.st_mode))
            return reason(EISDIR);
        if (!S_ISREG(existing.st_mode))
            return openDirectly(rawPath);
    }
    int error = 0;
    const QByteArray target = followLinks(rawPath, &error);
    if (error != 0)
        return reason(error);
    return openReplacement(target, exists ? &existing : nullptr);
}

std::optional<QString> OutputTarget::openDirectly(const QByteArray& path)
{
    // A FIFO blocks here until it has a reader, as for any writer.
    int fd = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENXIO)
        fd = connectSocket(path);
    if (fd < 0)
        return reason(errno);
    struct stat opened;
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
        // Replaced by a regular file since we looked: that one is replaced as a whole.
        ::close(fd);
        return openReplacement(path, &opened);
    }
    m_fd = fd;
    m_ownsFd = true;
    return std::nullopt;
}

std::optional<QString> OutputTarget::openReplacement(const QByteArray& path, const struct stat* existing)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    m_finalName = path.mid(slash + 1);
    if (m_finalName.isEmpty())
        return reason(EISDIR);
    m_directoryFd = ::open(folder.constData(), kLookupOnly | O_DIRECTORY);
    if (m_directoryFd < 0)
        return reason(errno);
    for (int attempt = 0; m_fd < 0; ++attempt) {
        const QByteArray name =
            ".quellmark-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".part";
        m_fd = ::openat(m_directoryFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            m_temporary = name;
        else if (errno != EEXIST || attempt == 100)
            return reason(errno);
    }
    m_ownsFd = true;
    if (existing) { // the replacement keeps the owner and permissions where it can
        [[maybe_unused]] const int owned = ::fchown(m_fd, existing->st_uid, existing->st_gid);
        ::fchmod(m_fd, existing->st_mode & 07777);
    }
    return std::nullopt;
}

bool OutputTarget::write(QByteArrayView bytes)
{
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0 && m_error == 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written > 0) {
            data += written;
            left -= written;
        } else if (written < 0 && errno == EAGAIN) { // a descriptor left non-blocking by our parent
            pollfd ready{m_fd, POLLOUT, 0};
            ::poll(&ready, 1, -1);
        } else if (written == 0 || errno != EINTR) {
            m_error = written == 0 ? EIO : errno;
        }
    }
    return m_error == 0;
}

std::optional<QString> OutputTarget::finish()
{
    if (m_error == 0 && isFile()) {
        if (::fsync(m_fd) != 0)
            m_error = errno;
        if (::close(m_fd) != 0 && m_error == 0)
            m_error = errno;
        m_fd = -1;
        if (m_error == 0 &&
            ::renameat(m_directoryFd, m_temporary.constData(), m_directoryFd, m_finalName.constData()) != 0)
            m_error = errno;
        if (m_error == 0)
            m_temporary.clear();
    } else if (m_error == 0 && m_ownsFd) {
        if (::close(m_fd) != 0)
            m_error = errno;
        m_fd = -1;
    }
    abandon();
    if (m_error != 0)
        return reason(m_error);
    return std::nullopt;
}

void OutputTarget::abandon()
{
    if (!m_temporary.isEmpty()) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        ::unlinkat(m_directoryFd, m_temporary.constData(), 0);
        m_temporary.clear();
    }
    if (m_directoryFd >= 0)
        ::close(m_directoryFd);
    m_directoryFd = -1;
}
