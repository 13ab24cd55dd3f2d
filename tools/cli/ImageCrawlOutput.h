#pragma once

#include "image/ImageCrawl.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The image half of quellmark-cli crawl: walks a disk image's volumes and writes the same
// CSV as a folder crawl, or JSON Lines with the image, the volume and the inode number added.
class ImageCrawlOutput
{
public:
    // Reads the password from the first line of `path`; nothing, with a message, when it
    // cannot be read.
    static std::optional<QByteArray> readPassword(const QByteArray& path);

    // Runs the crawl and writes to `destination` ("" for standard output); the exit status:
    // 0 all read, 1 nothing read or written, 3 written with parts that could not be read.
    static int run(ImageCrawl::Request request, const QString& destination, bool jsonLines);
};
