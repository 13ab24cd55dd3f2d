#include "core/SidecarReader.h"

#include "core/UniqueFd.h"

#include <QByteArrayList>

#include <algorithm>
#include <cerrno>
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

std::optional<AppleDouble> SidecarReader::readAt(int folderFd, const char* name)
{
    const UniqueFd file(UniqueFd::openEvidence(folderFd, name));
    struct stat st;
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return std::nullopt;
    const auto fileSize = quint64(st.st_size);
    QByteArray bytes;
    quint64 needed = std::min(fileSize, kFirstRead);
    // The entry table and the Finder Info entry may each ask for more, within the limit.
    while (needed > quint64(bytes.size())) {
        if (needed > kMaxExtent || !readUpTo(file.fd(), bytes, needed) || quint64(bytes.size()) < needed)
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

std::vector<int> SidecarReader::openArchiveFolders(const QByteArray& folder)
{
    QByteArrayList parts = folder.split('/');
    parts.removeIf([](const QByteArray& part) { return part.isEmpty() || part == "."; });
    std::vector<int> found;
    // "A/__MACOSX/<the rest>" for A = the folder itself, then each folder above it.
    for (qsizetype above = parts.size(); above >= 0; --above) {
        QByteArray candidate = folder.startsWith('/') ? "/" : "";
        for (qsizetype i = 0; i < above; ++i)
            candidate += parts.at(i) + '/';
        candidate += kArchiveFolder;
        for (qsizetype i = above; i < parts.size(); ++i)
            candidate += '/' + parts.at(i);
        const int fd = ::open(candidate.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
            found.push_back(fd);
    }
    return found;
}

int SidecarReader::openArchiveSubfolder(int archiveFolderFd, const char* name)
{
    return ::openat(archiveFolderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::optional<AppleDouble> SidecarReader::findAt(int folderFd, const char* name,
                                                 const std::vector<int>& archiveFolders, bool beside)
{
    const QByteArray sidecar = sidecarName(name);
    if (beside) {
        if (auto found = readAt(folderFd, sidecar.constData()))
            return found;
    }
    for (int archive : archiveFolders) {
        if (auto found = readAt(archive, sidecar.constData()))
            return found;
    }
    return std::nullopt;
}

std::optional<AppleDouble> SidecarReader::findFor(const QByteArray& path)
{
    const QByteArray item = withoutTrailingSlashes(path);
    const qsizetype slash = item.lastIndexOf('/');
    const QByteArray name = item.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return std::nullopt;
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : item.left(slash);
    const UniqueFd folderFd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Descriptors archives{openArchiveFolders(folder)};
    return findAt(folderFd.fd(), name.constData(), archives.fds, folderFd.fd() >= 0);
}
