#include "origin/AnchoredXattrCalls.h"

#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

AnchoredXattrCalls::AnchoredXattrCalls(const QByteArray& rawPath)
{
    const qsizetype slash = rawPath.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray() : rawPath.left(slash);
    const QByteArray name = rawPath.mid(slash + 1);
    m_folder = UniqueFd(::open(rawPath.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const QByteArray& component : folder.split('/')) {
        if (component.isEmpty() || m_folder.fd() < 0)
            continue;
        UniqueFd next(::openat(m_folder.fd(), component.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (next.fd() < 0)
            m_error = errno; // before the close below can change it
        m_folder = std::move(next);
    }
    if (m_folder.fd() >= 0)
        m_path = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(m_folder.fd()) + '/' + name;
    else if (m_error == 0)
        m_error = errno;
}

ssize_t AnchoredXattrCalls::list(char* buffer, size_t size)
{
    if (m_folder.fd() < 0) {
        errno = m_error;
        return -1;
    }
    return ::listxattr(m_path.constData(), buffer, size);
}

ssize_t AnchoredXattrCalls::get(const char* name, void* buffer, size_t size)
{
    if (m_folder.fd() < 0) {
        errno = m_error;
        return -1;
    }
    return ::getxattr(m_path.constData(), name, buffer, size);
}
