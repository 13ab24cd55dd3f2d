#include "crawl/FolderDescriptors.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <cerrno>
#include <fcntl.h>
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

} // namespace

// Folders left for later keep their descriptors within the budget, and are reopened from an
// ancestor, as the same folder, when they lost theirs.
class TestFolderDescriptors : public QObject
{
    Q_OBJECT

private slots:
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
