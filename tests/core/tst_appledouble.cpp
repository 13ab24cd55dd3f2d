#include "core/AppleDouble.h"
#include "tests/support/AppleDoubleFile.h"

#include <QtTest>

namespace {

const QByteArray kProvenance = QByteArray::fromHex("010200aabbccddeeff1100");
const QByteArray kQuarantine = "0083;65a1b2c3;Safari;1F2E3D4C";
const AppleDoubleFile kFinderFile =
    AppleDoubleFile().add("com.apple.provenance", kProvenance).add("com.apple.quarantine", kQuarantine);
const QByteArray kFinder = kFinderFile.bytes();
const QByteArray kBoth =
    "com.apple.provenance=" + kProvenance.toHex() + ";com.apple.quarantine=" + kQuarantine.toHex();

// "name=hex value;..." in stored order, or "damaged".
QByteArray listing(const std::optional<AppleDouble>& sidecar)
{
    if (!sidecar)
        return "damaged";
    QByteArrayList parts;
    for (const auto& [name, value] : sidecar->attributes())
        parts << QByteArray(name.data(), qsizetype(name.size())) + '=' + value.toByteArray().toHex();
    return parts.join(';');
}

// `bytes` (the Finder's file by default) with a big-endian number or a byte written at `at`.
QByteArray with32(qsizetype at, quint32 value, QByteArray bytes = kFinder)
{
    AppleDoubleFile::put32(bytes, at, value);
    return bytes;
}
QByteArray with16(qsizetype at, quint16 value, QByteArray bytes = kFinder)
{
    AppleDoubleFile::put16(bytes, at, value);
    return bytes;
}
QByteArray withByte(qsizetype at, char value, QByteArray bytes = kFinder)
{
    bytes[at] = value;
    return bytes;
}

} // namespace

// The AppleDouble parser on files built from the format, whole and damaged.
class TestAppleDouble : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        const qsizetype fiLength = AppleDoubleFile::kFinderInfoEntry + 8;
        const qsizetype valueOffset = kFinderFile.attrEntry(1), valueLength = valueOffset + 4;

        QTest::newRow("as the Finder writes it") << kFinder << kBoth;
        AppleDoubleFile padding;
        for (const QByteArray name : {"a", "ab", "abc", "abcd"})
            padding.add(name, name.toUpper());
        QTest::newRow("names of every padding, an empty value")
            << padding.add("abcde", {}).bytes() << QByteArray("a=41;ab=4142;abc=414243;abcd=41424344;abcde=");
        QTest::newRow("Finder Info only") << with32(fiLength, 32) << QByteArray();
        QByteArray noAttr = kFinder;
        QTest::newRow("no attribute block")
            << noAttr.replace(AppleDoubleFile::kAttrHeader, 4, "ATTX") << QByteArray();
        QTest::newRow("no Finder Info entry") << with32(AppleDoubleFile::kFinderInfoEntry, 7) << QByteArray();
        QByteArray swapped = kFinder;
        swapped.replace(AppleDoubleFile::kFinderInfoEntry, 24,
                        kFinder.mid(AppleDoubleFile::kFinderInfoEntry + 12, 12) +
                            kFinder.mid(AppleDoubleFile::kFinderInfoEntry, 12));
        QTest::newRow("Finder Info listed second") << swapped << kBoth;

        const QByteArray damaged("damaged");
        QTest::newRow("header cut short") << kFinder.left(25) << damaged;
        QTest::newRow("cut inside the resource fork") << kFinder.chopped(1) << damaged;
        QTest::newRow("AppleSingle magic") << with32(0, 0x00051600) << damaged;
        QTest::newRow("version 1") << with32(4, 0x00010000) << damaged;
        QTest::newRow("entry count runs off the end") << with16(AppleDoubleFile::kEntryCount, 400) << damaged;
        QTest::newRow("attribute count runs off the end")
            << with16(AppleDoubleFile::kAttrCount, 0xffff) << damaged;
        // Offset plus length wraps round to a small number in 32 bits.
        QTest::newRow("value end past 32 bits")
            << with32(valueLength, 0x10, with32(valueOffset, 0xffffffff)) << damaged;
        QTest::newRow("value runs past the Finder Info") << with32(valueLength, 3760) << damaged;
        QTest::newRow("value before the Finder Info") << with32(valueOffset, 49) << damaged;
        QTest::newRow("name without its NUL") << withByte(kFinderFile.attrEntry(1) + 11 + 20, 'x') << damaged;
        QTest::newRow("NUL inside the name") << withByte(kFinderFile.attrEntry(0) + 11 + 3, '\0') << damaged;
        QTest::newRow("name length zero") << withByte(kFinderFile.attrEntry(1) + 10, '\0') << damaged;
        // No resource fork, and the file ends five bytes into the last name.
        const qsizetype end = kFinderFile.attrEntry(1) + 11 + 5;
        QTest::newRow("name past the end")
            << with16(AppleDoubleFile::kEntryCount, 1, with32(fiLength, quint32(end - 50))).left(end)
            << damaged;
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, expected);
        // A copy of exactly the bytes' size, so the sanitizer sees a read past their end.
        const QByteArray exact(bytes.constData(), bytes.size());
        QCOMPARE(listing(AppleDouble::parse(exact, quint64(exact.size()))), expected);
    }

    void lookup()
    {
        // Of a name stored twice, both are listed and the first is its value; a name matches whole.
        const auto sidecar =
            AppleDouble::parse(AppleDoubleFile().add("q", "1").add("q", "2").add("p", "3").bytes(), 4096);
        QCOMPARE(listing(sidecar), QByteArray("q=31;q=32;p=33"));
        QCOMPARE(sidecar->value("q"), std::optional<QByteArrayView>("1"));
        QCOMPARE(sidecar->value("p"), std::optional<QByteArrayView>("3"));
        QCOMPARE(sidecar->value("p "), std::nullopt);
        QCOMPARE(sidecar->value(""), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestAppleDouble)
#include "tst_appledouble.moc"
