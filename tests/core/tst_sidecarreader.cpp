#include "core/SidecarReader.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"

#include <QtEndian>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

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

// Finding and reading sidecars on real files.
class TestSidecarReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_tree.isValid(), m_tree.problem()); }

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
