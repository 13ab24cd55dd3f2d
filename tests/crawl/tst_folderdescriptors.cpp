#include "crawl/FolderDescriptors.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QtTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using FolderRef = FolderDescriptors::FolderRef;

namespace {

ino_t inodeOf(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// Down a chain of folders as the walk goes: each folder left for later when its subfolder opens.
struct Descent
{
    FolderDescriptors descriptors;
    int fd;
    std::vector<FolderRef> chain{descriptors.adopt(nullptr, "root", fd)};

    Descent(int budget, const QString& root)
        : descriptors(budget), fd(descriptors.openRoot(QFile::encodeName(root).toStdString()))
    {}
    // Opens `name` below the deepest folder and leaves that one for later; the new descriptor.
    int down(const char* name)
    {
        const int below = descriptors.openBelow(fd, name);
        descriptors.suspend(*chain.back());
        chain.push_back(descriptors.adopt(chain.back(), name, below));
        return fd = below;
    }
};

} // namespace

// Folders left for later keep their descriptors within the budget, and are reopened from an
// ancestor, as the same folder, when they lost theirs.
class TestFolderDescriptors : public QObject
{
    Q_OBJECT

    TestTree m_wide;
    QByteArray m_whole; // its crawl with no limits

private slots:
    // Chains 300 folders deep side by side, each level with a file, a folder holding one and
    // an empty one: threads walk several chains at once, each taking up folders that lost
    // their descriptors while others are given back.
    void initTestCase()
    {
        QVERIFY2(m_wide.isValid(), m_wide.problem());
        constexpr int kChains = 8, kLevels = 300;
        for (int chain = 0; chain < kChains; ++chain) {
            QString level = u"c%1/"_s.arg(chain);
            for (int n = 0; n < kLevels; ++n, level += u"d/"_s) {
                // Names differ from level to level, so the entries' order does too.
                m_wide.setProvenance(m_wide.file(level + u"f%1"_s.arg(n)), "\x01");
                m_wide.setProvenance(m_wide.file(level + u"a%1/g"_s.arg(n)), "\x01");
                m_wide.folder(level + u"z%1"_s.arg(n));
                m_wide.folder(level + u"d"_s);
            }
        }
        m_wide.openToOthers();
        const ToolRun::Outcome whole =
            ToolRun{ToolRun::built("quellmark-cli"), {"crawl", QFile::encodeName(m_wide.root())}}.run();
        QCOMPARE(whole.status, 0);
        QCOMPARE(whole.out.count('\n'), kChains * kLevels * 2 + 1);
        m_whole = whole.out;
    }

    // However few descriptors or threads the process gets, the output is the same.
    void limitsLoseNothing_data()
    {
        QTest::addColumn<QByteArrayList>("limits"); // a command prefix
        QTest::addColumn<int>("threads");
        QTest::newRow("64 descriptors, 1 thread") << QByteArrayList{"prlimit", "--nofile=64"} << 1;
        QTest::newRow("40 descriptors, 2 threads") << QByteArrayList{"prlimit", "--nofile=40"} << 2;
        QTest::newRow("64 descriptors, 8 threads") << QByteArrayList{"prlimit", "--nofile=64"} << 8;
        QTest::newRow("1024 descriptors, 2 threads") << QByteArrayList{"prlimit", "--nofile=1024"} << 2;
        // The process limit holds to every process of the user: one that no other process has.
        // (The sanitizer's leak check needs a thread of its own, so it is off here.)
        QByteArrayList alone;
        if (::geteuid() == 0) {
            const QByteArray uid = QByteArray::number(65000 + ::getpid() % 500);
            alone = {"setpriv", "--reuid=" + uid, "--regid=" + uid, "--clear-groups", "--"};
        }
        alone += QByteArrayList{"env", "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
        QTest::newRow("no thread can start") << QByteArrayList{"prlimit", "--nproc=1"} + alone << 4;
        QTest::newRow("one thread can start") << QByteArrayList{"prlimit", "--nproc=2"} + alone << 16;
        QTest::newRow("far too many threads") << QByteArrayList{} << 40000;
    }

    void limitsLoseNothing()
    {
        QFETCH(QByteArrayList, limits);
        QFETCH(int, threads);
        const QByteArrayList command = limits + QByteArrayList{ToolRun::built("quellmark-cli"), "crawl",
                                                               "--threads=" + QByteArray::number(threads),
                                                               QFile::encodeName(m_wide.root())};
        const ToolRun::Outcome outcome = ToolRun{"/usr/bin/env", command}.run();
        // Only the note that another user changes access times by reading.
        QVERIFY2(outcome.status == 0 && outcome.err.count('\n') <= 1 && !outcome.err.contains("could not"),
                 outcome.err.constData());
        QVERIFY(outcome.out == m_whole);
    }

    void deepChainWithinBudget_data()
    {
        QTest::addColumn<int>("budget");
        QTest::newRow("1") << 1;
        QTest::newRow("5") << 5;
        QTest::newRow("plenty") << 1000;
    }

    void deepChainWithinBudget()
    {
        QFETCH(int, budget);
        constexpr int kDepth = 60;
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        Descent walk(budget, tree.root());
        std::vector<ino_t> inodes{inodeOf(walk.fd)};
        for (int level = 1; level <= kDepth; ++level) {
            QCOMPARE(::mkdirat(walk.fd, "d", 0755), 0);
            QVERIFY(walk.down("d") >= 0);
            inodes.push_back(inodeOf(walk.fd));
            QVERIFY(walk.descriptors.kept() <= budget + 1); // the one in use on top
        }
        // Back up: every folder is taken up again as itself.
        for (int level = kDepth; level > 0; --level) {
            walk.descriptors.finish(*walk.chain.back());
            walk.chain.pop_back();
            const int resumed = walk.descriptors.resume(*walk.chain.back());
            QVERIFY2(resumed >= 0, std::strerror(errno));
            QCOMPARE(inodeOf(resumed), inodes.at(size_t(level - 1)));
            QVERIFY(walk.descriptors.kept() <= budget + 1);
        }
        QVERIFY(walk.descriptors.mostKept() <= budget + 1);
        QVERIFY(budget < kDepth || walk.descriptors.mostKept() == kDepth);
        walk.descriptors.finish(*walk.chain.back());
    }

    void replacedFolderIsNotReopened()
    {
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        tree.folder(u"a/b"_s);
        Descent walk(1, tree.root());
        QVERIFY(walk.down("a") >= 0 && walk.down("b") >= 0);
        QCOMPARE(walk.descriptors.kept(), 1); // a gave its descriptor back
        // While a waits, someone puts another folder in its place.
        QVERIFY(QDir(tree.root()).rename(u"a"_s, u"a-old"_s));
        tree.folder(u"a/b"_s);
        walk.descriptors.finish(*walk.chain.at(2));
        QCOMPARE(walk.descriptors.resume(*walk.chain.at(1)), -1);
        QCOMPARE(errno, ESTALE);
        walk.descriptors.finish(*walk.chain.at(0));
    }
};

QTEST_GUILESS_MAIN(TestFolderDescriptors)
#include "tst_folderdescriptors.moc"
