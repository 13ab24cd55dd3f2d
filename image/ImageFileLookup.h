#pragma once

#include "drop/FileDetail.h"
#include "image/ImageVolume.h"
#include "image/ImageVolumes.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class DiskImage;
class OriginDatabases;
struct EntryReads;
struct OriginDetails;

// Files inside one volume of a disk image, named by their paths in the volume and examined
// as a drop examines a file: the same name, path (a folder's ending in "/") and decorated
// values, AppleDouble sidecars lending what a file lacks as in a crawl. The volume is the one
// asked for, or the image's only one. Not for use by two threads at once.
class ImageFileLookup
{
public:
    ~ImageFileLookup();
    ImageFileLookup(const ImageFileLookup&) = delete;
    ImageFileLookup& operator=(const ImageFileLookup&) = delete;

    // Null, with the reason in `error`, when the image or the volume cannot be read, or when
    // the image has several volumes and `volume` names none of them.
    static std::unique_ptr<ImageFileLookup> open(const QByteArray& image, const QString& volume,
                                                 const std::optional<QByteArray>& password, QString* error);

    const ImageVolume& volume() const { return m_volume; }
    // Whether AppleDouble sidecars lend their values (on unless turned off).
    void setSidecars(bool sidecars) { m_sidecars = sidecars; }

    // The detail of `path` (absolute in the volume, or taken so); `failure` is set to an errno
    // value when the path is not in the volume (ENOENT) or cannot be read (EIO).
    FileDetail detailFor(const QByteArray& path, int* failure, quint64* inode = nullptr) const;
    // The raw value of the extended attribute `name` of the file numbered `inode`; empty when
    // it has none or it cannot be read.
    QByteArray attribute(quint64 inode, const char* name) const;

    // Everything known of the file numbered `inode`: every attribute, decoded, with the file's
    // own size, owner and times as the volume records them, and the rows of `databases` (the
    // image's own, never this machine's) its values lead to. `shownPath` is its path as the
    // rows show it; nothing but `problems` when the file cannot be read.
    OriginDetails details(quint64 inode, const QByteArray& shownPath, const OriginDatabases* databases) const;

private:
    ImageFileLookup(std::unique_ptr<DiskImage> image, std::unique_ptr<ImageVolumes> volumes);

    // Sets the sidecar of the entry `inode` at `path` in `reads` (with sidecars on); false
    // when that path does not lead to it.
    bool lendTo(EntryReads& reads, const QByteArray& path, quint64 inode) const;

    struct Folder; // the sidecars of the folder last looked in: rows come folder by folder
    mutable std::unique_ptr<Folder> m_folder;
    bool m_sidecars = true;

    // In this order: the file system is closed before the volumes and the image it was opened from.
    std::unique_ptr<DiskImage> m_image;
    std::unique_ptr<ImageVolumes> m_volumes;
    ImageVolume m_volume;
    ImageVolumes::FileSystem m_fs;
};
