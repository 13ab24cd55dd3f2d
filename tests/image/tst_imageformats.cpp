// The readers of image formats' own structures, on bytes the test writes: the UDIF (.dmg)
// reader, whole and damaged, and the APFS volume superblock as `volumes` shows it.
#include "image/ApfsVolumeSuperblock.h"
#include "image/libyal/BfioPool.h"
#include "image/udif/UdifImage.h"
#include "tests/image/UdifFile.h"
#include "tests/support/TestTree.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <QtTest>

#include <dlfcn.h>
#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

constexpr quint32 kZero = 0, kRaw = 1, kIgnore = 2, kZlib = 0x80000005, kBzip2 = 0x80000006,
                  kLzfse = 0x80000007, kComment = 0x7ffffffe;

// 21 sectors of noise, with zeros where the image stores none (sectors 6-8 and 16-17).
const QByteArray kSource = [] {
    QByteArray bytes(21 * 512, '\0');
    QRandomGenerator(19).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return bytes.replace(6 * 512, 3 * 512, QByteArray(3 * 512, '\0'))
        .replace(16 * 512, 1024, QByteArray(1024, '\0'));
}();

QByteArray sectors(int first, int count)
{
    return kSource.mid(first * 512, count * 512);
}

// kSource as hdiutil might write it: a protective MBR, a GPT header and an HFS+ volume of
// every kind of chunk. The volume is partition 2; its chunks are zlib, zero-fill, a comment,
// bzip2, raw, ignore, zlib.
UdifFile sample()
{
    UdifFile file;
    file.partition("Protective Master Boot Record (MBR : 0)", -1).chunk(kRaw, sectors(0, 1));
    file.partition("GPT Header (Primary GPT Header : 1)", 0).chunk(kZlib, sectors(1, 1));
    file.partition("disk image (Apple_HFS : 2)", 1)
        .chunk(kZlib, sectors(2, 4))
        .chunk(kZero, sectors(6, 3))
        .chunk(kComment, {})
        .chunk(kBzip2, sectors(9, 5))
        .chunk(kRaw, sectors(14, 2))
        .chunk(kIgnore, sectors(16, 2))
        .chunk(kZlib, sectors(18, 3));
    return file;
}

QByteArray edited(const std::function<void(UdifFile&)>& edit)
{
    UdifFile file = sample();
    edit(file);
    return file.bytes();
}

UdifFile::Chunk& volumeChunk(UdifFile& file, int index)
{
    return file.partitions[2].chunks[size_t(index)];
}

QByteArray withTrailer64(QByteArray bytes, qsizetype field, quint64 value)
{
    qToBigEndian(value, bytes.data() + bytes.size() - 512 + field);
    return bytes;
}

// The whole image read in one call; empty when the read fails (the reason in `error`).
QByteArray readAll(const UdifImage& image, QString* error)
{
    QByteArray bytes(qsizetype(image.size()), '\0');
    const qint64 got = image.read(0, bytes.data(), size_t(bytes.size()), error);
    return got == bytes.size() ? bytes : QByteArray();
}

QByteArray superblock(const QByteArray& name, quint16 role, quint64 flags)
{
    QByteArray bytes(4096, '\0');
    bytes.replace(32, 4, "APSB");
    qToLittleEndian(flags, bytes.data() + 264);
    bytes.replace(704, name.size(), name);
    qToLittleEndian(role, bytes.data() + 964);
    return bytes;
}

} // namespace

class TestImageFormats : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    QString m_error;

    // `bytes` as a file of the row's name, opened; m_error says why not.
    std::unique_ptr<UdifImage> open(const QByteArray& bytes)
    {
        m_error.clear();
        return UdifImage::open(m_tree.file(QString::fromLatin1(QTest::currentDataTag()) + u".dmg"_s, bytes),
                               &m_error);
    }

private slots:
    // Reads of the sample image, and damaged images refused at open or failing to read.
    void udif_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QByteArray>("expected"); // what the read gives; empty when it fails
        QTest::addColumn<QString>("unsupported"); // as listed at open
        QTest::addColumn<QString>("error");
        const qint64 size = kSource.size();
        const auto read = [&](const char* name, qint64 offset, qint64 length) {
            QTest::newRow(name) << sample().bytes() << true << offset << length << kSource.mid(offset, length)
                                << QString() << QString();
        };
        read("whole image", 0, size);
        read("raw partition into zlib partition", 500, 24);
        read("zlib chunk into zero-fill", 6 * 512 - 3, 6);
        read("zero-fill, past the comment, into bzip2", 9 * 512 - 5, 10);
        read("bzip2 into raw into ignore", 13 * 512 + 511, 3 * 512 + 2);
        read("cut short at the end", size - 10, 100);
        read("far past the end", size * 1000, 10);
        const QByteArray whole = sample().bytes();
        const qsizetype trailer = whole.size() - 512;
        const quint64 plistEnd = quint64(trailer);
        const quint64 plistLength =
            qFromBigEndian<quint64>(whole.constData() + trailer + UdifFile::kXmlLength);
        // Refused at open, or opened and then failing to read.
        constexpr bool Refused = false, Unreadable = true;
        const auto row = [](const char* name, const QByteArray& bytes, bool opens, const char* error,
                            const char* unsupported = "") {
            QTest::newRow(name) << bytes << opens << qint64(0) << qint64(1 << 16) << QByteArray()
                                << QString::fromLatin1(unsupported) << QString::fromLatin1(error);
        };
        using F = UdifFile&;
        row("shorter than a trailer", whole.right(511), Refused, "too short for a UDIF trailer");
        row("bad magic", QByteArray(whole).replace(trailer, 4, "kolx"), Refused, "no UDIF trailer");
        row("property list past the end",
            withTrailer64(whole, UdifFile::kXmlOffset, plistEnd - plistLength + 1), Refused, "runs past the");
        row("property list offset wraps", withTrailer64(whole, UdifFile::kXmlOffset, ~0ull - 9), Refused,
            "runs past the");
        row("property list over the cap",
            withTrailer64(whole, UdifFile::kXmlLength, UdifImage::kMaxPlistBytes + 1), Refused, "more than");
        row("comment left open", QByteArray(whole).replace(trailer - qsizetype(plistLength), 5, "<!--x"),
            Refused, "not well-formed");
        row("property list 41 deep", edited([](F f) {
                f.plistExtra =
                    "<key>a</key>" + QByteArray("<array>").repeated(40) + QByteArray("</array>").repeated(40);
            }),
            Refused, "nests 41 deep");
        row("sector count below the partitions'", withTrailer64(whole, UdifFile::kSectorCount, 20), Refused,
            "ends at sector 21, past the image's 20 sectors");
        row("chunk past the end", edited([&](F f) { volumeChunk(f, 3).offset = plistEnd; }), Refused,
            "runs past the");
        row("chunk's sector count overflows",
            edited([](F f) { volumeChunk(f, 6).sectors = ~0ull, f.partitions[2].sectorCount = 19; }), Refused,
            "the zlib chunk 6 of \"disk image (Apple_HFS : 2)\" covers sectors 16 + 18446744073709551615");
        row("first sector overflows", edited([](F f) { f.partitions[2].firstSector = ~0ull - 5; }), Refused,
            "overflow");
        row("chunks overlap", edited([](F f) { volumeChunk(f, 3).sector = 6; }), Refused,
            "two chunks overlap at sector 8");
        row("partitions overlap",
            edited([](F f) { f.partitions[0].sectorCount = 2, f.partitions[1].firstSector = 1; }), Refused,
            "partitions \"Protective Master Boot Record (MBR : 0)\" and \"GPT Header");
        row("raw chunk of the wrong length", edited([](F f) { volumeChunk(f, 4).stored.chop(1); }), Refused,
            "the raw chunk 4 of \"disk image (Apple_HFS : 2)\" stores 1023 bytes for 2 sectors");
        row("zlib chunk over the cap",
            edited([](F f) { volumeChunk(f, 6).sectors = UdifImage::kMaxChunkBytes / 512 + 1; }), Refused,
            "a chunk may hold up to 67108864 bytes");
        row("corrupt zlib stream", edited([](F f) { volumeChunk(f, 0).stored[8] = char(0xff); }), Unreadable,
            "the zlib chunk at sector 2 is damaged");
        row("zlib stream cut short", edited([](F f) { volumeChunk(f, 6).stored.chop(100); }), Unreadable,
            "the zlib chunk at sector 18 is cut short");
        row("zlib stream longer than its sectors", edited([](F f) { volumeChunk(f, 0).sectors = 3; }),
            Unreadable, "the zlib chunk at sector 2 does not decompress to the 1536 bytes");
        row("corrupt bzip2 stream", edited([](F f) { volumeChunk(f, 3).stored[20] ^= 0x5a; }), Unreadable,
            "the bzip2 chunk at sector 9 is damaged");
        row("LZFSE and an unknown type", edited([](F f) {
                f.partition("x", 3).chunk(kLzfse, sectors(0, 2)).chunk(0x12345678, sectors(0, 1));
            }),
            Unreadable, "LZFSE chunks are not supported (the chunk at sectors 21 + 2)",
            "LZFSE,type 0x12345678");
    }
    void udif()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        QFETCH(QByteArray, expected);
        QFETCH(QString, error);
        const auto image = open(bytes);
        QTEST(bool(image), "opens");
        if (image && error.isEmpty()) {
            QCOMPARE(image->size(), quint64(kSource.size()));
            QStringList listed; // name, first sector + count
            for (const UdifImage::Partition& p : image->partitions())
                listed << u"%1 %2+%3"_s.arg(p.name).arg(p.firstSector).arg(p.sectorCount);
            QCOMPARE(listed.join(u'|'),
                     u"Protective Master Boot Record (MBR : 0) 0+1|"
                     u"GPT Header (Primary GPT Header : 1) 1+1|disk image (Apple_HFS : 2) 2+19"_s);
        }
        // Twice: from the file, then after every chunk has passed through the cache.
        for (int pass = 0; image && pass < 2; ++pass) {
            QTEST(image->unsupportedChunkTypes().join(u','), "unsupported");
            QByteArray read(length, '\x55');
            const qint64 got = image->read(quint64(offset), read.data(), size_t(length), &m_error);
            QCOMPARE(read.left(got), expected);
            readAll(*image, &m_error);
        }
        QCOMPARE(m_error.isEmpty(), error.isEmpty());
        QVERIFY2(m_error.contains(error), qPrintable(m_error));
    }

    // Roles, names and flags beyond the Data and System volumes that tst_imagecrawl lists; bytes too
    // few or without the magic are fuzz_apfsvolumesuperblock's corpus.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected"); // "role|name|encrypted" in UTF-8, or "none"
        const QByteArray full(256, 'n');
        QTest::newRow("other flags, unencrypted") << superblock("VM", 0x08, 0x41) << QByteArray("VM|VM|no");
        QTest::newRow("other flags, encrypted") << superblock("VM", 0x08, 0x40) << QByteArray("VM|VM|yes");
        QTest::newRow("numbered role")
            << superblock("Prelogin", 0x280, 1) << QByteArray("Prelogin|Prelogin|no");
        QTest::newRow("unknown role") << superblock("X", 0x1234, 1) << QByteArray("0x1234|X|no");
        QTest::newRow("name fills its field") << superblock(full + "role", 0x40, 1) << "Data|" + full + "|no";
        QTest::newRow("name not UTF-8")
            << superblock("caf\xe9", 0x40, 1) << QByteArray("Data|caf\xEF\xBF\xBD|no");
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        const auto parsed = ApfsVolumeSuperblock::parse(bytes);
        QTEST(parsed
                  ? parsed->role.toUtf8() + '|' + parsed->name.toUtf8() + (parsed->encrypted ? "|yes" : "|no")
                  : QByteArray("none"),
              "expected");
    }

    // Our file handles as libbfio drives them for libewf and libvmdk: a pool reopens a file it
    // closed and seeks back; a clone is opened on its own; the end is found by seeking from it.
    void bfioHandles()
    {
        const LibyalCalls* calls = LibyalCalls::get();
        QVERIFY(calls);
        const auto call = [](const char* name) { return ::dlsym(RTLD_DEFAULT, name); };
        const auto open = reinterpret_cast<decltype(&::libbfio_handle_open)>(call("libbfio_handle_open"));
        const auto close = reinterpret_cast<decltype(&::libbfio_handle_close)>(call("libbfio_handle_close"));
        const auto clone = reinterpret_cast<decltype(&::libbfio_handle_clone)>(call("libbfio_handle_clone"));
        const auto free = reinterpret_cast<decltype(&::libbfio_handle_free)>(call("libbfio_handle_free"));
        const auto seek =
            reinterpret_cast<decltype(&::libbfio_handle_seek_offset)>(call("libbfio_handle_seek_offset"));
        const auto read =
            reinterpret_cast<decltype(&::libbfio_handle_read_buffer)>(call("libbfio_handle_read_buffer"));
        const auto size =
            reinterpret_cast<decltype(&::libbfio_handle_get_size)>(call("libbfio_handle_get_size"));
        QVERIFY(open && close && clone && free && seek && read && size);
        BfioPool pool(*calls);
        QString error;
        QVERIFY(pool.add(m_tree.rawFile("segment", kSource), &error));
        QVERIFY(!pool.add(m_tree.rawPath("missing"), &error));
        QCOMPARE(error, m_tree.path(u"missing"_s) + u": No such file or directory"_s);
        QCOMPARE(::mkfifo(m_tree.rawPath("fifo").constData(), 0600), 0); // read, it would never end
        QVERIFY(!pool.add(m_tree.rawPath("fifo"), &error));
        QCOMPARE(error, m_tree.path(u"fifo"_s) + u": not a regular file"_s);
        const auto readAt = [&](libbfio_handle_t* handle, off64_t offset, int whence, size_t length) {
            QByteArray bytes(qsizetype(length), '\0');
            if (seek(handle, offset, whence, nullptr) < 0)
                return QByteArray("seek failed");
            bytes.resize(read(handle, reinterpret_cast<uint8_t*>(bytes.data()), length, nullptr));
            return bytes;
        };
        libbfio_handle_t* handle = pool.handle(0);
        QVERIFY(handle && open(handle, LIBBFIO_OPEN_READ, nullptr) == 1);
        QCOMPARE(readAt(handle, 1000, SEEK_SET, 24), kSource.mid(1000, 24));
        QCOMPARE(readAt(handle, 8, SEEK_CUR, 16), kSource.mid(1032, 16));
        QCOMPARE(readAt(handle, -100, SEEK_END, 512), kSource.right(100));
        QCOMPARE(readAt(handle, -1, SEEK_SET, 1), QByteArray("seek failed"));
        QVERIFY(close(handle, nullptr) == 0 && open(handle, LIBBFIO_OPEN_READ, nullptr) == 1);
        QByteArray start(8, '\0');
        QCOMPARE(read(handle, reinterpret_cast<uint8_t*>(start.data()), 8, nullptr), 8);
        QCOMPARE(start, kSource.left(8));
        QCOMPARE(open(handle, LIBBFIO_OPEN_WRITE, nullptr), -1); // evidence is never written
        libbfio_handle_t* copy = nullptr;
        size64_t copySize = 0;
        QVERIFY(clone(&copy, handle, nullptr) == 1 && open(copy, LIBBFIO_OPEN_READ, nullptr) == 1);
        QVERIFY(size(copy, &copySize, nullptr) == 1);
        QCOMPARE(copySize, size64_t(kSource.size()));
        QCOMPARE(readAt(copy, -3, SEEK_END, 3), kSource.right(3));
        free(&copy, nullptr);
    }

    // dmg2img, a converter that is not ours, reads the writer's image as the disk it holds.
    void otherReaderAgrees()
    {
        const QString dmg2img = QStandardPaths::findExecutable(u"dmg2img"_s);
        QVERIFY2(!dmg2img.isEmpty(), "dmg2img is not installed (scripts/install-deps.sh installs it)");
        const QString out = m_tree.path(u"disk.img"_s);
        QCOMPARE(QProcess::execute(dmg2img, {u"-s"_s, m_tree.file(u"written.dmg"_s, sample().bytes()), out}),
                 0);
        QFile converted(out);
        QVERIFY(converted.open(QIODevice::ReadOnly));
        QCOMPARE(converted.readAll(), kSource);
    }
};

QTEST_GUILESS_MAIN(TestImageFormats)
#include "tst_imageformats.moc"
