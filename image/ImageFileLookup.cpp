#include "image/ImageFileLookup.h"

#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/FailureNotingCalls.h"
#include "core/ItemAttributes.h"
#include "core/PathEncoding.h"
#include "core/SidecarAttributes.h"
#include "image/DiskImage.h"
#include "image/ImageSidecars.h"
#include "image/ImageXattrCalls.h"
#include "origin/OriginDetails.h"
#include "origin/XattrSnapshot.h"

#include <tsk/libtsk.h>

#include <cerrno>
#include <sys/stat.h>

namespace {

struct FileCloser
{
    void operator()(TSK_FS_FILE* file) const { tsk_fs_file_close(file); }
};

FileStatus::Time timeOf(time_t seconds, uint32_t nanoseconds)
{
    return {qint64(seconds), qint64(nanoseconds)};
}

// The entry's own status as the volume records it; the type bits as stat(2) would give them.
FileStatus statusOf(const TSK_FS_META& meta, quint64 inode)
{
    FileStatus status;
    status.size = qint64(meta.size);
    status.inode = inode;
    mode_t type = 0;
    switch (meta.type) {
    case TSK_FS_META_TYPE_DIR:
        type = S_IFDIR;
        break;
    case TSK_FS_META_TYPE_LNK:
        type = S_IFLNK;
        break;
    case TSK_FS_META_TYPE_REG:
        type = S_IFREG;
        break;
    default:
        break;
    }
    status.mode = type | (mode_t(meta.mode) & 07777);
    status.uid = uid_t(meta.uid);
    status.gid = gid_t(meta.gid);
    status.modified = timeOf(meta.mtime, meta.mtime_nano);
    status.changed = timeOf(meta.ctime, meta.ctime_nano);
    status.accessed = timeOf(meta.atime, meta.atime_nano);
    // FAT and exFAT keep no change time of their own, HFS+ and APFS a birth time.
    if (meta.crtime != 0 || meta.crtime_nano != 0)
        status.born = timeOf(meta.crtime, meta.crtime_nano);
    return status;
}

using Dir = std::unique_ptr<TSK_FS_DIR, void (*)(TSK_FS_DIR*)>;

} // namespace

struct ImageFileLookup::Folder
{
    QByteArray path;
    Dir dir{nullptr, tsk_fs_dir_close};
    std::unique_ptr<ImageSidecars> sidecars; // refers to `dir`
};

ImageFileLookup::ImageFileLookup(std::unique_ptr<DiskImage> image, std::unique_ptr<ImageVolumes> volumes)
    : m_image(std::move(image)), m_volumes(std::move(volumes))
{}

ImageFileLookup::~ImageFileLookup() = default;

bool ImageFileLookup::lendTo(EntryReads& reads, const QByteArray& path, quint64 inode) const
{
    QByteArray item = path;
    while (item.size() > 1 && item.endsWith('/'))
        item.chop(1);
    const qsizetype slash = item.lastIndexOf('/');
    if (slash < 0 || slash + 1 >= item.size())
        return slash == 0; // the root lacks nothing a sidecar could lend
    const QByteArray folder = item.left(std::max<qsizetype>(slash, 1));
    const QByteArray name = item.mid(slash + 1);
    if (!m_folder || m_folder->path != folder) {
        m_folder.reset();
        tsk_error_reset();
        Dir dir(tsk_fs_dir_open(m_fs.get(), folder.constData()), tsk_fs_dir_close);
        tsk_error_reset();
        if (!dir)
            return false;
        auto opened = std::make_unique<Folder>();
        opened->path = folder;
        opened->sidecars = std::make_unique<ImageSidecars>(
            m_fs.get(), dir.get(), encodePathBytes(folder.endsWith('/') ? folder : folder + '/'),
            ImageSidecars::archiveFoldersAbove(m_fs.get(), folder));
        opened->dir = std::move(dir);
        m_folder = std::move(opened);
    }
    const TSK_FS_DIR* dir = m_folder->dir.get();
    for (size_t i = 0, count = tsk_fs_dir_getsize(dir); i < count; ++i) {
        const TSK_FS_NAME* entry = tsk_fs_dir_get_name(dir, i);
        if (!entry || !entry->name || name != entry->name || quint64(entry->meta_addr) != inode)
            continue;
        tsk_error_reset();
        const std::unique_ptr<TSK_FS_FILE, FileCloser> file(
            tsk_fs_file_open_meta(m_fs.get(), nullptr, entry->meta_addr));
        tsk_error_reset();
        const ImageSidecars::Entry side = m_folder->sidecars->entry(entry, file.get());
        reads.orphan = side.orphan.has_value();
        if (side.orphan)
            reads.sidecar = side.orphan;
        else if (side.lendable)
            reads.sidecar = m_folder->sidecars->sidecarOf(name.constData(), &reads.sidecarError,
                                                          &reads.sidecarFromArchive);
        return true;
    }
    return false;
}

std::unique_ptr<ImageFileLookup> ImageFileLookup::open(const QByteArray& image, const QString& volume,
                                                       const std::optional<QByteArray>& password,
                                                       QString* error)
{
    std::unique_ptr<DiskImage> disk = DiskImage::open(image, error);
    if (!disk)
        return nullptr;
    auto volumes = std::make_unique<ImageVolumes>(*disk);
    const std::vector<ImageVolume>& all = volumes->list();
    std::optional<ImageVolume> chosen;
    if (!volume.isEmpty()) {
        chosen = volumes->find(volume);
        if (!chosen) {
            *error = QStringLiteral("the image has no volume '%1'").arg(volume);
            return nullptr;
        }
    } else if (all.size() == 1) {
        chosen = all.front();
    } else if (all.empty()) {
        *error = volumes->noneFound();
        return nullptr;
    } else {
        // A path alone could be in any of them.
        *error = QStringLiteral("the image has %1 volumes: choose one with --volume").arg(all.size());
        return nullptr;
    }
    ImageVolumes::FileSystem fs = volumes->open(*chosen, password, error);
    if (!fs) {
        if (chosen->encrypted && !password)
            *error = QStringLiteral("The volume %1 is encrypted: give its password to read it")
                         .arg(chosen->shownName());
        return nullptr;
    }
    std::unique_ptr<ImageFileLookup> lookup(new ImageFileLookup(std::move(disk), std::move(volumes)));
    lookup->m_volume = *chosen;
    lookup->m_fs = std::move(fs);
    return lookup;
}

FileDetail ImageFileLookup::detailFor(const QByteArray& path, int* failure, quint64* inode) const
{
    QByteArray inside = path.startsWith('/') ? path : '/' + path;
    tsk_error_reset();
    TSK_INUM_T address = 0;
    const int found = tsk_fs_path2inum(m_fs.get(), inside.constData(), &address, nullptr);
    std::unique_ptr<TSK_FS_FILE, FileCloser> file(
        found == 0 ? tsk_fs_file_open_meta(m_fs.get(), nullptr, address) : nullptr);
    tsk_error_reset();
    const TSK_FS_META* meta = file ? file->meta : nullptr;
    // A folder's path ends in "/" in every list.
    if (meta && meta->type == TSK_FS_META_TYPE_DIR && !inside.endsWith('/'))
        inside += '/';

    FileDetail detail;
    QByteArray last = inside;
    while (last.size() > 1 && last.endsWith('/'))
        last.chop(1);
    detail.name = displayName(last == "/" ? last : last.mid(last.lastIndexOf('/') + 1));
    detail.path = encodePath(inside);
    if (inode)
        *inode = meta ? quint64(address) : 0;
    if (!meta) {
        *failure = found == 1 ? ENOENT : EIO;
        return detail;
    }
    *failure = 0;
    ItemAttributes attributes(FailureNotingCalls(ImageXattrCalls(file.get()), failure));
    DecoratedValues values;
    EntryReads reads;
    const bool lent = m_sidecars && lendTo(reads, inside, quint64(address));
    evaluateLent(
        std::move(attributes), lent, [&reads] { return reads.sidecar; }, values);
    detail.provenanceID = values.provenanceID;
    detail.quarantineApp = values.quarantineApp;
    return detail;
}

QByteArray ImageFileLookup::attribute(quint64 inode, const char* name) const
{
    tsk_error_reset();
    const std::unique_ptr<TSK_FS_FILE, FileCloser> file(
        tsk_fs_file_open_meta(m_fs.get(), nullptr, TSK_INUM_T(inode)));
    tsk_error_reset();
    if (!file)
        return {};
    ImageXattrCalls calls(file.get());
    const ssize_t size = calls.get(name, nullptr, 0);
    if (size <= 0)
        return {};
    QByteArray value(size, Qt::Uninitialized);
    return calls.get(name, value.data(), size_t(value.size())) == size ? value : QByteArray();
}

OriginDetails ImageFileLookup::details(quint64 inode, const QByteArray& shownPath,
                                       const OriginDatabases* databases) const
{
    tsk_error_reset();
    const std::unique_ptr<TSK_FS_FILE, FileCloser> file(
        tsk_fs_file_open_meta(m_fs.get(), nullptr, TSK_INUM_T(inode)));
    tsk_error_reset();
    if (!file || !file->meta) {
        OriginDetails unread;
        unread.problems.append(QStringLiteral("the file cannot be read from the image"));
        return unread;
    }
    ImageXattrCalls calls(file.get());
    EntryReads reads;
    reads.attributes = XattrSnapshot::of(calls);
    reads.status = statusOf(*file->meta, inode);
    if (m_sidecars) {
        // A crawl of several volumes shows each path after its volume's name.
        const QByteArray volume = '/' + m_volume.shownName().toUtf8() + '/';
        if (!shownPath.startsWith(volume) || !lendTo(reads, shownPath.mid(volume.size() - 1), inode))
            lendTo(reads, shownPath, inode);
    }
    OriginDetails details = OriginDetails::fromReads(reads, shownPath, nullptr);
    if (databases)
        details.linkTo(*databases, shownPath, details.status->uid);
    return details;
}
