// Writes the seed images of fuzz/corpus/fuzz_udif with the tests' UDIF writer:
//   cmake --build build --target udif_seeds && build/bin/udif_seeds fuzz/corpus/fuzz_udif
#include "tests/image/UdifFile.h"

#include <QDir>
#include <QFile>

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const QDir folder(QFile::decodeName(argv[1]));
    QByteArray text, noise;
    for (int i = 0; i < 2048; ++i) {
        text += char('a' + i % 26);
        noise += char((i * 2654435761u) >> 24);
    }
    const auto save = [&](const char* name, const UdifFile& file) {
        QFile out(folder.filePath(QString::fromLatin1(name)));
        return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(file.bytes()) > 0;
    };
    UdifFile every;
    every.partition("Protective Master Boot Record (MBR : 0)", -1).chunk(1, noise.left(512));
    every.partition("disk image (Apple_HFS : 1)", 0)
        .chunk(0x80000005, text)
        .chunk(0, QByteArray(1024, '\0'))
        .chunk(0x7ffffffe, {})
        .chunk(0x80000006, noise)
        .chunk(2, QByteArray(512, '\0'))
        .chunk(1, text.left(1024));
    UdifFile unsupported;
    unsupported.partition("disk image (Apple_APFS : 0)", 0).chunk(0x80000007, noise.left(1024)).chunk(0x80000008, text.left(512));
    UdifFile gap;
    gap.partition("first", 0).chunk(0x80000005, noise);
    gap.partition("after a gap", 1).chunk(0x80000006, text);
    gap.partitions.back().firstSector = 8;
    return save("every-chunk-type.dmg", every) && save("lzfse-lzma.dmg", unsupported) && save("gap.dmg", gap) ? 0 : 1;
}
