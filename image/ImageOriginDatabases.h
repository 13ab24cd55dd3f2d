#pragma once

#include <QByteArray>
#include <QStringList>

#include <memory>
#include <optional>

class OriginDatabases;

// A Mac's own origin databases found inside a disk image: each user's QuarantineEventsV2
// (Users/*/Library/Preferences/…) and the ExecPolicy database, on the first volume that holds
// a Users folder (the Data volume of an APFS volume group). Each is read through Sleuth Kit
// into memory, never to disk, and opened from there read-only.
class ImageOriginDatabases
{
public:
    // A database larger than this is not read: evidence may be built to exhaust memory.
    static constexpr qint64 kMaxBytes = qint64(256) << 20;

    struct Loaded
    {
        std::shared_ptr<const OriginDatabases> databases; // null when the image holds none
        QStringList notes; // databases found but not read, one line each
    };

    // Looks through every volume of `image` (encrypted ones with `password`); one that cannot
    // be opened is passed over, as the crawl says so itself. A database is named, in
    // OriginDatabases and its rows, by its path in the volume, after "/" and the volume's
    // name when the image has more than one volume.
    static Loaded load(const QByteArray& image, const std::optional<QByteArray>& password);
};
