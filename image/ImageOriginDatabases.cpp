#include "image/ImageOriginDatabases.h"

#include "image/DiskImage.h"
#include "image/ImageVolumes.h"
#include "origin/MacSources.h"
#include "origin/OriginDatabases.h"

#include <tsk/libtsk.h>

#include <QHash>

#include <algorithm>

namespace {

const QByteArray kExecPolicy = QByteArrayLiteral("/private/var/db/SystemPolicyConfiguration/ExecPolicy");
const QByteArray kQuarantineEvents =
    QByteArrayLiteral("/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2");

struct FileCloser
{
    void operator()(TSK_FS_FILE* file) const { tsk_fs_file_close(file); }
};
struct DirCloser
{
    void operator()(TSK_FS_DIR* dir) const { tsk_fs_dir_close(dir); }
};

// The names in the volume's Users folder, in name order; none when it has no such folder.
QByteArrayList userNames(TSK_FS_INFO* fs)
{
    tsk_error_reset();
    const std::unique_ptr<TSK_FS_DIR, DirCloser> users(tsk_fs_dir_open(fs, "/Users"));
    tsk_error_reset();
    if (!users)
        return {};
    QByteArrayList names{QByteArray()}; // marks a Users folder, even an empty one
    for (size_t i = 0; i < tsk_fs_dir_getsize(users.get()); ++i) {
        const TSK_FS_NAME* name = tsk_fs_dir_get_name(users.get(), i);
        if (!name || !name->name || name->type != TSK_FS_NAME_TYPE_DIR)
            continue;
        const QByteArray bytes(name->name);
        if (bytes != "." && bytes != ".." && !bytes.contains('/'))
            names.append(bytes);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The bytes of the regular file at `path` of the volume; nothing when there is no such file,
// and nothing with a note when it is too large or cannot be read.
std::optional<QByteArray> readFile(TSK_FS_INFO* fs, const QByteArray& path, const QString& shown,
                                   QStringList& notes)
{
    tsk_error_reset();
    TSK_INUM_T address = 0;
    std::unique_ptr<TSK_FS_FILE, FileCloser> file(
        tsk_fs_path2inum(fs, path.constData(), &address, nullptr) == 0 ? tsk_fs_file_open_meta(fs, nullptr, address)
                                                                        : nullptr);
    tsk_error_reset();
    if (!file || !file->meta || file->meta->type != TSK_FS_META_TYPE_REG)
        return std::nullopt;
    const qint64 size = file->meta->size;
    if (size > ImageOriginDatabases::kMaxBytes) {
        notes << QStringLiteral("%1: %2 bytes, larger than %3 MiB; not read")
                     .arg(shown)
                     .arg(size)
                     .arg(ImageOriginDatabases::kMaxBytes >> 20);
        return std::nullopt;
    }
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = tsk_fs_file_read(file.get(), done, bytes.data() + done, size_t(size - done),
                                             TSK_FS_FILE_READ_FLAG_NONE);
        if (got <= 0)
            break;
        done += got;
    }
    tsk_error_reset();
    if (done != size) {
        notes << QStringLiteral("%1: cannot be read from the image").arg(shown);
        return std::nullopt;
    }
    return bytes;
}

} // namespace

ImageOriginDatabases::Loaded ImageOriginDatabases::load(const QByteArray& image,
                                                        const std::optional<QByteArray>& password)
{
    Loaded loaded;
    QString error;
    const std::unique_ptr<DiskImage> disk = DiskImage::open(image, &error);
    if (!disk)
        return loaded;
    const ImageVolumes volumes(*disk);
    const bool named = volumes.list().size() > 1;
    for (const ImageVolume& volume : volumes.list()) {
        const ImageVolumes::FileSystem fs = volumes.open(volume, password, &error);
        if (!fs)
            continue;
        const QByteArrayList users = userNames(fs.get());
        if (users.isEmpty())
            continue;
        const QByteArray prefix = named ? '/' + volume.shownName().toUtf8() : QByteArray();
        MacSources sources;
        QHash<QByteArray, QByteArray> contents;
        const auto take = [&](const QByteArray& path) {
            const auto bytes = readFile(fs.get(), path, QString::fromUtf8(prefix + path), loaded.notes);
            if (bytes)
                contents.insert(prefix + path, *bytes);
            return bytes.has_value();
        };
        if (take(kExecPolicy))
            sources.execPolicy = prefix + kExecPolicy;
        for (const QByteArray& user : users)
            if (const QByteArray path = "/Users/" + user + kQuarantineEvents; !user.isEmpty() && take(path))
                sources.quarantineEvents.append(prefix + path);
        if (!sources.isEmpty())
            loaded.databases = OriginDatabases::load(sources, contents);
        break; // the volume that holds the users is the one
    }
    return loaded;
}
