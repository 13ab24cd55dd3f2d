#include "core/AbsolutePath.h"

#include "core/UniqueFd.h"

#include <QByteArrayList>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

#ifdef O_PATH
constexpr int kLookupOnly = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kLookupOnly = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The kernel's name for the directory, when that is short enough to be given and still
// leads to the directory (not so for a removed one, or one outside our root).
QByteArray kernelName(int fd, const struct stat& directory)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    QByteArray name(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link, name.data(), size_t(name.size()));
    if (length <= 0 || length >= name.size() || name.at(0) != '/')
        return {};
    name.truncate(length);
    struct stat named;
    if (::stat(name.constData(), &named) != 0 || !sameFile(named, directory))
        return {};
    return name;
}

// The name under which `parentFd` holds the directory `child`.
PosixResult<QByteArray> nameIn(int parentFd, const struct stat& child)
{
    UniqueFd listFd(::openat(parentFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = listFd.openDirectory();
    if (!dir)
        return posixError(errno);
    // The listed inode number is the child's unless the child is a mount point (the number
    // is then that of the folder it covers); only then is every folder looked at.
    for (int pass = 0; pass < 2; ++pass) {
        ::rewinddir(dir);
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            if (pass == 0 ? entry->d_ino != child.st_ino
                          : entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)
                continue;
            struct stat candidate;
            if (::fstatat(parentFd, name, &candidate, AT_SYMLINK_NOFOLLOW) == 0 &&
                sameFile(candidate, child)) {
                QByteArray found(name);
                ::closedir(dir);
                return found;
            }
            errno = 0;
        }
        if (errno != 0) {
            const int error = errno;
            ::closedir(dir);
            return posixError(error);
        }
    }
    ::closedir(dir);
    return posixError(ENOENT); // moved away while we looked
}

} // namespace

PosixResult<QByteArray> AbsolutePath::ofDirectory(int directoryFd)
{
    UniqueFd current(::openat(directoryFd, ".", kLookupOnly));
    struct stat here;
    if (current.fd() < 0 || ::fstat(current.fd(), &here) != 0)
        return posixError(errno);
    // Climb until the kernel can name the folder reached, or to the root, noting the names on the way.
    std::vector<QByteArray> below;
    QByteArray top;
    for (;;) {
        top = kernelName(current.fd(), here);
        if (!top.isEmpty())
            break;
        UniqueFd parent(::openat(current.fd(), "..", kLookupOnly));
        struct stat above;
        if (parent.fd() < 0 || ::fstat(parent.fd(), &above) != 0)
            return posixError(errno);
        if (sameFile(above, here)) {
            top = "/";
            break;
        }
        const auto name = nameIn(parent.fd(), here);
        if (!name)
            return name.error();
        below.push_back(*name);
        current = std::move(parent);
        here = above;
    }
    for (auto name = below.rbegin(); name != below.rend(); ++name) {
        if (!top.endsWith('/'))
            top += '/';
        top += *name;
    }
    return top;
}

PosixResult<QByteArray> AbsolutePath::of(const QByteArray& raw)
{
    if (raw.isEmpty())
        return posixError(ENOENT);
    const QByteArrayList segments = raw.split('/');
    qsizetype kept = 0; // the segments from here on are appended as given
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (segments.at(i) == "..")
            kept = i + 1;
    }
    QByteArray path;
    if (kept == 0 && raw.startsWith('/')) {
        path = "/";
    } else {
        // The kernel resolves the folder, links and all; we only name it.
        const QByteArray folder = kept == 0 ? QByteArray(".") : segments.mid(0, kept).join('/');
        UniqueFd fd(::openat(AT_FDCWD, folder.constData(), kLookupOnly));
        if (fd.fd() < 0)
            return posixError(errno);
        auto named = ofDirectory(fd.fd());
        if (!named)
            return named;
        path = std::move(named.value());
    }
    for (qsizetype i = kept; i < segments.size(); ++i) {
        const QByteArray& segment = segments.at(i);
        if (segment.isEmpty() || segment == ".")
            continue;
        if (!path.endsWith('/'))
            path += '/';
        path += segment;
    }
    return path;
}
