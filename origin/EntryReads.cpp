#include "origin/EntryReads.h"

#include "core/PathXattrCalls.h"
#include "core/SidecarReader.h"

#ifdef __linux__
#include "origin/AnchoredXattrCalls.h"
#endif

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// An AppleDouble file "._name" whose "name" is gone stands for that file.
std::optional<AppleDouble> orphanAt(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray name = path.mid(slash + 1);
    if (!name.startsWith("._") || name.size() <= 2)
        return std::nullopt;
    const QByteArray companion = path.left(slash + 1) + name.mid(2);
    if (struct stat st; path.size() < PATH_MAX && ::lstat(companion.constData(), &st) == 0)
        return std::nullopt;
    return SidecarReader::readAt(AT_FDCWD, path.constData());
}

} // namespace

EntryReads EntryReads::of(const QByteArray& rawPath, bool sidecars)
{
    EntryReads reads;
#ifdef __linux__
    if (rawPath.size() >= PATH_MAX) {
        AnchoredXattrCalls calls(rawPath);
        reads.attributes = XattrSnapshot::of(calls);
    } else
#endif
    {
        PathXattrCalls calls(rawPath);
        reads.attributes = XattrSnapshot::of(calls);
    }
    reads.status = FileStatus::of(rawPath);
    if (!sidecars)
        return reads;
    reads.sidecar = orphanAt(rawPath);
    reads.orphan = reads.sidecar.has_value();
    if (!reads.orphan)
        reads.sidecar = SidecarReader::findFor(rawPath, &reads.sidecarError, &reads.sidecarFromArchive);
    return reads;
}
