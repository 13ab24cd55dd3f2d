#pragma once

#include "core/UniqueFd.h"
#include "image/udif/UdifBlockTables.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// An Apple UDIF disk image (.dmg), read without mounting it. The file ends in a 512-byte
// "koly" trailer (big-endian) that points at an XML property list; its resource fork holds a
// "blkx" array with one entry per partition (Name, ID, Attributes and a "mish" block table
// as base64 Data). A block table maps a run of the image's 512-byte sectors to chunks of the
// file: raw, zero-filled, zlib or bzip2 compressed. read() gives the image's bytes as the
// disk held them.
//
// The file is evidence written by someone else: every offset, length and count is checked
// against the file and against the caps below before it is used, and whatever is wrong is
// reported as text. The file is opened read-only and never written.
//
// Thread safety: open() makes an independent reader. After it, the const accessors may be
// called from any thread, and read() too: it serialises on an internal mutex, which guards
// the chunk cache (the file itself is read with pread()).
class UdifImage
{
public:
    static constexpr quint64 kSectorSize = 512;
    static constexpr quint64 kTrailerSize = 512;
    // What is decompressed at once: one chunk, at most this many bytes of image.
    static constexpr quint64 kMaxChunkBytes = 64 * 1024 * 1024;
    // The property list, read whole before it is parsed, and its nesting of dicts and arrays.
    static constexpr quint64 kMaxPlistBytes = 64 * 1024 * 1024;
    static constexpr int kMaxPlistDepth = 16;
    // Chunk entries in all block tables together, and block tables (partitions).
    static constexpr quint64 kMaxChunks = 1 << 20;
    static constexpr quint64 kMaxPartitions = 4096;
    // Decompressed chunks kept for the next read.
    static constexpr int kCachedChunks = 2;

    // Chunk types of the block table.
    enum ChunkType : quint32
    {
        ZeroFill = 0x00000000,
        Raw = 0x00000001,
        Ignore = 0x00000002, // reads as zeros
        Adc = 0x80000004,
        Zlib = 0x80000005,
        Bzip2 = 0x80000006,
        Lzfse = 0x80000007,
        Lzma = 0x80000008,
        Comment = 0x7ffffffe,
        Terminator = 0xffffffff,
    };

    using Partition = UdifBlockTables::Partition;

    ~UdifImage();
    UdifImage(const UdifImage&) = delete;
    UdifImage& operator=(const UdifImage&) = delete;

    // Opens the image at `path` (a regular file or a block device) and checks its trailer,
    // property list and block tables. Null, with the reason in `error`, when it cannot be read
    // as a UDIF image.
    static std::unique_ptr<UdifImage> open(const QString& path, QString* error);

    // Whether the file at `path` ends in a "koly" trailer (cheap: reads 512 bytes).
    static bool hasTrailer(const QString& path);

    // The image's size in bytes (its sector count times 512).
    quint64 size() const { return m_size; }

    // The partitions, in the order of the blkx array.
    const std::vector<Partition>& partitions() const { return m_tables.partitions(); }

    // The kinds of chunk the image holds that read() cannot decompress, once each, in the
    // order first met: "LZFSE", "LZMA", "ADC" or "type 0x…". Reading them fails.
    QStringList unsupportedChunkTypes() const { return m_tables.unsupported(); }

    // Copies up to `length` bytes of the image from `offset` into `buffer`. Returns how many:
    // `length`, fewer at the image's end, 0 at or past it; -1 when the image cannot be read
    // there (a damaged or unsupported chunk, a failed read), with the reason in `error`.
    qint64 read(quint64 offset, char* buffer, std::size_t length, QString* error) const;

    // The name used in messages for a chunk type: "zlib", "LZFSE", "type 0x12345678"...
    static QString chunkTypeName(quint32 type);

private:
    using Chunk = UdifBlockTables::Chunk;
    struct CachedChunk
    {
        std::size_t index = 0;
        std::vector<char> bytes;
        quint64 lastUse = 0;
    };

    UdifImage() = default;
    bool load(QString* error);
    bool readFile(quint64 offset, char* buffer, std::size_t length, QString* error) const;
    // The decompressed bytes of chunk `index`, from the cache or the file; null on failure.
    const std::vector<char>* inflated(std::size_t index, QString* error) const;
    bool decompress(const Chunk& chunk, std::vector<char>& out, QString* error) const;

    UniqueFd m_fd;
    quint64 m_fileSize = 0;
    quint64 m_size = 0;
    UdifBlockTables m_tables;

    mutable std::mutex m_mutex;
    mutable CachedChunk m_cache[kCachedChunks];
    mutable quint64 m_useCounter = 0;
};
