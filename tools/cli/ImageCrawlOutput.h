#pragma once

#include "image/ImageCrawl.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The image half of quellmark-cli crawl: walks a disk image's volumes and writes the same
// CSV as a folder crawl, or JSON Lines with the image, the volume and the inode number added,
// and the rows of the image's own quarantine and provenance databases that each file's values
// lead to ("quarantineEvent", "provenanceRecord"), as for a folder.
class ImageCrawlOutput
{
public:
    // Reads the password from the first line of `path`; nothing, with a message, when it
    // cannot be read.
    static std::optional<QByteArray> readPassword(const QByteArray& path);

    // Runs the crawl and writes to `destination` ("" for standard output); the exit status:
    // 0 all read, 1 nothing read or written, 3 written with parts that could not be read, or
    // with databases of the image that could not be used (named on standard error).
    static int run(ImageCrawl::Request request, const QString& destination, bool jsonLines);
};
