#include "tests/image/UdifFile.h"

#include <QtEndian>

#include <algorithm>

#include <bzlib.h>
#include <zlib.h>

UdifFile& UdifFile::partition(const QByteArray& name, qint64 id)
{
    partitions.push_back({name, id, {}, {}, {}});
    return *this;
}

UdifFile& UdifFile::chunk(quint32 type, const QByteArray& bytes)
{
    Chunk chunk{type, quint64(bytes.size()) / 512, bytes, {}, {}};
    if (type == 0x80000005) {
        uLongf length = compressBound(uLong(bytes.size()));
        chunk.stored.resize(qsizetype(length));
        compress2(reinterpret_cast<Bytef*>(chunk.stored.data()), &length,
                  reinterpret_cast<const Bytef*>(bytes.data()), uLong(bytes.size()), 9);
        chunk.stored.resize(qsizetype(length));
    } else if (type == 0x80000006) {
        unsigned length = unsigned(bytes.size()) + unsigned(bytes.size()) / 100 + 600;
        chunk.stored.resize(qsizetype(length));
        BZ2_bzBuffToBuffCompress(chunk.stored.data(), &length, const_cast<char*>(bytes.data()),
                                 unsigned(bytes.size()), 9, 0, 0);
        chunk.stored.resize(qsizetype(length));
    } else if (type == 0 || type == 2) {
        chunk.stored.clear();
    }
    partitions.back().chunks.push_back(chunk);
    return *this;
}

void UdifFile::put32(QByteArray& bytes, qsizetype at, quint32 value)
{
    qToBigEndian(value, bytes.data() + at);
}

void UdifFile::put64(QByteArray& bytes, qsizetype at, quint64 value)
{
    qToBigEndian(value, bytes.data() + at);
}

QByteArray UdifFile::bytes() const
{
    QByteArray file, plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\">\n<dict>\n\t<key>resource-fork</key>\n\t<dict>\n"
                             "\t\t<key>blkx</key>\n\t\t<array>\n";
    quint64 imageSectors = 0;
    for (const Partition& partition : partitions) {
        QByteArray table(204, '\0'), entries;
        quint64 sector = 0;
        auto entry = [&](quint32 type, quint64 at, quint64 count, quint64 offset, quint64 length) {
            QByteArray bytes(40, '\0');
            put32(bytes, 0, type);
            put64(bytes, 8, at);
            put64(bytes, 16, count);
            put64(bytes, 24, offset);
            put64(bytes, 32, length);
            entries += bytes;
        };
        for (const Chunk& chunk : partition.chunks) {
            const quint64 at = chunk.sector.value_or(sector);
            entry(chunk.type, at, chunk.sectors, chunk.offset.value_or(quint64(file.size())), quint64(chunk.stored.size()));
            file += chunk.stored;
            sector = at + chunk.sectors;
        }
        entry(0xffffffff, sector, 0, quint64(file.size()), 0);
        const quint64 first = partition.firstSector.value_or(imageSectors);
        sector = partition.sectorCount.value_or(sector);
        imageSectors = std::max(imageSectors, first + sector);
        table.replace(0, 4, "mish");
        put32(table, 4, 1);
        put64(table, 8, first);
        put64(table, 16, sector);
        put32(table, 32, 0x208);      // buffers needed
        put32(table, 64, 2);          // checksum type CRC-32, left 0
        put32(table, 68, 32);
        put32(table, 200, quint32(entries.size() / 40));
        const QByteArray& name = partition.name;
        plist += "\t\t\t<dict>\n\t\t\t\t<key>Attributes</key>\n\t\t\t\t<string>0x0050</string>\n"
                 "\t\t\t\t<key>CFName</key>\n\t\t\t\t<string>" + name + "</string>\n"
                 "\t\t\t\t<key>Data</key>\n\t\t\t\t<data>\n\t\t\t\t" + (table + entries).toBase64() +
                 "\n\t\t\t\t</data>\n\t\t\t\t<key>ID</key>\n\t\t\t\t<string>" + QByteArray::number(partition.id) +
                 "</string>\n\t\t\t\t<key>Name</key>\n\t\t\t\t<string>" + name + "</string>\n\t\t\t</dict>\n";
    }
    plist += "\t\t</array>\n\t</dict>\n" + plistExtra + "</dict>\n</plist>\n";

    QByteArray koly(512, '\0');
    koly.replace(0, 4, "koly");
    put32(koly, 4, 4);
    put32(koly, 8, 512);
    put32(koly, 12, 1);                         // flattened
    put64(koly, 32, quint64(file.size()));      // data fork length
    put32(koly, 56, 1);                         // segment 1 of 1
    put32(koly, 60, 1);
    put64(koly, kXmlOffset, quint64(file.size()));
    put64(koly, kXmlLength, quint64(plist.size()));
    put32(koly, 488, 1);                        // image variant
    put64(koly, kSectorCount, imageSectors);
    return file + plist + koly;
}
