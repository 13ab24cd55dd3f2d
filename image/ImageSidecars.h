#pragma once

#include "core/AppleDouble.h"
#include "crawl/FolderSidecars.h"

#include <QByteArray>

#include <tsk/libtsk.h> // its folder and name structures cannot be declared ahead

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The AppleDouble sidecars of the entries of one folder of an image, where a Mac keeps the
// attributes of files on a volume without them (FAT, exFAT): "._name" among the folder's own
// entries, then "._name" in the folders of an unzipped Finder archive that stand for this
// folder ("A/__MACOSX/<folder below A>"), nearest first. Read as on a live folder: a sidecar
// lends its values to the entry it describes and is not a row itself; one whose entry is gone
// is a row with its own values, except in an archive's "__MACOSX" folder, where every sidecar
// stands apart from its file; one that does not parse is a plain file.
// Reads no more than SidecarReader::kMaxExtent bytes of a sidecar.
class ImageSidecars
{
public:
    // Notes the "._" names of `dir`, which must outlive this; `encodedFolder` is its path as
    // rows show it, ending in "/". `archiveFolders` are the inodes of the archive folders that
    // serve it from above (archiveFoldersAbove, archiveFoldersBelow); its own "__MACOSX" comes first.
    ImageSidecars(TSK_FS_INFO* fs, const TSK_FS_DIR* dir, const QByteArray& encodedFolder,
                  const std::vector<quint64>& archiveFolders = {});

    // The archive folders that serve the folder at `path` (in the volume) from the folders
    // above it, nearest first.
    static std::vector<quint64> archiveFoldersAbove(TSK_FS_INFO* fs, const QByteArray& path);
    // Those that serve this folder's subfolder `name`.
    std::vector<quint64> archiveFoldersBelow(std::string_view name) const;

    struct Entry
    {
        bool hidden = false;              // a sidecar of another entry: not a row
        bool lendable = false;            // values may come from a sidecar
        std::optional<AppleDouble> orphan; // the entry is itself a sidecar whose file is gone
    };
    // What the sidecars mean for the entry `name`, whose file is open as `file`.
    Entry entry(const TSK_FS_NAME* name, TSK_FS_FILE* file) const;

    // The first well-formed sidecar of the entry `name`; sets `*unreadable` to EIO when one is
    // there but cannot be read, `*fromArchive` when it came from an archive folder.
    std::optional<AppleDouble> sidecarOf(std::string_view name, int* unreadable, bool* fromArchive = nullptr) const;

private:
    static std::optional<AppleDouble> read(TSK_FS_FILE* file, int* unreadable);
    std::optional<AppleDouble> readAt(quint64 address, int* unreadable) const;

    struct ArchiveFolder
    {
        std::unordered_map<std::string, quint64> sidecars; // a companion's name -> its "._" file
        std::unordered_map<std::string, quint64> folders;
    };
    void addArchiveFolder(quint64 address);

    TSK_FS_INFO* m_fs;
    bool m_inArchive;
    FolderSidecars m_names;
    std::unordered_map<std::string_view, quint64> m_addresses; // a "._" entry's companion -> its inode
    std::vector<ArchiveFolder> m_archives;
};
