#pragma once

#include "crawl/Crawled.h"
#include "crawl/TreeWalker.h"

#include <QByteArray>

#include <functional>
#include <vector>

struct TSK_FS_INFO;

// Walks a file system inside a disk image as TreeWalker walks a folder: pre-order, every
// entry examined (hidden ones too), symbolic links neither listed nor entered, a record for
// each entry with a provenance value (or, with showQuarantine, a quarantine value), made by
// the same evaluation and decoration. Records go to the sink in walk order, at least every
// few milliseconds, with the inode number of each. Folders and entries that cannot be read
// are counted and passed over; a folder met again (a loop in a damaged tree) is not entered.
class ImageWalker
{
public:
    using Sink = std::function<void(std::vector<Crawled>& records, const std::vector<quint64>& inodes)>;

    // `options.threads` does not apply: one thread reads the image. With `options.sidecars`,
    // "._" files lend their attributes as in a live folder (ImageSidecars).
    ImageWalker(TSK_FS_INFO* fs, TreeWalker::Options options);

    // Walks below `folder` (a path inside the volume, "/" for all of it); a record's path is
    // `shownPrefix` (raw bytes, such as "/Data") followed by the entry's path in the volume.
    // rootError is ENOENT or ENOTDIR when `folder` is no folder of the volume, EIO when
    // it cannot be read.
    TreeWalker::Result run(const QByteArray& folder, const QByteArray& shownPrefix, const Sink& sink);

    const TreeWalker::Progress& progress() const { return *m_options.progress; }

private:
    TSK_FS_INFO* m_fs;
    TreeWalker::Options m_options;
    TreeWalker::Progress m_ownProgress;
};
