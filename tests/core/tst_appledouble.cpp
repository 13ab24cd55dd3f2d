#include "core/AppleDouble.h"
#include "tests/support/AppleDoubleFile.h"

#include <QtTest>

#include <functional>

namespace {

const QByteArray kProvenance = QByteArray::fromHex("010200aabbccddeeff1100");
const QByteArray kQuarantine = "0083;65a1b2c3;Safari;1F2E3D4C";

using Damage = std::function<void(QByteArray& bytes, const AppleDoubleFile& file)>;

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

AppleDoubleFile finderFile()
{
    return AppleDoubleFile()
        .add("com.apple.provenance", kProvenance)
        .add("com.apple.quarantine", kQuarantine);
}

const QByteArray kBoth =
    "com.apple.provenance=" + kProvenance.toHex() + ";com.apple.quarantine=" + kQuarantine.toHex();

} // namespace

Q_DECLARE_METATYPE(AppleDoubleFile)
Q_DECLARE_METATYPE(Damage)

// The AppleDouble parser on files built from the format, whole and damaged.
class TestAppleDouble : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<AppleDoubleFile>("file");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QByteArray>("expected");
        const auto as = [](const char* tag, AppleDoubleFile file, Damage damage, QByteArray expected) {
            QTest::newRow(tag) << file << damage << expected;
        };
        const Damage none = [](QByteArray&, const AppleDoubleFile&) {};
        const auto at32 = [](qsizetype (*where)(const AppleDoubleFile&), quint32 value) -> Damage {
            return
                [=](QByteArray& b, const AppleDoubleFile& f) { AppleDoubleFile::put32(b, where(f), value); };
        };
        const auto fiLength = [](const AppleDoubleFile&) { return AppleDoubleFile::kFinderInfoEntry + 8; };
        const auto valueOffset = [](const AppleDoubleFile& f) { return f.attrEntry(1); };
        const auto valueLength = [](const AppleDoubleFile& f) { return f.attrEntry(1) + 4; };

        as("as the Finder writes it", finderFile(), none, kBoth);
        QByteArrayList names{"a", "ab", "abc", "abcd", "abcde"}; // every padding
        AppleDoubleFile padding;
        for (const QByteArray& name : names)
            padding.add(name, name.toUpper());
        as("names of every padding", padding, none, "a=41;ab=4142;abc=414243;abcd=41424344;abcde=4142434445");
        as("an empty value", AppleDoubleFile().add("com.apple.quarantine", {}), none,
           "com.apple.quarantine=");
        as("the same name twice", AppleDoubleFile().add("x", "1").add("x", "2"), none, "x=31;x=32");
        as("Finder info only", finderFile(), at32(fiLength, 32), "");
        as(
            "no attribute block", finderFile(),
            [](QByteArray& b, const AppleDoubleFile&) { b.replace(AppleDoubleFile::kAttrHeader, 4, "ATTX"); },
            "");
        as("no Finder Info entry", finderFile(),
           at32([](const AppleDoubleFile&) { return AppleDoubleFile::kFinderInfoEntry; }, 7), "");
        as(
            "Finder Info listed second", finderFile(),
            [](QByteArray& b, const AppleDoubleFile&) {
                const QByteArray first = b.mid(AppleDoubleFile::kFinderInfoEntry, 12);
                b.replace(AppleDoubleFile::kFinderInfoEntry, 12,
                          b.mid(AppleDoubleFile::kFinderInfoEntry + 12, 12));
                b.replace(AppleDoubleFile::kFinderInfoEntry + 12, 12, first);
            },
            kBoth);

        as(
            "empty", finderFile(), [](QByteArray& b, const AppleDoubleFile&) { b.clear(); }, "damaged");
        as(
            "header cut short", finderFile(), [](QByteArray& b, const AppleDoubleFile&) { b.truncate(25); },
            "damaged");
        as(
            "cut inside the values", finderFile(),
            [](QByteArray& b, const AppleDoubleFile& f) { b.truncate(f.attrEntry(2) + 4); }, "damaged");
        as(
            "cut inside the resource fork", finderFile(),
            [](QByteArray& b, const AppleDoubleFile&) { b.chop(1); }, "damaged");
        as("AppleSingle magic", finderFile(),
           at32([](const AppleDoubleFile&) { return qsizetype(0); }, 0x00051600), "damaged");
        as("version 1", finderFile(), at32([](const AppleDoubleFile&) { return qsizetype(4); }, 0x00010000),
           "damaged");
        as(
            "entry count runs off the end", finderFile(),
            [](QByteArray& b, const AppleDoubleFile&) {
                AppleDoubleFile::put16(b, AppleDoubleFile::kEntryCount, 400);
            },
            "damaged");
        as(
            "attribute count runs off the end", finderFile(),
            [](QByteArray& b, const AppleDoubleFile&) {
                AppleDoubleFile::put16(b, AppleDoubleFile::kAttrCount, 0xffff);
            },
            "damaged");
        as("Finder Info longer than the file", finderFile(), at32(fiLength, 5000), "damaged");
        as("value beyond the file", finderFile(), at32(valueOffset, 0xfffffff0), "damaged");
        as(
            "offset and length past 32 bits", finderFile(),
            [=](QByteArray& b, const AppleDoubleFile& f) {
                at32(valueOffset, 0xffffffff)(b, f);
                at32(valueLength, 0xffffffff)(b, f);
            },
            "damaged");
        as("value runs past the Finder Info", finderFile(), at32(valueLength, 3760), "damaged");
        as("value in the resource fork", finderFile(), at32(valueOffset, 3810), "damaged");
        as("value before the Finder Info", finderFile(), at32(valueOffset, 49), "damaged");
        as(
            "name without its NUL", finderFile(),
            [](QByteArray& b, const AppleDoubleFile& f) { b[f.attrEntry(1) + 11 + 20] = 'x'; }, "damaged");
        as(
            "NUL inside the name", finderFile(),
            [](QByteArray& b, const AppleDoubleFile& f) { b[f.attrEntry(0) + 11 + 3] = '\0'; }, "damaged");
        as(
            "name length zero", finderFile(),
            [](QByteArray& b, const AppleDoubleFile& f) { b[f.attrEntry(1) + 10] = '\0'; }, "damaged");
        as(
            "name past the end", finderFile(),
            [](QByteArray& b, const AppleDoubleFile& f) {
                // No resource fork, and the file ends five bytes into the last name.
                const qsizetype end = f.attrEntry(1) + 11 + 5;
                AppleDoubleFile::put16(b, AppleDoubleFile::kEntryCount, 1);
                AppleDoubleFile::put32(b, AppleDoubleFile::kFinderInfoEntry + 8, quint32(end - 50));
                b.truncate(end);
            },
            "damaged");
    }

    void parse()
    {
        QFETCH(AppleDoubleFile, file);
        QFETCH(Damage, damage);
        QFETCH(QByteArray, expected);
        QByteArray bytes = file.bytes();
        damage(bytes, file);
        // A copy of exactly the bytes' size, so the sanitizer sees a read past their end.
        const QByteArray exact(bytes.constData(), bytes.size());
        const auto sidecar = AppleDouble::parse(exact, quint64(exact.size()));
        QCOMPARE(listing(sidecar), expected);
    }

    void prefixes_data()
    {
        QTest::addColumn<qsizetype>("read"); // leading bytes handed over
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("up to the Finder Info's end") << qsizetype(50 + 3760) << kBoth;
        QTest::newRow("one byte short of it") << qsizetype(50 + 3759) << QByteArray("damaged");
        QTest::newRow("the whole file") << qsizetype(4096) << kBoth;
    }

    void prefixes()
    {
        QFETCH(qsizetype, read);
        QFETCH(QByteArray, expected);
        const QByteArray bytes = finderFile().bytes();
        QCOMPARE(bytes.size(), 4096);
        // The header tells how much to read: the entry table, then the Finder Info entry.
        QCOMPARE(AppleDouble::extentNeeded(bytes.left(60), 4096), quint64(50 + 3760));
        QCOMPARE(AppleDouble::extentNeeded(bytes.left(30), 4096), quint64(50));
        QCOMPARE(AppleDouble::extentNeeded(QByteArray(60, 'x'), 4096), quint64(0));
        QCOMPARE(listing(AppleDouble::parse(bytes.left(read), 4096)), expected);
    }

    void lookup()
    {
        const auto sidecar = AppleDouble::parse(AppleDoubleFile()
                                                    .add("com.apple.quarantine", "1")
                                                    .add("com.apple.quarantine", "2")
                                                    .add("com.apple.provenance", kProvenance)
                                                    .bytes(),
                                                4096);
        QVERIFY(sidecar);
        QCOMPARE(sidecar->value("com.apple.quarantine"), std::optional<QByteArrayView>("1"));
        QCOMPARE(sidecar->value("com.apple.provenance")->toByteArray(), kProvenance);
        QCOMPARE(sidecar->value("com.apple.provenanc"), std::nullopt);
        QCOMPARE(sidecar->value("com.apple.provenance "), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestAppleDouble)
#include "tst_appledouble.moc"
