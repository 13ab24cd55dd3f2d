#include "crawl/FolderDescriptors.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using FolderRef = FolderDescriptors::FolderRef;

namespace {

ino_t inodeOf(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

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
            const QByteArray top = m_wide.rawPath("c" + QByteArray::number(chain));
            QCOMPARE(::mkdir(top.constData(), 0755), 0);
            int fd = ::open(top.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            for (int level = 0; level < kLevels && fd >= 0; ++level) {
                const QByteArray n = QByteArray::number(level);
                // Names differ from level to level, so the entries' order does too.
                for (const QByteArray& name : {"a" + n, "z" + n, QByteArray("d")})
                    QCOMPARE(::mkdirat(fd, name.constData(), 0755), 0);
                for (const QByteArray& file : {"f" + n, "a" + n + "/g"}) {
                    const int made = ::openat(fd, file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
                    QVERIFY(made >= 0 && ::fsetxattr(made, "user.com.apple.provenance", "\x01", 1, 0) == 0);
                    ::close(made);
                }
                const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                ::close(fd);
                fd = next;
            }
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        m_wide.openToOthers();
        const ToolRun::Outcome whole = ToolRun{ToolRun::built("quellmark-cli"), {"crawl", QFile::encodeName(m_wide.root())}}.run();
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
        FolderDescriptors descriptors(budget);
        // Down the chain as the walk goes: each folder left for later when its subfolder opens.
        int fd = descriptors.openRoot(QFile::encodeName(tree.root()).toStdString());
        QVERIFY(fd >= 0);
        std::vector<FolderRef> chain{descriptors.adopt(nullptr, "root", fd)};
        std::vector<ino_t> inodes{inodeOf(fd)};
        for (int level = 1; level <= kDepth; ++level) {
            QCOMPARE(::mkdirat(fd, "d", 0755), 0);
            const int below = descriptors.openBelow(fd, "d");
            QVERIFY(below >= 0);
            descriptors.suspend(*chain.back());
            chain.push_back(descriptors.adopt(chain.back(), "d", below));
            inodes.push_back(inodeOf(below));
            fd = below;
            QVERIFY(descriptors.kept() <= budget + 1); // the one in use on top
        }
        // Back up: every folder is taken up again as itself.
        for (int level = kDepth; level > 0; --level) {
            descriptors.finish(*chain.back());
            chain.pop_back();
            const int resumed = descriptors.resume(*chain.back());
            QVERIFY2(resumed >= 0, std::strerror(errno));
            QCOMPARE(inodeOf(resumed), inodes.at(size_t(level - 1)));
            QVERIFY(descriptors.kept() <= budget + 1);
        }
        QVERIFY(descriptors.mostKept() <= budget + 1);
        QVERIFY(budget < kDepth || descriptors.mostKept() == kDepth);
        descriptors.finish(*chain.back());
    }

    void replacedFolderIsNotReopened()
    {
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        tree.folder(u"a/b"_s);
        FolderDescriptors descriptors(1);
        const int rootFd = descriptors.openRoot(QFile::encodeName(tree.root()).toStdString());
        const FolderRef root = descriptors.adopt(nullptr, "root", rootFd);
        const int aFd = descriptors.openBelow(rootFd, "a");
        descriptors.suspend(*root);
        const FolderRef a = descriptors.adopt(root, "a", aFd);
        const int bFd = descriptors.openBelow(aFd, "b");
        descriptors.suspend(*a);
        const FolderRef b = descriptors.adopt(a, "b", bFd);
        QCOMPARE(descriptors.kept(), 1); // a gave its descriptor back

        // While a waits, someone puts another folder in its place.
        QVERIFY(QDir(tree.root()).rename(u"a"_s, u"a-old"_s));
        tree.folder(u"a/b"_s);
        descriptors.finish(*b);
        QCOMPARE(descriptors.resume(*a), -1);
        QCOMPARE(errno, ESTALE);
        descriptors.finish(*root);
    }
};

QTEST_GUILESS_MAIN(TestFolderDescriptors)
#include "tst_folderdescriptors.moc"
