#pragma once

#include "crawl/TreeWalker.h"
#include "image/ImageVolume.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class Crawled;

// A crawl of a disk image: opens it, picks the volumes (one by name or number, or every
// volume), and walks each in turn into one sink, as a folder crawl would. A record's path
// is the path inside its volume, after "/" and the volume's name when more than one volume
// is walked. What could not be read is said in notes, one line each.
class ImageCrawl
{
public:
    struct Request
    {
        QByteArray image;                  // the image file or block device
        QString volume;                    // a name or number; empty for every volume
        QList<int> volumes;                // with no `volume`: these numbers only, where given
        std::optional<QByteArray> password; // for encrypted APFS volumes
        QByteArray folder = "/";           // where to start inside each volume
        TreeWalker::Options options;       // showQuarantine, stop, progress
    };

    struct Outcome
    {
        QString failure;   // nothing was read: the image or the volume could not be opened
        QStringList notes; // volumes passed over, counts of what could not be read
        TreeWalker::Result totals;
        int volumesRead = 0;
        // Nothing was read, or only part: the command line's exit status 1, 3 or 0.
        bool partial() const { return !notes.isEmpty(); }
    };

    using Sink = std::function<void(std::vector<Crawled>& records, const std::vector<quint64>& inodes,
                                    const ImageVolume& volume)>;

    static Outcome run(const Request& request, const Sink& sink);
};
