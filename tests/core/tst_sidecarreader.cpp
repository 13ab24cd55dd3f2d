#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/SidecarAttributes.h"
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

// The item's own attributes for the evaluation: per attribute (provenance, then quarantine)
// 'Y' a value, 'E' empty, 'N' absent, 'U' present but unreadable, 'X' attributes not supported.
struct OwnAttributes
{
    QString answers;

    QChar answer(const std::vector<HostAttributeName>& forms) const
    {
        return answers.at(&forms == &provenanceForms() ? 0 : 1);
    }
    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms)
    {
        switch (answer(forms).unicode()) {
        case 'N':
            return posixError(ENODATA);
        case 'X':
            return posixError(ENOTSUP);
        default:
            return answer(forms) != u'E';
        }
    }
    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms)
    {
        switch (answer(forms).unicode()) {
        case 'Y':
            return &forms == &provenanceForms() ? QByteArray("\x0a") : QByteArray("0083;1;Own;2");
        case 'E':
            return QByteArray();
        case 'U':
            return posixError(EACCES);
        default:
            return posixError(ENODATA);
        }
    }
};

struct Stamps
{
    timespec atime, mtime, ctime;
};

Stamps stampsOf(const QByteArray& path)
{
    struct stat st;
    ::stat(path.constData(), &st);
    return {st.st_atim, st.st_mtim, st.st_ctim};
}

bool operator==(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

// Finding and reading sidecars on real files, and the evaluation that falls back on them.
class TestSidecarReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_tree.isValid(), m_tree.problem()); }

    void readAt_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("regular file") << "regular" << QByteArray("Safari");
        QTest::newRow("entry table past the first read") << "long table" << QByteArray("Safari");
        QTest::newRow("Finder Info past the limit") << "huge" << QByteArray("none");
        QTest::newRow("damaged") << "damaged" << QByteArray("none");
        QTest::newRow("empty file") << "empty" << QByteArray("none");
        QTest::newRow("symbolic link to a sidecar") << "link" << QByteArray("none");
        QTest::newRow("folder") << "folder" << QByteArray("none");
        QTest::newRow("FIFO, which would block") << "fifo" << QByteArray("none");
        QTest::newRow("missing") << "missing" << QByteArray("none");
    }

    void readAt()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, expected);
        const QByteArray name = "._" + kind.toUtf8();
        const QByteArray path = m_tree.rawPath(name);
        QByteArray bytes = sidecarFrom("Safari");
        if (kind == u"long table"_s) {
            // 6000 entries of another id come first, so the Finder Info entry lies beyond 64 KiB.
            const qsizetype shift = 6000 * 12;
            QByteArray table;
            for (int i = 0; i < 6000; ++i)
                table += QByteArray::fromHex("000000030000000000000000");
            bytes = sidecarWithTableShift(bytes, table, shift);
        } else if (kind == u"huge"_s) {
            bytes = sidecarFrom("Safari");
            bytes.resize(qsizetype(SidecarReader::kMaxExtent) + 4096);
            AppleDoubleFile::put16(bytes, AppleDoubleFile::kEntryCount, 1);
            AppleDoubleFile::put32(bytes, AppleDoubleFile::kFinderInfoEntry + 8,
                                   quint32(SidecarReader::kMaxExtent)); // ends 50 bytes past the limit
        } else if (kind == u"damaged"_s) {
            bytes.chop(1);
        } else if (kind == u"empty"_s) {
            bytes.clear();
        }
        if (kind == u"link"_s) {
            m_tree.rawFile("._target", bytes);
            QVERIFY(::symlink("._target", path.constData()) == 0);
        } else if (kind == u"folder"_s) {
            QVERIFY(::mkdir(path.constData(), 0755) == 0);
        } else if (kind == u"fifo"_s) {
            QVERIFY(::mkfifo(path.constData(), 0644) == 0);
        } else if (kind != u"missing"_s) {
            m_tree.rawFile(name, bytes);
        }
        QCOMPARE(agentOf(SidecarReader::readAt(AT_FDCWD, path.constData())), expected);
        const int folder = ::open(QFile::encodeName(m_tree.root()).constData(), O_RDONLY | O_DIRECTORY);
        QCOMPARE(agentOf(SidecarReader::readAt(folder, name.constData())), expected);
        ::close(folder);
    }

    void leavesEvidenceAlone()
    {
        const QByteArray bytes = sidecarFrom("Mail");
        const QByteArray path = m_tree.rawFile("._evidence", bytes);
        m_tree.openToOthers();
        // An access time older than the modification: a read through the page cache would move it.
        const timespec times[2] = {{1000, 0}, {UTIME_OMIT, UTIME_OMIT}};
        QVERIFY(::utimensat(AT_FDCWD, path.constData(), times, 0) == 0);
        const Stamps before = stampsOf(path);
        QCOMPARE(agentOf(SidecarReader::readAt(AT_FDCWD, path.constData())), QByteArray("Mail"));
        const Stamps after = stampsOf(path);
        QVERIFY(after.atime == before.atime && after.mtime == before.mtime && after.ctime == before.ctime);
        QFile file(QFile::decodeName(path));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == bytes);
        // Another user may not ask for no access time: the read goes on without it.
        bool ok = false;
        const QByteArray agent = TestTree::asUnprivileged(
            [&] { return agentOf(SidecarReader::readAt(AT_FDCWD, path.constData())); }, &ok);
        QVERIFY(ok);
        QCOMPARE(agent, QByteArray("Mail"));
    }

    void findFor_data()
    {
        // Files to make ("path=agent"; "!" before the agent: damaged), then the item, then the agent found.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("beside") << QStringList{u"X/._a.pdf=beside"_s} << u"X/a.pdf"_s << QByteArray("beside");
        QTest::newRow("archive unzipped in the folder")
            << QStringList{u"X/__MACOSX/._a.pdf=zip"_s} << u"X/a.pdf"_s << QByteArray("zip");
        QTest::newRow("archive two folders up") << QStringList{u"X/__MACOSX/Docs/Sub/._a.pdf=zip"_s}
                                                << u"X/Docs/Sub/a.pdf"_s << QByteArray("zip");
        QTest::newRow("a folder, named with its slash")
            << QStringList{u"X/__MACOSX/._Docs=zip"_s} << u"X/Docs/"_s << QByteArray("zip");
        QTest::newRow("nearest archive first")
            << QStringList{u"X/__MACOSX/Docs/._a.pdf=far"_s, u"X/Docs/__MACOSX/._a.pdf=near"_s}
            << u"X/Docs/a.pdf"_s << QByteArray("near");
        QTest::newRow("beside before an archive")
            << QStringList{u"X/__MACOSX/._a.pdf=zip"_s, u"X/._a.pdf=beside"_s} << u"X/a.pdf"_s
            << QByteArray("beside");
        QTest::newRow("damaged beside, passed over")
            << QStringList{u"X/__MACOSX/._a.pdf=zip"_s, u"X/._a.pdf=!beside"_s} << u"X/a.pdf"_s
            << QByteArray("zip");
        QTest::newRow("another file's sidecar")
            << QStringList{u"X/._b.pdf=beside"_s, u"X/__MACOSX/Other/._a.pdf=zip"_s} << u"X/a.pdf"_s
            << QByteArray("none");
        QTest::newRow("the root") << QStringList{} << u"/"_s << QByteArray("none");
    }

    void findFor()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, item);
        QFETCH(QByteArray, expected);
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        for (const QString& spec : files) {
            const QString agent = spec.section(u'=', 1);
            QByteArray bytes = sidecarFrom(agent.mid(agent.startsWith(u'!')).toUtf8());
            if (agent.startsWith(u'!'))
                AppleDoubleFile::put32(bytes, AppleDoubleFile().attrEntry(0), 0xfffffff0);
            tree.file(spec.section(u'=', 0, 0), bytes);
        }
        const QString path = item.startsWith(u'/') ? item : tree.path(item);
        if (!item.startsWith(u'/'))
            item.endsWith(u'/') ? void(tree.folder(item)) : void(tree.file(item));
        QCOMPARE(agentOf(SidecarReader::findFor(QFile::encodeName(path))), expected);
    }

    void walkCalls()
    {
        // As a walk finds them: the walked folder's archive folders once, each subfolder's
        // from its parent's, and each entry's sidecar relative to its open folder.
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        tree.file(u"X/__MACOSX/Docs/Sub/._a.pdf"_s, sidecarFrom("far"));
        tree.file(u"X/Docs/Sub/__MACOSX/._b.pdf"_s, sidecarFrom("near"));
        tree.file(u"X/Docs/Sub/._c.pdf"_s, sidecarFrom("beside"));
        const auto open = [&](const QString& folder) {
            return ::open(QFile::encodeName(tree.path(folder)).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        };
        std::vector<int> root = SidecarReader::openArchiveFolders(QFile::encodeName(tree.path(u"X"_s)));
        QCOMPARE(root.size(), size_t(1));
        std::vector<int> docs{SidecarReader::openArchiveSubfolder(root[0], "Docs")};
        const int subInDocs = SidecarReader::openArchiveSubfolder(docs[0], "Sub");
        QVERIFY(docs[0] >= 0 && subInDocs >= 0 && SidecarReader::openArchiveSubfolder(docs[0], "None") < 0);
        // Sub's own __MACOSX comes first, then the one above.
        std::vector<int> sub{open(u"X/Docs/Sub/__MACOSX"_s), subInDocs};
        const int folder = open(u"X/Docs/Sub"_s);
        QCOMPARE(agentOf(SidecarReader::findAt(folder, "a.pdf", sub, false)), QByteArray("far"));
        QCOMPARE(agentOf(SidecarReader::findAt(folder, "b.pdf", sub, false)), QByteArray("near"));
        QCOMPARE(agentOf(SidecarReader::findAt(folder, "c.pdf", sub, true)), QByteArray("beside"));
        QCOMPARE(agentOf(SidecarReader::findAt(folder, "c.pdf", sub, false)), QByteArray("none"));
        for (int fd : {root[0], docs[0], sub[0], sub[1], folder})
            ::close(fd);
    }

    void evaluation_data()
    {
        // Own answers, the sidecar's attributes ("-": no sidecar; "p" provenance, "q" quarantine,
        // upper case: empty) => the decorated values and how often the sidecar was loaded.
        QTest::addColumn<QString>("script");
        QTest::newRow("own values win") << "YY pq => ❓ 0x0a|🔸 Own|keep|0";
        QTest::newRow("no own values") << "NN pq => ❓ 0xfeed|🔸 Side|keep|1";
        QTest::newRow("one of each") << "YN pq => ❓ 0x0a|🔸 Side|keep|1";
        QTest::newRow("own values empty") << "EE pq => ❓ 0xfeed|🔸 Side|keep|1";
        QTest::newRow("no attributes on the file system") << "XX pq => ❓ 0xfeed|🔸 Side|keep|1";
        QTest::newRow("own value unreadable stays own") << "UN pq => |🔸 Side|keep|1";
        QTest::newRow("sidecar values empty") << "NN PQ => |||1";
        QTest::newRow("sidecar without quarantine") << "NN p => ❓ 0xfeed||keep|1";
        QTest::newRow("no sidecar") << "NN - => |||1";
    }

    void evaluation()
    {
        QFETCH(QString, script);
        const QString own = script.section(u' ', 0, 0), sidecar = script.section(u' ', 1, 1);
        AppleDoubleFile file;
        if (sidecar.contains(u'p') || sidecar.contains(u'P'))
            file.add("com.apple.provenance", sidecar.contains(u'p') ? QByteArray("\xfe\xed") : QByteArray());
        if (sidecar.contains(u'q') || sidecar.contains(u'Q'))
            file.add("com.apple.quarantine",
                     sidecar.contains(u'q') ? QByteArray("0083;1;Side;2") : QByteArray());
        int loads = 0;
        SidecarAttributes source(OwnAttributes{own}, [&]() -> std::optional<AppleDouble> {
            ++loads;
            if (sidecar == u"-"_s)
                return std::nullopt;
            return AppleDouble::parse(file.bytes(), quint64(file.bytes().size()));
        });
        DecoratedValues values;
        evaluateAttributes(source, values);
        QCOMPARE(own + u' ' + sidecar + u" => "_s + values.provenanceID + u'|' + values.quarantineApp + u'|' +
                     QLatin1String(values.keep ? "keep" : "") + u'|' + QString::number(loads),
                 script);
    }

private:
    // `bytes` with `table` inserted after the header's entries and every offset moved along.
    static QByteArray sidecarWithTableShift(const QByteArray& bytes, const QByteArray& table, qsizetype shift)
    {
        QByteArray shifted = bytes.left(50) + table + bytes.mid(50);
        AppleDoubleFile::put16(shifted, AppleDoubleFile::kEntryCount, quint16(2 + table.size() / 12));
        const auto move = [&](qsizetype at) {
            const quint32 old = qFromBigEndian<quint32>(shifted.constData() + at);
            AppleDoubleFile::put32(shifted, at, old + quint32(shift));
        };
        move(AppleDoubleFile::kFinderInfoEntry + 4);
        move(AppleDoubleFile::kFinderInfoEntry + 16);
        move(shift + AppleDoubleFile::kFirstAttr); // the value's offset
        return shifted;
    }

    TestTree m_tree;
};

QTEST_GUILESS_MAIN(TestSidecarReader)
#include "tst_sidecarreader.moc"
