#pragma once

#include "image/libyal/LibraryImage.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

struct TSK_IMG_INFO;

// A disk image opened read-only for The Sleuth Kit. A raw image (a dd file, a block device)
// is read through our own descriptor, opened without updating its access time where the
// kernel allows; so are the files of E01 and VMDK images, read by libewf and libvmdk
// (LibraryImage). VHD, VHDX and AFF go through Sleuth Kit's own readers. A UDIF image
// (.dmg) is read by UdifImage and handed to Sleuth Kit as an external image, with the
// partitions its block table names.
class DiskImage
{
public:
    // Takes ownership of an opened image.
    explicit DiskImage(TSK_IMG_INFO* image, QByteArray path);
    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    // Opens `path`; null with the reason in `error` when it is no image we can read.
    static std::unique_ptr<DiskImage> open(const QByteArray& path, QString* error);
    // Whether `path` is a regular file or a block device: what may hold an image.
    static bool mayHoldImage(const QByteArray& path);

    // A partition the image format itself names (a .dmg's block table), where the partition
    // map inside the image may not parse.
    struct KnownPartition
    {
        QString name;
        qint64 offset = 0; // bytes
        qint64 size = 0;
    };

    TSK_IMG_INFO* info() const { return m_image; }
    const std::vector<KnownPartition>& knownPartitions() const { return m_known; }
    const QByteArray& path() const { return m_path; }
    qint64 size() const;
    // The first read of the image that failed, and why; empty while none has (or where Sleuth
    // Kit reads the image itself).
    QString readFailure() const;
    // Reads `length` bytes at `offset` of the image; false when they cannot all be read.
    bool read(qint64 offset, char* buffer, qint64 length) const;

private:
    static TSK_IMG_INFO* openRaw(const QByteArray& path, const QString** failure, QString* error);
    static TSK_IMG_INFO* openLibrary(LibraryImage::Format format, const QByteArray& path,
                                     const QString** failure, QString* error);
    static TSK_IMG_INFO* openUdif(const QByteArray& path, std::vector<KnownPartition>* known,
                                  const QString** failure, QString* error);

    TSK_IMG_INFO* m_image;
    QByteArray m_path;
    std::vector<KnownPartition> m_known;
    const QString* m_readFailure = nullptr; // owned by the opened image
};
