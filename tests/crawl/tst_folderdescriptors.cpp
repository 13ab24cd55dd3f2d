#include "crawl/FolderDescriptors.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QtTest>

#include <cerrno>
#include <unistd.h>

using namespace Qt::StringLiterals;
using FolderRef = FolderDescriptors::FolderRef;

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

    // Past the budget the shallowest folder left for later gives its descriptor back, and no
    // other; one that someone has replaced meanwhile is not taken up again.
    void budgetAndReplacedFolder()
    {
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        tree.folder(u"a/b/c"_s);
        FolderDescriptors descriptors(2);
        const int rootFd = descriptors.openRoot(QFile::encodeName(tree.root()).toStdString());
        const FolderRef root = descriptors.adopt(nullptr, "root", rootFd);
        const FolderRef a = descriptors.adopt(root, "a", descriptors.openBelow(rootFd, "a"));
        const FolderRef b = descriptors.adopt(a, "b", descriptors.openBelow(a->fd, "b"));
        descriptors.suspend(*a);
        const FolderRef c = descriptors.adopt(b, "c", descriptors.openBelow(b->fd, "c"));
        descriptors.suspend(*b);
        QCOMPARE(QList<int>({descriptors.kept(), a->fd >= 0, b->fd >= 0}), QList<int>({2, 0, 1}));
        QVERIFY(QDir(tree.root()).rename(u"a"_s, u"a-old"_s));
        tree.folder(u"a/b"_s);
        descriptors.finish(*c);
        QCOMPARE(descriptors.resume(*a), -1);
        QCOMPARE(errno, ESTALE);
        descriptors.finish(*root);
    }
};

QTEST_GUILESS_MAIN(TestFolderDescriptors)
#include "tst_folderdescriptors.moc"
