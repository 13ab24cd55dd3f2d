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
    m_folder = ::open(rawPath.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const QByteArray& component : folder.split('/')) {
        if (component.isEmpty() || m_folder < 0)
            continue;
        const int next = ::openat(m_folder, component.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        ::close(m_folder);
        m_folder = next;
        if (next < 0)
            m_error = error;
    }
    if (m_folder >= 0)
        m_path = QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(m_folder) + '/' + name;
    else if (m_error == 0)
        m_error = errno;
}

AnchoredXattrCalls::AnchoredXattrCalls(AnchoredXattrCalls&& other) noexcept
    : m_folder(other.m_folder), m_error(other.m_error), m_path(std::move(other.m_path))
{
    other.m_folder = -1;
}

AnchoredXattrCalls::~AnchoredXattrCalls()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

ssize_t AnchoredXattrCalls::list(char* buffer, size_t size)
{
    if (m_folder < 0) {
        errno = m_error;
        return -1;
    }
    return ::listxattr(m_path.constData(), buffer, size);
}

ssize_t AnchoredXattrCalls::get(const char* name, void* buffer, size_t size)
{
    if (m_folder < 0) {
        errno = m_error;
        return -1;
    }
    return ::getxattr(m_path.constData(), name, buffer, size);
}
