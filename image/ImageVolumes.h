#pragma once

#include "image/ApfsVolumeSuperblock.h"
#include "image/ImageVolume.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class DiskImage;
struct TSK_FS_INFO;
struct TSK_IMG_INFO;
struct _TSK_POOL_INFO;

// The volumes of a disk image: every partition of a GPT, APM or MBR map, every volume of an
// APFS container (in a partition or at the start of the image), and, where the partition map
// cannot be read, the partitions a .dmg's block table names or a file system at the start. Keeps the
// containers open for the file systems opened from them; lives no longer than its image.
class ImageVolumes
{
public:
    explicit ImageVolumes(const DiskImage& image);
    ~ImageVolumes();
    ImageVolumes(const ImageVolumes&) = delete;
    ImageVolumes& operator=(const ImageVolumes&) = delete;

    const std::vector<ImageVolume>& list() const { return m_volumes; }
    // Why the list is empty: nothing Sleuth Kit knows, or a part of the image that could not
    // be read (a damaged chunk, a short segment), which would otherwise pass for no volume.
    QString noneFound() const;
    // The volume named `selector`, or numbered so; none when no volume is.
    std::optional<ImageVolume> find(const QString& selector) const;

    // Closes the file system, and the container's view of the volume it was opened through.
    struct FileSystemCloser
    {
        TSK_IMG_INFO* volumeImage = nullptr;
        void operator()(TSK_FS_INFO* fs) const;
    };
    using FileSystem = std::unique_ptr<TSK_FS_INFO, FileSystemCloser>;
    // Opens a volume's file system (an encrypted APFS volume with `password` when given);
    // null with the reason in `error`.
    FileSystem open(const ImageVolume& volume, const std::optional<QByteArray>& password,
                    QString* error) const;
    // Whether the Sleuth Kit we run on can decrypt an encrypted volume at all (some builds
    // leave out OpenSSL and then fail on any password).
    static bool decrypts();

private:
    void addContainerOrFileSystem(qint64 offset, const QString& partitionName, qint64 partitionSize);
    bool addContainer(qint64 offset);
    std::optional<ApfsVolumeSuperblock> volumeSuperblock(const _TSK_POOL_INFO* pool, quint64 block) const;

    const DiskImage& m_image;
    std::vector<const _TSK_POOL_INFO*> m_pools;
    std::vector<ImageVolume> m_volumes;
};
