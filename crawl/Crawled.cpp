#include "crawl/Crawled.h"

#include "core/ControlPictures.h"
#include "core/CsvWriter.h"
#include "core/DecoratedValues.h"
#include "core/PathEncoding.h"

#include <QRandomGenerator>

#include <cstring>

namespace {

// A version 4 UUID from a per-thread generator seeded by the system's: QUuid::createUuid()
// asks the system source for every id, which costs more than examining the entry did.
QUuid newRecordId()
{
    thread_local QRandomGenerator64 generator(QRandomGenerator::system()->generate64());
    quint64 halves[2] = {generator.generate64(), generator.generate64()};
    uchar bytes[16];
    std::memcpy(bytes, halves, sizeof bytes);
    bytes[6] = uchar((bytes[6] & 0x0f) | 0x40); // version 4
    bytes[8] = uchar((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

QByteArray packed(QByteArrayView name, const QString& provenanceID, const QString& quarantineApp,
                  QByteArrayView pathRest, quint32 (&ends)[3])
{
    const QByteArray provenance = provenanceID.toUtf8();
    const QByteArray quarantine = quarantineApp.toUtf8();
    // Millions of records: exactly what is used, in one allocation.
    QByteArray text;
    text.reserve(name.size() + provenance.size() + quarantine.size() + pathRest.size());
    text += name;
    ends[0] = quint32(text.size());
    text += provenance;
    ends[1] = quint32(text.size());
    text += quarantine;
    ends[2] = quint32(text.size());
    text += pathRest;
    return text;
}

} // namespace

Crawled::Crawled(const QString& name, const QString& path, const QString& provenanceID,
                 const QString& quarantineApp)
    : m_id(newRecordId())
{
    quint32 ends[3];
    m_text = packed(name.toUtf8(), provenanceID, quarantineApp, path.toUtf8(), ends);
    m_nameEnd = ends[0];
    m_provenanceEnd = ends[1];
    m_quarantineEnd = ends[2];
}

Crawled Crawled::fromWalk(const QByteArray& encodedFolder, QByteArrayView rawName, bool isDirectory,
                          const DecoratedValues& values)
{
    const QByteArray raw = rawName.toByteArray();
    QByteArray leaf = encodePathBytes(raw);
    if (isDirectory)
        leaf += '/';
    Crawled record;
    record.m_id = newRecordId();
    record.m_folder = encodedFolder;
    quint32 ends[3];
    // A name that is valid UTF-8 reads as itself; only others need the replacement characters.
    const QByteArray name = rawName.isValidUtf8() ? raw : displayName(raw).toUtf8();
    record.m_text = packed(name, values.provenanceID, values.quarantineApp, leaf, ends);
    record.m_nameEnd = ends[0];
    record.m_provenanceEnd = ends[1];
    record.m_quarantineEnd = ends[2];
    return record;
}

QString Crawled::piece(quint32 begin, quint32 end) const
{
    return QString::fromUtf8(m_text.constData() + begin, qsizetype(end - begin));
}

QString Crawled::name() const
{
    return piece(0, m_nameEnd);
}

QString Crawled::provenanceID() const
{
    return piece(m_nameEnd, m_provenanceEnd);
}

QString Crawled::quarantineApp() const
{
    return piece(m_provenanceEnd, m_quarantineEnd);
}

QString Crawled::path() const
{
    if (m_folder.isEmpty())
        return piece(m_quarantineEnd, quint32(m_text.size()));
    // A walk's record: the folder and the rest are both percent-encoded, hence ASCII.
    const QLatin1StringView rest(m_text.constData() + m_quarantineEnd,
                                 m_text.size() - qsizetype(m_quarantineEnd));
    QString path;
    path.reserve(m_folder.size() + rest.size());
    path.append(QLatin1StringView(m_folder));
    path.append(rest);
    return path;
}

QString Crawled::exportText() const
{
    static const QString separator = QStringLiteral(" | ");
    return withControlPictures(name() + separator + provenanceID() + separator + quarantineApp() + separator +
                               path());
}

QStringList Crawled::csvFields() const
{
    return {name(), provenanceID(), quarantineApp(), path()};
}

void Crawled::addCsvRow(CsvWriter& csv) const
{
    const char* text = m_text.constData();
    const QByteArrayView rest(text + m_quarantineEnd, m_text.size() - qsizetype(m_quarantineEnd));
    csv.addUtf8Row({QByteArrayView(text, qsizetype(m_nameEnd)),
                    QByteArrayView(text + m_nameEnd, qsizetype(m_provenanceEnd - m_nameEnd)),
                    QByteArrayView(text + m_provenanceEnd, qsizetype(m_quarantineEnd - m_provenanceEnd)),
                    m_folder},
                   rest);
}

QStringList Crawled::csvHeader()
{
    return {QStringLiteral("Filename"), QStringLiteral("Provenance ID"), QStringLiteral("Quarantine App"),
            QStringLiteral("Path")};
}

bool Crawled::operator==(const Crawled& other) const
{
    return m_id == other.m_id && name() == other.name() && path() == other.path() &&
           provenanceID() == other.provenanceID() && quarantineApp() == other.quarantineApp();
}
