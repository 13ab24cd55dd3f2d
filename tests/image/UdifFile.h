#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// Writes a UDIF image (.dmg) laid out as hdiutil lays one out: the chunks' bytes, then the XML
// property list with one blkx entry ("mish" block table) per partition, then the 512-byte koly
// trailer. Sector numbers, counts and offsets follow from the chunks unless a test sets them.
class UdifFile
{
public:
    struct Chunk
    {
        quint32 type = 0;
        quint64 sectors = 0;
        QByteArray stored;             // what the file holds for it
        std::optional<quint64> sector; // within its partition; else after the previous chunk
        std::optional<quint64> offset; // in the file; else where `stored` is written
    };
    struct Partition
    {
        QByteArray name;
        qint64 id = 0;
        std::vector<Chunk> chunks;
        std::optional<quint64> firstSector; // else after the previous partition
        std::optional<quint64> sectorCount; // else up to the end of its last chunk
    };

    // Starts a partition; the chunks added next belong to it.
    UdifFile& partition(const QByteArray& name, qint64 id);
    // Adds `bytes` (whole sectors) as a chunk of `type`: zlib and bzip2 compress them, zero-fill
    // and ignore store nothing, any other type stores them as they are.
    UdifFile& chunk(quint32 type, const QByteArray& bytes);

    QByteArray bytes() const;

    std::vector<Partition> partitions;
    QByteArray plistExtra; // more of the top dictionary, after resource-fork

    // Offsets into the trailer, from its start (the file's size minus 512).
    static constexpr qsizetype kXmlOffset = 216, kXmlLength = 224, kSectorCount = 492;
};
