#pragma once

#include "core/AppleDouble.h"
#include "crawl/FolderSidecars.h"

#include <tsk/libtsk.h> // its folder and name structures cannot be declared ahead

#include <optional>
#include <string_view>
#include <unordered_map>

// The AppleDouble sidecars ("._name") among the entries of one folder of an image, where a
// Mac keeps the attributes of files on a volume without them (FAT, exFAT). Read as on a live
// folder: a sidecar lends its values to the entry it describes and is not a row itself; one
// whose entry is gone is a row with its own values, except in an archive's "__MACOSX" folder,
// where every sidecar stands apart from its file; one that does not parse is a plain file.
// Reads no more than SidecarReader::kMaxExtent bytes of a sidecar.
class ImageSidecars
{
public:
    // Notes the "._" names of `dir`, which must outlive this; `encodedFolder` is its path as
    // rows show it.
    ImageSidecars(TSK_FS_INFO* fs, const TSK_FS_DIR* dir, const QByteArray& encodedFolder);

    struct Entry
    {
        bool hidden = false;              // a sidecar of another entry: not a row
        bool lendable = false;            // values may come from a sidecar
        std::optional<AppleDouble> orphan; // the entry is itself a sidecar whose file is gone
    };
    // What the sidecars mean for the entry `name`, whose file is open as `file`.
    Entry entry(const TSK_FS_NAME* name, TSK_FS_FILE* file) const;

    // The sidecar beside the entry `name`; sets `*unreadable` to EIO when it is there but
    // cannot be read.
    std::optional<AppleDouble> sidecarOf(std::string_view name, int* unreadable) const;

private:
    static std::optional<AppleDouble> read(TSK_FS_FILE* file, int* unreadable);

    TSK_FS_INFO* m_fs;
    bool m_inArchive;
    FolderSidecars m_names;
    std::unordered_map<std::string_view, quint64> m_addresses; // a "._" entry's companion -> its inode
};
