#include "core/EvidenceAccess.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>

namespace {

std::atomic_bool g_withoutNoatime{false};

} // namespace

int EvidenceAccess::openat(int folderFd, const char* name, int flags, mode_t mode)
{
#ifdef O_NOATIME
    const int fd = ::openat(folderFd, name, flags | O_NOATIME, mode);
    if (fd >= 0 || errno != EPERM)
        return fd;
    // EPERM also comes from other causes (a sealed file); the plain open tells them apart.
    const int plain = ::openat(folderFd, name, flags, mode);
    if (plain >= 0 && !g_withoutNoatime.load(std::memory_order_relaxed))
        g_withoutNoatime.store(true, std::memory_order_relaxed);
    return plain;
#else
    return ::openat(folderFd, name, flags, mode);
#endif
}

bool EvidenceAccess::accessTimesMayChange()
{
    return g_withoutNoatime.load(std::memory_order_relaxed);
}

QString EvidenceAccess::accessTimeWarning()
{
    return QStringLiteral("access times of the evidence may have changed: files and folders this user "
                          "does not own cannot be read without updating them (O_NOATIME is refused)");
}
