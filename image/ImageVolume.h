#pragma once

#include <QString>

// One volume found in a disk image, as `volumes` lists it and a crawl picks it.
struct ImageVolume
{
    int number = 0;      // from 1, in the order found
    QString name;        // an APFS volume's name, a partition's description, or empty
    QString role;        // an APFS volume's role ("System", "Data", ...), or empty
    QString fileSystem;  // "APFS", "HFS+", "FAT32", ...
    qint64 size = 0;     // bytes: an APFS volume's blocks in use, else the file system's extent
    bool encrypted = false;

    // Where it is: a volume of the opened APFS container `pool` with its superblock at
    // `block`, or a file system starting at byte `offset` of the image.
    int pool = -1;
    quint64 block = 0;
    qint64 offset = 0;

    // The name shown in rows and messages: the name, else "Volume N".
    QString shownName() const
    {
        return name.isEmpty() ? QStringLiteral("Volume %1").arg(number) : name;
    }
};
