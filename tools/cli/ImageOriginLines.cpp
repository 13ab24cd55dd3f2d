#include "tools/cli/ImageOriginLines.h"

#include "image/ImageFileLookup.h"
#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"
#include "tools/cli/CliOutput.h"
#include "tools/cli/OriginLines.h"

ImageOriginLines::ImageOriginLines(OriginLines& lines, const QByteArray& image,
                                   const std::optional<QByteArray>& password)
    : m_lines(lines), m_image(QString::fromUtf8(image)),
      m_origins(ImageOriginDatabases::load(image, password))
{}

QByteArray ImageOriginLines::line(const ImageFileLookup* lookup, const QString& volume, const QString& name,
                                  const QString& path, const QString& provenanceID, const QString& quarantineApp,
                                  quint64 inode)
{
    const OriginDetails details = lookup && inode != 0
                                      ? lookup->details(inode, OriginDetails::rawPathOf(path), m_origins.databases.get())
                                      : OriginDetails{};
    return m_lines.imageLine(name, path, provenanceID, quarantineApp, details, m_image, volume);
}

bool ImageOriginLines::sayNotes() const
{
    QStringList notes = m_origins.notes;
    if (m_origins.databases)
        notes += m_origins.databases->notes();
    for (const QString& note : notes)
        CliOutput::note(note);
    return !notes.isEmpty();
}
