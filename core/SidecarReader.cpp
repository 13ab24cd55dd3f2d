#include "core/SidecarReader.h"

#include "core/AbsolutePath.h"
#include "core/EvidenceAccess.h"
#include "core/UniqueFd.h"

#include <QByteArrayList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kArchiveFolder[] = "__MACOSX";
// The first read; a sidecar's Finder Info entry nearly always ends well inside it.
constexpr quint64 kFirstRead = 64 * 1024;

struct Descriptors
{
    std::vector<int> fds;
    ~Descriptors()
    {
        for (int fd : fds)
            ::close(fd);
    }
};

// Reads `bytes` up to `size` bytes from offset `from` on; false on a read error. Stops
// early, with fewer bytes, when the file ends.
bool readUpTo(int fd, QByteArray& bytes, quint64 size)
{
    const auto from = quint64(bytes.size());
    bytes.resize(qsizetype(size));
    quint64 done = from;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes.data() + done, size_t(size - done), off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        done += quint64(got);
    }
    bytes.resize(qsizetype(done));
    return true;
}

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

} // namespace

std::optional<AppleDouble> SidecarReader::readAt(int folderFd, const char* name, int* unreadable)
{
    const UniqueFd file(UniqueFd::openEvidence(folderFd, name));
    // Absent, a link or no file: no sidecar. Anything else hides values that are there.
    const auto failed = [unreadable](int error) {
        if (unreadable && error != ENOENT && error != ENOTDIR && error != ELOOP && error != ENXIO &&
            error != EWOULDBLOCK)
            *unreadable = error;
        return std::nullopt;
    };
    struct stat st;
    if (file.fd() < 0)
        return failed(errno);
    if (::fstat(file.fd(), &st) != 0)
        return failed(errno);
    if (!S_ISREG(st.st_mode) || st.st_size <= 0)
        return std::nullopt;
    const auto fileSize = quint64(st.st_size);
    QByteArray bytes;
    quint64 needed = std::min(fileSize, kFirstRead);
    // The entry table and the Finder Info entry may each ask for more, within the limit.
    while (needed > quint64(bytes.size())) {
        if (needed > kMaxExtent)
            return std::nullopt;
        if (!readUpTo(file.fd(), bytes, needed))
            return failed(errno);
        if (quint64(bytes.size()) < needed)
            return std::nullopt;
        needed = AppleDouble::extentNeeded(bytes, fileSize);
        if (needed == 0)
            return std::nullopt;
    }
    bytes.truncate(qsizetype(needed));
    return AppleDouble::parse(std::move(bytes), fileSize);
}

QByteArray SidecarReader::sidecarName(QByteArrayView name)
{
    return "._" + name.toByteArray();
}

std::vector<int> SidecarReader::openArchiveFolders(const QByteArray& given)
{
    // From the root: a folder named relative to its unzip folder ("." in it, say) names no archive.
    const PosixResult<QByteArray> absolute = AbsolutePath::of(given);
    const QByteArray folder = absolute ? *absolute : given;
    std::vector<int> found;
    for (const QByteArray& candidate : archiveFolderPaths(folder, true)) {
        const int fd = openFolder(candidate, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
            found.push_back(fd);
    }
    return found;
}

QByteArrayList SidecarReader::archiveFolderPaths(const QByteArray& folder, bool self)
{
    QByteArrayList parts = folder.split('/');
    parts.removeIf([](const QByteArray& part) { return part.isEmpty() || part == "."; });
    QByteArrayList paths;
    for (qsizetype above = self ? parts.size() : parts.size() - 1; above >= 0; --above) {
        QByteArray candidate = folder.startsWith('/') ? "/" : "";
        for (qsizetype i = 0; i < above; ++i)
            candidate += parts.at(i) + '/';
        candidate += kArchiveFolder;
        for (qsizetype i = above; i < parts.size(); ++i)
            candidate += '/' + parts.at(i);
        paths.append(candidate);
    }
    return paths;
}

int SidecarReader::openArchiveSubfolder(int archiveFolderFd, const char* name)
{
    return EvidenceAccess::openat(archiveFolderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::optional<AppleDouble> SidecarReader::findAt(int folderFd, const char* name,
                                                 const std::vector<int>& archiveFolders, bool beside,
                                                 int* unreadable, bool* fromArchive)
{
    const QByteArray sidecar = sidecarName(name);
    if (beside) {
        if (auto found = readAt(folderFd, sidecar.constData(), unreadable))
            return found;
    }
    for (int archive : archiveFolders) {
        if (auto found = readAt(archive, sidecar.constData(), unreadable)) {
            if (fromArchive)
                *fromArchive = true;
            return found;
        }
    }
    return std::nullopt;
}

int SidecarReader::openFolder(const QByteArray& path, int flags)
{
    if (path.size() < PATH_MAX)
        return EvidenceAccess::openat(AT_FDCWD, path.constData(), flags);
    // Too long for one call: down from the root (or the working folder) a folder at a time.
    UniqueFd folder(::open(path.startsWith('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    const QByteArrayList parts = path.split('/');
    for (qsizetype i = 0; i + 1 < parts.size() && folder.fd() >= 0; ++i) {
        if (!parts.at(i).isEmpty())
            folder = UniqueFd(::openat(folder.fd(), parts.at(i).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (folder.fd() < 0)
        return -1;
    return EvidenceAccess::openat(folder.fd(), parts.constLast().isEmpty() ? "." : parts.constLast().constData(),
                                  flags);
}

std::optional<AppleDouble> SidecarReader::findFor(const QByteArray& path, int* unreadable, bool* fromArchive)
{
    const QByteArray item = withoutTrailingSlashes(path);
    const qsizetype slash = item.lastIndexOf('/');
    const QByteArray name = item.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return std::nullopt;
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : item.left(slash);
    const UniqueFd folderFd(openFolder(folder, O_PATH | O_DIRECTORY | O_CLOEXEC));
    Descriptors archives{openArchiveFolders(folder)};
    return findAt(folderFd.fd(), name.constData(), archives.fds, folderFd.fd() >= 0, unreadable, fromArchive);
}
