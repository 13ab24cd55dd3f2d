#include "core/AppleDouble.h"
#include "core/SidecarReader.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"

#include <QtEndian>
#include <QtTest>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kProvenance = QByteArray::fromHex("010200aabbccddeeff1100");
const QByteArray kQuarantine = "0083;65a1b2c3;Safari;1F2E3D4C";
const AppleDoubleFile kFinderFile =
    AppleDoubleFile().add("com.apple.provenance", kProvenance).add("com.apple.quarantine", kQuarantine);
const QByteArray kFinder = kFinderFile.bytes();

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

// `bytes` with big-endian numbers written over it: {offset, value, width in bytes}.
QByteArray patched(std::initializer_list<std::array<qint64, 3>> patches, QByteArray bytes = kFinder)
{
    for (const auto& [at, value, width] : patches)
        for (qint64 i = 0; i < width; ++i)
            bytes[at + i] = char(value >> 8 * (width - 1 - i));
    return bytes;
}

// A sidecar whose quarantine agent names it.
QByteArray sidecarFrom(const QByteArray& agent)
{
    return AppleDoubleFile().add("com.apple.quarantine", "0083;1;" + agent + ";2").bytes();
}

QByteArray agentOf(const std::optional<AppleDouble>& sidecar)
{
    if (!sidecar)
        return "none";
    const auto value = sidecar->value("com.apple.quarantine");
    return value ? value->toByteArray().split(';').value(2) : "no quarantine";
}

// Access, modification and change times, to the nanosecond.
QList<qint64> stampsOf(const QByteArray& path)
{
    struct stat st;
    ::stat(path.constData(), &st);
    return {st.st_atim.tv_sec,  st.st_atim.tv_nsec, st.st_mtim.tv_sec,
            st.st_mtim.tv_nsec, st.st_ctim.tv_sec,  st.st_ctim.tv_nsec};
}

} // namespace

// AppleDouble sidecars: the parser on files built from the format, whole and damaged, and
// finding and reading them on real files.
class TestSidecarReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_tree.isValid(), m_tree.problem()); }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected");
        const qint64 fiLength = AppleDoubleFile::kFinderInfoEntry + 8;
        const qint64 valueOffset = kFinderFile.attrEntry(1), valueLength = valueOffset + 4;
        const QByteArray both =
            "com.apple.provenance=" + kProvenance.toHex() + ";com.apple.quarantine=" + kQuarantine.toHex();

        QTest::newRow("as the Finder writes it") << kFinder << both;
        AppleDoubleFile padding;
        for (const QByteArray name : {"a", "ab", "abc", "abcd"})
            padding.add(name, name.toUpper());
        QTest::newRow("names of every padding, one twice, an empty value")
            << padding.add("ab", "2").add("abcde", {}).bytes()
            << QByteArray("a=41;ab=4142;abc=414243;abcd=41424344;ab=32;abcde=");
        QTest::newRow("Finder Info only") << patched({{fiLength, 32, 4}}) << QByteArray();
        QByteArray noAttr = kFinder;
        QTest::newRow("no attribute block")
            << noAttr.replace(AppleDoubleFile::kAttrHeader, 4, "ATTX") << QByteArray();
        QTest::newRow("no Finder Info entry")
            << patched({{AppleDoubleFile::kFinderInfoEntry, 7, 4}}) << QByteArray();
        QByteArray swapped = kFinder;
        swapped.replace(AppleDoubleFile::kFinderInfoEntry, 24,
                        kFinder.mid(AppleDoubleFile::kFinderInfoEntry + 12, 12) +
                            kFinder.mid(AppleDoubleFile::kFinderInfoEntry, 12));
        QTest::newRow("Finder Info listed second") << swapped << both;

        const QByteArray damaged("damaged");
        QTest::newRow("header cut short") << kFinder.left(25) << damaged;
        QTest::newRow("cut inside the resource fork") << kFinder.chopped(1) << damaged;
        QTest::newRow("AppleSingle magic") << patched({{0, 0x00051600, 4}}) << damaged;
        QTest::newRow("version 1") << patched({{4, 0x00010000, 4}}) << damaged;
        QTest::newRow("entry count runs off the end")
            << patched({{AppleDoubleFile::kEntryCount, 400, 2}}) << damaged;
        QTest::newRow("attribute count runs off the end")
            << patched({{AppleDoubleFile::kAttrCount, 0xffff, 2}}) << damaged;
        // Offset plus length wraps round to a small number in 32 bits.
        QTest::newRow("value end past 32 bits")
            << patched({{valueLength, 0x10, 4}, {valueOffset, 0xffffffff, 4}}) << damaged;
        QTest::newRow("value runs past the Finder Info") << patched({{valueLength, 3760, 4}}) << damaged;
        QTest::newRow("value before the Finder Info") << patched({{valueOffset, 49, 4}}) << damaged;
        QTest::newRow("name without its NUL") << patched({{valueOffset + 11 + 20, 'x', 1}}) << damaged;
        QTest::newRow("NUL inside the name")
            << patched({{kFinderFile.attrEntry(0) + 11 + 3, 0, 1}}) << damaged;
        QTest::newRow("name length zero") << patched({{valueOffset + 10, 0, 1}}) << damaged;
        // No resource fork, and the file ends five bytes into the last name.
        const qint64 end = valueOffset + 11 + 5;
        QTest::newRow("name past the end")
            << patched({{AppleDoubleFile::kEntryCount, 1, 2}, {fiLength, end - 50, 4}}).left(end) << damaged;
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        // A copy of exactly the bytes' size, so the sanitizer sees a read past their end.
        const QByteArray exact(bytes.constData(), bytes.size());
        const auto sidecar = AppleDouble::parse(exact, quint64(exact.size()));
        QTEST(listing(sidecar), "expected");
        // Of a name stored twice the first is its value; a name matches whole.
        if (sidecar && sidecar->value("abcde"))
            QCOMPARE(QByteArrayList({sidecar->value("ab")->toByteArray(), sidecar->value("ab ") ? "+" : "",
                                     sidecar->value("") ? "+" : ""}),
                     QByteArrayList({"AB", "", ""}));
    }

    void readAt_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<char>("kind"); // 'f' a file, 'l' a link to one, 'p' a FIFO
        QTest::addColumn<QByteArray>("expected");
        // 6000 entries of another id follow the two, so the Finder Info entry lies beyond 64 KiB;
        // the two entries' offsets and the value's move along.
        QByteArray longTable = sidecarFrom("Safari");
        const QByteArray table = QByteArray::fromHex("000000030000000000000000").repeated(6000);
        longTable.insert(50, table);
        AppleDoubleFile::put16(longTable, AppleDoubleFile::kEntryCount, 6002);
        for (const qsizetype at :
             {AppleDoubleFile::kFinderInfoEntry + 4, AppleDoubleFile::kFinderInfoEntry + 16,
              table.size() + AppleDoubleFile::kFirstAttr})
            AppleDoubleFile::put32(longTable, at,
                                   qFromBigEndian<quint32>(longTable.constData() + at) + table.size());
        QByteArray huge = sidecarFrom("Safari"); // the Finder Info ends 50 bytes past the limit
        huge.resize(qsizetype(SidecarReader::kMaxExtent) + 4096);
        AppleDoubleFile::put16(huge, AppleDoubleFile::kEntryCount, 1);
        AppleDoubleFile::put32(huge, AppleDoubleFile::kFinderInfoEntry + 8,
                               quint32(SidecarReader::kMaxExtent));
        QTest::newRow("as the Finder writes it") << sidecarFrom("Mail") << 'f' << QByteArray("Mail");
        QTest::newRow("entry table past the first read") << longTable << 'f' << QByteArray("Safari");
        QTest::newRow("Finder Info past the limit") << huge << 'f' << QByteArray("none");
        QTest::newRow("symbolic link to a sidecar") << sidecarFrom("Safari") << 'l' << QByteArray("none");
        QTest::newRow("FIFO, which would block") << QByteArray() << 'p' << QByteArray("none");
    }

    void readAt()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(char, kind);
        QFETCH(QByteArray, expected);
        const QByteArray name = "._" + QByteArray(QTest::currentDataTag()).left(5).replace(' ', '_');
        const QByteArray path = m_tree.rawPath(name);
        if (kind == 'l')
            QVERIFY(::symlink(m_tree.rawFile(name + "target", bytes).constData(), path.constData()) == 0);
        else if (kind == 'p')
            QVERIFY(::mkfifo(path.constData(), 0644) == 0);
        else
            m_tree.rawFile(name, bytes);
        m_tree.openToOthers();
        // An access time older than the modification: a read through the page cache would move it.
        const timespec times[2] = {{1000, 0}, {UTIME_OMIT, UTIME_OMIT}};
        QVERIFY(::utimensat(AT_FDCWD, path.constData(), times, 0) == 0);
        const QList<qint64> before = stampsOf(path);
        QCOMPARE(agentOf(SidecarReader::readAt(AT_FDCWD, path.constData())), expected);
        const int folder = ::open(QFile::encodeName(m_tree.root()).constData(), O_RDONLY | O_DIRECTORY);
        QCOMPARE(agentOf(SidecarReader::readAt(folder, name.constData())), expected);
        ::close(folder);
        QCOMPARE(stampsOf(path), before);
        // Another user may not ask for no access time: the read goes on without it.
        bool ok = false;
        const QByteArray agent = TestTree::asUnprivileged(
            [&] { return agentOf(SidecarReader::readAt(AT_FDCWD, path.constData())); }, &ok);
        QVERIFY(ok);
        QCOMPARE(agent, expected);
    }

    void findFor_data()
    {
        // Files to make ("path=agent", apart by spaces; "!" before the agent: damaged), the item, the agent
        // found.
        QTest::addColumn<QString>("files");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* tag, const QString& files, const QString& item,
                            const char* expected) {
            QTest::newRow(tag) << files << item << QByteArray(expected);
        };
        row("archive two folders up", u"X/__MACOSX/Docs/Sub/._a.pdf=zip"_s, u"X/Docs/Sub/a.pdf"_s, "zip");
        row("a folder, named with its slash", u"X/__MACOSX/._Docs=zip"_s, u"X/Docs/"_s, "zip");
        row("nearest archive first", u"X/__MACOSX/Docs/._a.pdf=far X/Docs/__MACOSX/._a.pdf=near"_s,
            u"X/Docs/a.pdf"_s, "near");
        row("beside before an archive", u"X/__MACOSX/._a.pdf=zip X/._a.pdf=beside"_s, u"X/a.pdf"_s, "beside");
        row("damaged beside, passed over", u"X/__MACOSX/._a.pdf=zip X/._a.pdf=!beside"_s, u"X/a.pdf"_s,
            "zip");
        row("another file's sidecar", u"X/._b.pdf=beside X/__MACOSX/Other/._a.pdf=zip"_s, u"X/a.pdf"_s,
            "none");
    }

    void findFor()
    {
        QFETCH(QString, files);
        QFETCH(QString, item);
        QFETCH(QByteArray, expected);
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        for (const QString& placed : files.split(u' ')) {
            const QString agent = placed.section(u'=', 1);
            QByteArray bytes = sidecarFrom(agent.mid(agent.startsWith(u'!')).toUtf8());
            if (agent.startsWith(u'!'))
                AppleDoubleFile::put32(bytes, AppleDoubleFile().attrEntry(0), 0xfffffff0);
            tree.file(placed.section(u'=', 0, 0), bytes);
        }
        const QString path = item.endsWith(u'/') ? tree.folder(item) : tree.file(item);
        QCOMPARE(agentOf(SidecarReader::findFor(QFile::encodeName(path))), expected);
        // The same given relative to the folder that holds the archive, as after unzipping in place.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tree.path(u"X"_s)));
        const auto relative = SidecarReader::findFor(QFile::encodeName(item.mid(2)));
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(agentOf(relative), expected);
    }

private:
    TestTree m_tree;
};

QTEST_GUILESS_MAIN(TestSidecarReader)
#include "tst_sidecarreader.moc"
