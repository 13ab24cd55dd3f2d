#include "image/ImageVolumes.h"

#include "image/ApfsVolumeSuperblock.h"
#include "image/DiskImage.h"
#include "image/SleuthKitError.h"

#include <tsk/libtsk.h>

void ImageVolumes::FileSystemCloser::operator()(TSK_FS_INFO* fs) const
{
    tsk_fs_close(fs);
    if (volumeImage)
        tsk_img_close(volumeImage);
}

ImageVolumes::ImageVolumes(const DiskImage& image) : m_image(image)
{
    tsk_error_reset();
    if (TSK_VS_INFO* vs = tsk_vs_open(image.info(), 0, TSK_VS_TYPE_DETECT)) {
        for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
            const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs, i);
            if (part && (part->flags & TSK_VS_PART_FLAG_ALLOC))
                addContainerOrFileSystem(qint64(part->start) * vs->block_size,
                                         QString::fromUtf8(part->desc ? part->desc : ""),
                                         qint64(part->len) * vs->block_size);
        }
        tsk_vs_close(vs);
    }
    // No partition map that Sleuth Kit reads (as in many a .dmg): the partitions the image
    // format names, else a container or file system at the start.
    if (m_volumes.empty()) {
        for (const DiskImage::KnownPartition& partition : image.knownPartitions())
            addContainerOrFileSystem(partition.offset, partition.name, partition.size);
    }
    if (m_volumes.empty())
        addContainerOrFileSystem(0, QString(), 0);
    tsk_error_reset();
}

ImageVolumes::~ImageVolumes()
{
    for (const TSK_POOL_INFO* pool : m_pools)
        tsk_pool_close(pool);
}

void ImageVolumes::addContainerOrFileSystem(qint64 offset, const QString& partitionName, qint64 partitionSize)
{
    if (addContainer(offset))
        return;
    tsk_error_reset();
    TSK_FS_INFO* fs = tsk_fs_open_img(m_image.info(), offset, TSK_FS_TYPE_DETECT);
    if (!fs)
        return;
    ImageVolume volume;
    volume.number = int(m_volumes.size()) + 1;
    volume.name = partitionName;
    volume.fileSystem = QString::fromUtf8(tsk_fs_type_toname(fs->ftype)).toUpper();
    if (TSK_FS_TYPE_ISHFS(fs->ftype))
        volume.fileSystem = QStringLiteral("HFS+");
    volume.size = partitionSize > 0 ? partitionSize : qint64(fs->block_count) * fs->block_size;
    volume.offset = offset;
    tsk_fs_close(fs);
    m_volumes.push_back(volume);
}

bool ImageVolumes::addContainer(qint64 offset)
{
    tsk_error_reset();
    const TSK_POOL_INFO* pool = tsk_pool_open_img_sing(m_image.info(), offset, TSK_POOL_TYPE_DETECT);
    if (!pool)
        return false;
    m_pools.push_back(pool);
    for (const TSK_POOL_VOLUME_INFO* info = pool->vol_list; info; info = info->next) {
        ImageVolume volume;
        volume.number = int(m_volumes.size()) + 1;
        // The superblock as it is on disk; Sleuth Kit's view where it cannot be read.
        if (const auto superblock = volumeSuperblock(pool, info->block)) {
            volume.name = superblock->name;
            volume.role = superblock->role;
            volume.encrypted = superblock->encrypted;
        } else {
            volume.name = QString::fromUtf8(info->desc ? info->desc : "");
            volume.encrypted = info->flags & TSK_POOL_VOLUME_FLAG_ENCRYPTED;
        }
        volume.fileSystem = QStringLiteral("APFS");
        volume.size = qint64(info->num_blocks) * pool->block_size;
        volume.pool = int(m_pools.size()) - 1;
        volume.block = info->block;
        m_volumes.push_back(volume);
    }
    return true;
}

std::optional<ApfsVolumeSuperblock> ImageVolumes::volumeSuperblock(const TSK_POOL_INFO* pool,
                                                                   quint64 block) const
{
    const qint64 at = qint64(pool->img_offset) + qint64(block) * pool->block_size;
    QByteArray bytes(ApfsVolumeSuperblock::kSize, '\0');
    if (!m_image.read(at, bytes.data(), bytes.size()))
        return std::nullopt;
    return ApfsVolumeSuperblock::parse(bytes);
}

QString ImageVolumes::noneFound() const
{
    const QString failure = m_image.readFailure();
    return failure.isEmpty()
               ? QStringLiteral("no volume found: no partition map, APFS container or file system "
                                "that Sleuth Kit can read")
               : QStringLiteral("no volume found: a part of the image could not be read: %1").arg(failure);
}

std::optional<ImageVolume> ImageVolumes::find(const QString& selector) const
{
    for (const ImageVolume& volume : m_volumes) {
        if (volume.name == selector)
            return volume;
    }
    bool isNumber = false;
    const int number = selector.toInt(&isNumber);
    if (isNumber && number >= 1 && number <= int(m_volumes.size()))
        return m_volumes[size_t(number - 1)];
    return std::nullopt;
}

ImageVolumes::FileSystem ImageVolumes::open(const ImageVolume& volume,
                                            const std::optional<QByteArray>& password, QString* error) const
{
    tsk_error_reset();
    if (volume.pool < 0) {
        TSK_FS_INFO* fs = tsk_fs_open_img(m_image.info(), volume.offset, TSK_FS_TYPE_DETECT);
        if (!fs)
            *error = SleuthKitError::take(QStringLiteral("cannot open the file system"));
        return FileSystem(fs);
    }
    // Sleuth Kit reads a container's volume through an image of the container's own making.
    const TSK_POOL_INFO* pool = m_pools[size_t(volume.pool)];
    TSK_IMG_INFO* volumeImage = pool->get_img_info(pool, volume.block);
    if (!volumeImage) {
        *error = SleuthKitError::take(QStringLiteral("cannot read the container"));
        return FileSystem(nullptr);
    }
    TSK_FS_INFO* fs = tsk_fs_open_img_decrypt(volumeImage, TSK_OFF_T(volume.block) * pool->block_size,
                                              TSK_FS_TYPE_APFS_DETECT, password ? password->constData() : "");
    if (!fs) {
        *error = SleuthKitError::take(QStringLiteral("cannot open the file system"));
        tsk_img_close(volumeImage);
        return FileSystem(nullptr);
    }
    return FileSystem(fs, FileSystemCloser{volumeImage});
}

bool ImageVolumes::decrypts()
{
    return QUELLMARK_TSK_DECRYPTS;
}
