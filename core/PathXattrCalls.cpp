#include "core/PathXattrCalls.h"

#include <sys/xattr.h>

ssize_t PathXattrCalls::list(char* buffer, size_t size)
{
#ifdef __APPLE__
    return ::listxattr(m_path.constData(), buffer, size, 0);
#else
    return ::listxattr(m_path.constData(), buffer, size);
#endif
}

ssize_t PathXattrCalls::get(const char* name, void* buffer, size_t size)
{
#ifdef __APPLE__
    return ::getxattr(m_path.constData(), name, buffer, size, 0, 0);
#else
    return ::getxattr(m_path.constData(), name, buffer, size);
#endif
}
