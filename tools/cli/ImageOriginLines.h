#pragma once

#include "image/ImageOriginDatabases.h"

#include <QByteArray>
#include <QString>

#include <optional>

class ImageFileLookup;
class OriginLines;

// The jsonl, timeline or bodyfile lines of files inside a disk image: each file's details
// read through the image and linked to the image's own databases (loaded once), never to
// files of this machine.
class ImageOriginLines
{
public:
    ImageOriginLines(OriginLines& lines, const QByteArray& image, const std::optional<QByteArray>& password);

    // The line(s) of the file numbered `inode` in `volume`, read through `lookup`; without
    // details when there is no lookup (the volume cannot be opened again) or no inode (0:
    // a path not found).
    QByteArray line(const ImageFileLookup* lookup, const QString& volume, const QString& name, const QString& path,
                    const QString& provenanceID, const QString& quarantineApp, quint64 inode);

    // Says on standard error which of the image's databases could not be used; whether any.
    bool sayNotes() const;

private:
    OriginLines& m_lines;
    QString m_image;
    ImageOriginDatabases::Loaded m_origins;
};
