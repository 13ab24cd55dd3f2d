#pragma once

#include "image/ImageCrawl.h"

#include <QByteArray>
#include <QString>

#include <optional>

class OriginLines;

// The image half of quellmark-cli crawl: walks a disk image's volumes and writes the same
// CSV as a folder crawl, or the lines of `--format` as for a folder, each file's details read
// through the image and linked to the image's own databases (JSON Lines add the image and
// the volume).
class ImageCrawlOutput
{
public:
    // Reads the password from the first line of `path`; nothing, with a message, when it
    // cannot be read.
    static std::optional<QByteArray> readPassword(const QByteArray& path);

    // Runs the crawl and writes to `destination` ("" for standard output); the exit status:
    // 0 all read, 1 nothing read or written, 3 written with parts that could not be read, or
    // with databases of the image that could not be used (named on standard error).
    static int run(ImageCrawl::Request request, const QString& destination, OriginLines& origin);
};
