#include "core/AbsolutePath.h"
#include "tests/support/TestTree.h"

#include <QProcess>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// 22 levels of 200 characters: far past PATH_MAX.
const QByteArray kLevel(200, 'd');
constexpr int kDepth = 22;

// Changes into `relative` one segment at a time, so that depth is no limit.
bool enter(const QByteArray& relative)
{
    for (const QByteArray& segment : relative.split('/')) {
        if (!segment.isEmpty() && ::chdir(segment.constData()) != 0)
            return false;
    }
    return true;
}

// The absolute path of `argument` seen from `folder` (below the tree's root), or "error: " and why.
QByteArray absoluteFrom(const QByteArray& root, const QByteArray& folder, const QByteArray& argument)
{
    if (::chdir(root.constData()) != 0 || !enter(folder))
        return "cannot enter " + folder;
    const auto path = AbsolutePath::of(argument);
    return path ? *path : "error: " + path.error().description.toUtf8();
}

} // namespace

// The absolute form of path arguments: from any working folder, however deep.
class TestAbsolutePath : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    QByteArray m_root;
    int m_start = -1; // the folder the test started in

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        m_start = ::open(".", O_PATH | O_DIRECTORY);
        m_tree.folder(QStringLiteral("a/b/c"));
        m_tree.folder(QStringLiteral("gone"));
        m_tree.symlink(m_tree.path(QStringLiteral("a/b")), QStringLiteral("link"));
        // The kernel names no folder this deep; only relative steps reach it.
        m_root = QFile::encodeName(m_tree.root());
        QVERIFY(::chdir(m_root.constData()) == 0);
        for (int i = 0; i < kDepth; ++i)
            QVERIFY(::mkdir(kLevel.constData(), 0755) == 0 && ::chdir(kLevel.constData()) == 0);
        QVERIFY(::mkdir("m", 0711) == 0 && ::mkdir("m/n", 0755) == 0); // searchable, not listable
        QVERIFY(::fchdir(m_start) == 0);
        m_tree.openToOthers();
    }

    void cleanup() { QVERIFY(::fchdir(m_start) == 0); }

    void cleanupTestCase()
    {
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_tree.root()});
    }

    void forms_data()
    {
        QTest::addColumn<QByteArray>("folder");   // the working folder below the root; DEEP: the deep one
        QTest::addColumn<QByteArray>("argument"); // ROOT: the root's absolute path
        QTest::addColumn<QByteArray>("expected"); // ROOT and DEEP as above
        const auto row = [](const char* tag, const QByteArray& folder, const QByteArray& argument,
                            const QByteArray& expected) {
            QTest::newRow(tag) << folder << argument << expected;
        };
        const QByteArray noSuchFile = "error: No such file or directory";
        row("the working folder", {}, ".", "ROOT");
        row("dots and slashes dropped", {}, "./a/.//b/c/", "ROOT/a/b/c");
        row("up from the working folder", "a/b", "../../a", "ROOT/a");
        row("up through a link, as the kernel goes", {}, "link/..", "ROOT/a");
        row("after the last .., links kept as given", {}, "a/../link/c", "ROOT/link/c");
        row("absolute", "a", "//ROOT/./a/b/../", "ROOT/a");
        row("the root", {}, "/..//.", "/");
        row("a name that need not exist", "a", "missing", "ROOT/a/missing");
        row("up from a folder that does not exist", {}, "missing/../a", noSuchFile);
        row("empty", {}, {}, noSuchFile);
        row("deep working folder", "DEEP", "f", "DEEP/f");
        row("deep, up", "DEEP", "../.", "DEEP/..");
        row("deep, below a folder we may not list", "DEEP/m/n", ".", "DEEP/m/n");
    }

    void forms()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, argument);
        QFETCH(QByteArray, expected);
        const QByteArray deep = (kLevel + '/').repeated(kDepth).chopped(1);
        folder.replace("DEEP", deep);
        argument.replace("ROOT", m_root);
        expected.replace("DEEP/..", "ROOT/" + deep.left(deep.lastIndexOf('/')))
            .replace("DEEP", "ROOT/" + deep);
        expected.replace("ROOT", m_root);
        QCOMPARE(absoluteFrom(m_root, folder, argument), expected);
        // Another user gets the same, where the working folder allows.
        bool ok = false;
        const QByteArray unprivileged =
            TestTree::asUnprivileged([&] { return absoluteFrom(m_root, folder, argument); }, &ok);
        QVERIFY(ok);
        if (!folder.contains("m/n"))
            QCOMPARE(unprivileged, expected);
        else // the name of the deep folder "m" cannot be read where the kernel cannot name it
            QCOMPARE(unprivileged, QByteArray("error: Permission denied"));
    }

    void removedWorkingFolder()
    {
        QVERIFY(::chdir(QFile::encodeName(m_tree.path(QStringLiteral("gone"))).constData()) == 0);
        QVERIFY(::rmdir("../gone") == 0);
        QCOMPARE(AbsolutePath::of(".").error().code, ENOENT);
    }
};

QTEST_GUILESS_MAIN(TestAbsolutePath)
#include "tst_absolutepath.moc"
