#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Where a .dmg keeps each sector: the "blkx" array of its XML property list, one entry per
// partition (Name, ID, Attributes and a "mish" block table as base64 Data), read into the
// partitions and the chunks of the file that hold their sectors. Every offset, length and
// count is checked against the file and against UdifImage's caps before it is kept.
class UdifBlockTables
{
public:
    // One entry of the blkx array: a run of sectors of the image.
    struct Partition
    {
        QString name; // "Name", else "CFName", as the image names it
        quint64 firstSector = 0;
        quint64 sectorCount = 0;
    };
    // A run of the image's sectors and where the file holds them.
    struct Chunk
    {
        quint64 firstSector; // of the image
        quint64 sectorCount;
        quint64 fileOffset;
        quint64 fileLength;
        quint32 type; // a UdifImage::ChunkType
    };

    // Reads the tables of the property list `xml`, whose chunks must lie in the file's first
    // `dataEnd` bytes (those before the trailer). False, with the reason in `error`, when
    // they cannot be read or do not fit.
    bool load(const QByteArray& xml, quint64 dataEnd, QString* error);

    // The partitions, in the order of the blkx array.
    const std::vector<Partition>& partitions() const { return m_partitions; }
    // Sorted by first sector, none overlapping another.
    const std::vector<Chunk>& chunks() const { return m_chunks; }
    // The names of the chunk types met that cannot be decompressed, once each, in the order
    // first met.
    const QStringList& unsupported() const { return m_unsupported; }

private:
    bool addTable(const Partition& partition, const char* data, quint64 length, QString* error);
    bool checkChunks(QString* error);

    quint64 m_dataEnd = 0;
    std::vector<Partition> m_partitions;
    std::vector<Chunk> m_chunks;
    QStringList m_unsupported;
};
