#include "core/EvidenceAccess.h"

#include <QStringList>

#include <atomic>
#include <cerrno>
#include <fcntl.h>

namespace {

std::atomic_bool g_withoutNoatime{false};
std::atomic_bool g_openedByLibrary{false};

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

void EvidenceAccess::openedByLibrary()
{
    g_openedByLibrary.store(true, std::memory_order_relaxed);
}

bool EvidenceAccess::accessTimesMayChange()
{
    return g_withoutNoatime.load(std::memory_order_relaxed) ||
           g_openedByLibrary.load(std::memory_order_relaxed);
}

namespace {

// Why access times may have moved, each cause in a few words or in a sentence.
QStringList causes(bool sentences)
{
    QStringList said;
    if (g_withoutNoatime.load(std::memory_order_relaxed))
        said.append(sentences ? QStringLiteral("files and folders this user does not own cannot be read "
                                               "without updating them (O_NOATIME is refused)")
                              : QStringLiteral("not the owner: O_NOATIME refused"));
    if (g_openedByLibrary.load(std::memory_order_relaxed))
        said.append(sentences ? QStringLiteral("VHD, VHDX and AFF images are read by libraries that open "
                                               "the image's files themselves, without O_NOATIME")
                              : QStringLiteral("an image read by a library that opens it without O_NOATIME"));
    return said;
}

} // namespace

QString EvidenceAccess::accessTimeCause()
{
    return causes(false).join(QStringLiteral("; "));
}

QString EvidenceAccess::accessTimeWarning()
{
    return QStringLiteral("access times of the evidence may have changed: ") +
           causes(true).join(QStringLiteral("; "));
}
