#include "image/udif/UdifImage.h"
#include "tests/image/UdifFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

constexpr quint32 kZero = 0, kRaw = 1, kIgnore = 2, kZlib = 0x80000005, kBzip2 = 0x80000006,
                  kLzfse = 0x80000007, kComment = 0x7ffffffe;

// 21 sectors as a disk holds them: text, noise, and zeros where the image stores none.
const QByteArray kSource = [] {
    QByteArray bytes;
    quint32 state = 19;
    for (int sector = 0; sector < 21; ++sector) {
        const bool zero = (sector >= 6 && sector < 9) || sector == 16 || sector == 17;
        for (int i = 0; i < 512; ++i) {
            state = state * 1103515245u + 12345u;
            bytes += zero ? '\0' : sector % 3 == 0 ? char('a' + (i + sector) % 26) : char(state >> 24);
        }
    }
    return bytes;
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
    UdifFile::put64(bytes, bytes.size() - 512 + field, value);
    return bytes;
}

QString write(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("image.dmg"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

// The whole image read in one call; the reason instead when the read fails.
QByteArray readAll(const UdifImage& image, QString* error)
{
    QByteArray bytes(qsizetype(image.size()), '\0');
    const qint64 got = image.read(0, bytes.data(), size_t(bytes.size()), error);
    return got == bytes.size() ? bytes : QByteArray();
}

} // namespace

// The UDIF reader on images written by the test from known bytes, whole and damaged.
class TestUdifImage : public QObject
{
    Q_OBJECT

private slots:
    void readBack_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QByteArray>("expected");
        const qint64 size = kSource.size();
        const auto row = [&](const char* name, qint64 offset, qint64 length) {
            QTest::newRow(name) << offset << length << kSource.mid(offset, length);
        };
        row("whole image", 0, size);
        row("first sector (raw)", 0, 512);
        row("raw partition into zlib partition", 500, 24);
        row("zlib chunk into zero-fill", 6 * 512 - 3, 6);
        row("zero-fill, past the comment, into bzip2", 9 * 512 - 5, 10);
        row("inside bzip2", 10 * 512 + 17, 700);
        row("bzip2 into raw into ignore", 13 * 512 + 511, 3 * 512 + 2);
        row("every chunk of the volume", 2 * 512, 19 * 512);
        row("last byte", size - 1, 1);
        row("cut short at the end", size - 10, 100);
        row("at the end", size, 10);
        row("far past the end", size * 1000, 10);
    }
    void readBack()
    {
        QFETCH(qint64, offset);
        QFETCH(qint64, length);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        QString error;
        const auto image = UdifImage::open(write(dir, sample().bytes()), &error);
        QVERIFY2(image, qPrintable(error));
        QCOMPARE(image->size(), quint64(kSource.size()));
        QVERIFY(image->unsupportedChunkTypes().isEmpty());
        // Twice: from the file, then after every chunk has passed through the cache.
        for (int pass = 0; pass < 2; ++pass) {
            QByteArray bytes(length, '\x55');
            QCOMPARE(image->read(quint64(offset), bytes.data(), size_t(length), &error), qint64(expected.size()));
            QCOMPARE(bytes.left(expected.size()), expected);
            QVERIFY2(!readAll(*image, &error).isEmpty(), qPrintable(error));
        }
    }

    void partitions_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("id");
        QTest::addColumn<quint64>("firstSector");
        QTest::addColumn<quint64>("sectorCount");
        QTest::newRow("MBR") << 0 << u"Protective Master Boot Record (MBR : 0)"_s << qint64(-1) << quint64(0) << quint64(1);
        QTest::newRow("GPT header") << 1 << u"GPT Header (Primary GPT Header : 1)"_s << qint64(0) << quint64(1) << quint64(1);
        QTest::newRow("HFS+ volume") << 2 << u"disk image (Apple_HFS : 2)"_s << qint64(1) << quint64(2) << quint64(19);
    }
    void partitions()
    {
        QFETCH(int, index);
        QTemporaryDir dir;
        QString error;
        const auto image = UdifImage::open(write(dir, sample().bytes()), &error);
        QVERIFY2(image, qPrintable(error));
        QCOMPARE(image->partitions().size(), size_t(3));
        const UdifImage::Partition& partition = image->partitions()[size_t(index)];
        QTEST(partition.name, "name");
        QTEST(partition.id, "id");
        QTEST(partition.firstSector, "firstSector");
        QTEST(partition.sectorCount, "sectorCount");
        QCOMPARE(partition.attributes, 0x50u);
    }

    void damaged_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("unsupported"); // as listed at open
        QTest::addColumn<QString>("error");
        const QByteArray whole = sample().bytes();
        const qsizetype trailer = whole.size() - 512;
        const quint64 xmlLength = qFromBigEndian<quint64>(whole.constData() + trailer + UdifFile::kXmlLength);
        const auto refused = [](const char* name, const QByteArray& bytes, const char* error) {
            QTest::newRow(name) << bytes << false << QString() << QString::fromLatin1(error);
        };
        const auto unreadable = [](const char* name, const QByteArray& bytes, const char* unsupported, const char* error) {
            QTest::newRow(name) << bytes << true << QString::fromLatin1(unsupported) << QString::fromLatin1(error);
        };

        refused("not an image", QByteArray(4096, 'x'), "no UDIF trailer");
        refused("shorter than a trailer", whole.right(511), "too short for a UDIF trailer");
        refused("trailer cut short", whole.chopped(1), "no UDIF trailer");
        refused("bad magic", QByteArray(whole).replace(trailer, 4, "kolx"), "no UDIF trailer");
        QByteArray version = whole;
        UdifFile::put32(version, trailer + 4, 5);
        refused("trailer version 5", version, "version 5 of 512 bytes is not supported");
        refused("property list past the end", withTrailer64(whole, UdifFile::kXmlOffset, quint64(trailer) - xmlLength + 1),
                "runs past the");
        refused("property list offset wraps around", withTrailer64(whole, UdifFile::kXmlOffset, ~quint64(0) - 10),
                "runs past the");
        refused("no property list", withTrailer64(whole, UdifFile::kXmlLength, 0), "no property list");
        refused("property list over the cap", withTrailer64(whole, UdifFile::kXmlLength, UdifImage::kMaxPlistBytes + 1),
                "more than the");
        const qsizetype xml = trailer - qsizetype(xmlLength);
        refused("comment left open", QByteArray(whole).replace(xml, 5, "<!--x"), "not well-formed");
        refused("mismatched tags", QByteArray(whole).replace(whole.indexOf("<key>resource-fork"), 5, "<kex>"),
                "cannot be parsed");
        refused("property list nested 40 deep", edited([](UdifFile& f) {
                    f.plistExtra = "<key>deep</key>" + QByteArray("<array>").repeated(40) + QByteArray("</array>").repeated(40);
                }), "nests 41 deep");
        refused("trailer's sector count below the partitions'", withTrailer64(whole, UdifFile::kSectorCount, 20),
                "ends at sector 21, past the image's 20 sectors");
        refused("chunk past the end of the file", edited([&](UdifFile& f) { volumeChunk(f, 3).offset = quint64(trailer); }),
                "runs past the");
        refused("chunk's sector count overflows", edited([](UdifFile& f) {
                    volumeChunk(f, 6).sectors = ~quint64(0);
                    f.partitions[2].sectorCount = 19;
                }), "the zlib chunk 6 of \"disk image (Apple_HFS : 2)\" covers sectors 16 + 18446744073709551615, outside");
        refused("partition's first sector overflows",
                edited([](UdifFile& f) { f.partitions[2].firstSector = ~quint64(0) - 5; }), "which overflow");
        refused("chunks overlap", edited([](UdifFile& f) { volumeChunk(f, 3).sector = 6; }), "two chunks overlap at sector");
        refused("partitions overlap", edited([](UdifFile& f) {
                    f.partitions[0].sectorCount = 2;
                    f.partitions[1].firstSector = 1;
                }),
                "partitions \"Protective Master Boot Record (MBR : 0)\" and \"GPT Header (Primary GPT Header : 1)\" overlap");
        refused("raw chunk of the wrong length", edited([](UdifFile& f) { volumeChunk(f, 4).stored.chop(1); }),
                "the raw chunk 4 of \"disk image (Apple_HFS : 2)\" stores 1023 bytes for 2 sectors");
        refused("zlib chunk over the cap", edited([](UdifFile& f) {
                    volumeChunk(f, 6).sectors = UdifImage::kMaxChunkBytes / 512 + 1;
                }), "a chunk may hold up to");

        unreadable("corrupt zlib stream", edited([](UdifFile& f) { volumeChunk(f, 0).stored[8] = char(0xff); }), "",
                   "the zlib chunk at sector 2 is damaged");
        unreadable("zlib stream cut short", edited([](UdifFile& f) { volumeChunk(f, 6).stored.chop(100); }), "",
                   "the zlib chunk at sector 18 is cut short");
        unreadable("zlib stream longer than its sectors", edited([](UdifFile& f) { volumeChunk(f, 0).sectors = 3; }), "",
                   "does not decompress to the 1536 bytes");
        unreadable("corrupt bzip2 stream", edited([](UdifFile& f) { volumeChunk(f, 3).stored[20] ^= 0x5a; }), "",
                   "the bzip2 chunk at sector 9");
        unreadable("LZFSE and an unknown type", edited([](UdifFile& f) {
                       f.partition("lzfse", 3).chunk(kLzfse, sectors(0, 2)).chunk(0x12345678, sectors(0, 1));
                   }), "LZFSE,type 0x12345678", "LZFSE chunks are not supported (the chunk at sectors 21 + 2)");
    }
    void damaged()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, opens);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QString reason;
        const auto image = UdifImage::open(write(dir, bytes), &reason);
        QCOMPARE(bool(image), opens);
        if (image) {
            QTEST(image->unsupportedChunkTypes().join(u','), "unsupported");
            QVERIFY(readAll(*image, &reason).isEmpty());
        }
        QVERIFY2(reason.contains(error), qPrintable(reason));
    }

    // Reading leaves the image's bytes, times and folder as they were.
    void evidenceUntouched()
    {
        QTemporaryDir dir;
        const QByteArray bytes = sample().bytes();
        const QByteArray path = QFile::encodeName(write(dir, bytes));
        // Times in the past, so that a read that set the access time would show.
        const struct utimbuf past{1'000'000'000, 1'000'000'000};
        QCOMPARE(::utime(path.constData(), &past), 0);
        struct stat before{}, after{};
        QCOMPARE(::stat(path.constData(), &before), 0);
        QString error;
        {
            const auto image = UdifImage::open(QFile::decodeName(path), &error);
            QVERIFY2(image, qPrintable(error));
            QCOMPARE(readAll(*image, &error), kSource);
        }
        QCOMPARE(::stat(path.constData(), &after), 0);
        QCOMPARE(after.st_atim.tv_sec, before.st_atim.tv_sec);
        QCOMPARE(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
        QFile file(QFile::decodeName(path));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256),
                 QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"image.dmg"_s});
    }

    // dmg2img, a converter that is not ours, reads the writer's image as the disk it holds.
    void otherReaderAgrees()
    {
        const QString dmg2img = QStandardPaths::findExecutable(u"dmg2img"_s);
        if (dmg2img.isEmpty())
            QSKIP("dmg2img is not installed (scripts/debian-packages.txt lists it)");
        QTemporaryDir dir;
        const QString out = dir.filePath(u"disk.img"_s);
        QProcess process;
        process.start(dmg2img, {u"-s"_s, write(dir, sample().bytes()), out});
        QVERIFY(process.waitForFinished(60'000));
        QCOMPARE(process.exitCode(), 0);
        QFile converted(out);
        QVERIFY(converted.open(QIODevice::ReadOnly));
        QCOMPARE(converted.readAll(), kSource);
    }
};

QTEST_GUILESS_MAIN(TestUdifImage)
#include "tst_udifimage.moc"
