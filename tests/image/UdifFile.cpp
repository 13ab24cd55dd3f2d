#include "tests/image/UdifFile.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

#include <bzlib.h>

UdifFile& UdifFile::partition(const QByteArray& name, qint64 id)
{
    partitions.push_back({name, id, {}, {}, {}});
    return *this;
}

UdifFile& UdifFile::chunk(quint32 type, const QByteArray& bytes)
{
    Chunk chunk{type, quint64(bytes.size()) / 512, bytes, {}, {}};
    if (type == 0x80000005) {
        chunk.stored = qCompress(bytes, 9).sliced(4); // a zlib stream after Qt's length
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

QByteArray UdifFile::bytes() const
{
    QByteArray file,
        plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD "
                "PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist "
                "version=\"1.0\">\n<dict>\n<key>resource-fork</key>\n<dict>\n<key>blkx</key>\n<array>\n";
    quint64 imageSectors = 0;
    for (const Partition& partition : partitions) {
        QByteArray entries;
        QDataStream out(&entries, QIODevice::WriteOnly); // big-endian
        quint64 sector = 0, count = 0;
        for (const Chunk& chunk : partition.chunks) {
            sector = chunk.sector.value_or(sector);
            out << chunk.type << quint32(0) << sector << chunk.sectors
                << chunk.offset.value_or(quint64(file.size())) << quint64(chunk.stored.size());
            file += chunk.stored;
            sector += chunk.sectors;
            ++count;
        }
        out << quint32(0xffffffff) << quint32(0) << sector << quint64(0) << quint64(file.size())
            << quint64(0);
        const quint64 first = partition.firstSector.value_or(imageSectors);
        sector = partition.sectorCount.value_or(sector);
        imageSectors = std::max(imageSectors, first + sector);
        // The table's header: "mish", version 1, its sectors, buffers needed, a CRC-32 checksum
        // left 0, and the number of entries (with the terminator) at 200.
        QByteArray table;
        QDataStream header(&table, QIODevice::WriteOnly);
        header.writeRawData("mish", 4);
        header << quint32(1) << first << sector << quint64(0) << quint32(0x208) << quint32(0);
        header.device()->seek(64);
        header << quint32(2) << quint32(32);
        header.device()->seek(200);
        header << quint32(count + 1);
        plist +=
            QStringLiteral("<dict>\n<key>Attributes</key>\n<string>0x0050</string>\n<key>CFName</key>\n"
                           "<string>%1</string>\n<key>Data</key>\n<data>\n%2\n</data>\n<key>ID</key>\n"
                           "<string>%3</string>\n<key>Name</key>\n<string>%1</string>\n</dict>\n")
                .arg(QString::fromUtf8(partition.name), QString::fromLatin1((table + entries).toBase64()))
                .arg(partition.id)
                .toUtf8();
    }
    plist += "</array>\n</dict>\n" + plistExtra + "</dict>\n</plist>\n";

    // The trailer: "koly", version 4, 512 bytes, flattened, the data fork, segment 1 of 1, the
    // property list, image variant 1 and the sector count.
    QByteArray koly(512, '\0');
    QDataStream trailer(&koly, QIODevice::WriteOnly);
    trailer.writeRawData("koly", 4);
    trailer << quint32(4) << quint32(512) << quint32(1) << quint64(0) << quint64(0) << quint64(file.size());
    trailer.device()->seek(56);
    trailer << quint32(1) << quint32(1);
    trailer.device()->seek(kXmlOffset);
    trailer << quint64(file.size()) << quint64(plist.size());
    trailer.device()->seek(488);
    trailer << quint32(1) << imageSectors;
    return file + plist + koly;
}
