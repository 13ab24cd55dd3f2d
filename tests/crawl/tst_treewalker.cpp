#include "core/PathEncoding.h"
#include "crawl/EntryXattrCalls.h"
#include "crawl/TreeWalker.h"
#include "tests/crawl/CrawlFixture.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Walked
{
    TreeWalker::Result result;
    QList<Crawled> records;
    int batches = 0;

    QStringList rows() const
    {
        QStringList list;
        for (const Crawled& record : records)
            list.append(record.name() + QLatin1Char('|') + record.provenanceID() + QLatin1Char('|') +
                        record.quarantineApp() + QLatin1Char('|') + record.path());
        return list;
    }
};

Walked walk(const QString& folder, bool showQuarantine, int threads)
{
    TreeWalker::Options options;
    options.showQuarantine = showQuarantine;
    options.threads = threads;
    TreeWalker walker(options);
    Walked walked;
    walked.result = walker.run(folder, [&walked](std::vector<Crawled>& records) {
        ++walked.batches;
        for (Crawled& record : records)
            walked.records.append(std::move(record));
    });
    return walked;
}

// Many folders and files, every third file with provenance: enough for threads to interleave.
void makeBulk(TestTree& tree, int folders, int filesPerFolder)
{
    QStringList made{QString()};
    for (int i = 0; i < folders; ++i) {
        // Each folder below one made earlier, so the tree is both wide and deep.
        const QString parent = made.at((i * 7) % made.size());
        const QString folder =
            (parent.isEmpty() ? QString() : parent + QLatin1Char('/')) + QStringLiteral("dir%1").arg(i);
        tree.folder(folder);
        made.append(folder);
        for (int f = 0; f < filesPerFolder; ++f) {
            const QString file = tree.file(folder + QStringLiteral("/file%1").arg(f));
            if (f % 3 == 0)
                tree.setProvenance(file, QByteArray::number(i * 1000 + f));
        }
    }
}

bool kernelHasXattrAt()
{
    char buffer[256];
    return ::syscall(465, AT_FDCWD, "/", 0, buffer, sizeof buffer) >= 0 || errno == ERANGE;
}

} // namespace

class TestTreeWalker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void records_data();
    void records();
    void walkOrderWithThreads_data();
    void walkOrderWithThreads();
    void folderPathForms_data();
    void folderPathForms();
    void cancelStopsAtNextEntry_data();
    void cancelStopsAtNextEntry();
    void cancelledBeforeStart();
    void folderItselfUnreadable_data();
    void folderItselfUnreadable();
    void unreadableFolderAsNobody_data();
    void unreadableFolderAsNobody();
    void strategyFromKernel();

private:
    EntryXattrCalls::Strategy m_detected = EntryXattrCalls::Strategy::OpenFd;
};

void TestTreeWalker::initTestCase()
{
    // Before any test chooses one: what was detected from the kernel.
    m_detected = EntryXattrCalls::strategy();
}

void TestTreeWalker::init()
{
    EntryXattrCalls::setStrategy(kernelHasXattrAt() ? EntryXattrCalls::Strategy::At
                                                    : EntryXattrCalls::Strategy::ProcFd);
}

void TestTreeWalker::cleanup()
{
    CrawlFixture::setRegistered(false);
}

void TestTreeWalker::records_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("strategy");
    QTest::addColumn<bool>("showQuarantine");
    QTest::addColumn<bool>("registered");
    const int at = int(EntryXattrCalls::Strategy::At);
    const int procFd = int(EntryXattrCalls::Strategy::ProcFd);
    const int openFd = int(EntryXattrCalls::Strategy::OpenFd);
    QTest::newRow("1 thread, quarantine off") << 1 << at << false << true;
    QTest::newRow("1 thread, quarantine on") << 1 << at << true << true;
    QTest::newRow("2 threads, quarantine on") << 2 << at << true << true;
    QTest::newRow("4 threads, quarantine off") << 4 << at << false << true;
    QTest::newRow("nothing registered") << 2 << at << true << false;
    QTest::newRow("/proc/self/fd fallback, 1 thread") << 1 << procFd << true << true;
    QTest::newRow("/proc/self/fd fallback, 2 threads") << 2 << procFd << false << true;
    QTest::newRow("open-the-entry fallback") << 2 << openFd << true << true;
}

void TestTreeWalker::records()
{
    QFETCH(int, threads);
    QFETCH(int, strategy);
    QFETCH(bool, showQuarantine);
    QFETCH(bool, registered);
    if (strategy == int(EntryXattrCalls::Strategy::At) && !kernelHasXattrAt())
        QSKIP("this kernel has no listxattrat (Linux 6.13 and later)");
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const CrawlFixture fixture(tree);
    CrawlFixture::setRegistered(registered);
    EntryXattrCalls::setStrategy(EntryXattrCalls::Strategy(strategy));

    const Walked walked = walk(tree.root(), showQuarantine, threads);

    QCOMPARE(walked.rows(), fixture.expectedRows(showQuarantine, registered));
    QCOMPARE(walked.result.rootError, 0);
    QCOMPARE(walked.result.unreadableFolders, 0);
    QVERIFY(!walked.result.cancelled);
    QCOMPARE(walked.result.listed, qint64(walked.records.size()));
    QCOMPARE(walked.result.examined, fixture.examinableEntries());
    QSet<QUuid> ids;
    for (const Crawled& record : walked.records) {
        QVERIFY(!record.id().isNull());
        ids.insert(record.id());
    }
    QCOMPARE(ids.size(), walked.records.size());
}

void TestTreeWalker::walkOrderWithThreads_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("1") << 1;
    QTest::newRow("2") << 2;
    QTest::newRow("3") << 3;
    QTest::newRow("8") << 8;
}

void TestTreeWalker::walkOrderWithThreads()
{
    QFETCH(int, threads);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    makeBulk(tree, 120, 25);

    const Walked walked = walk(tree.root(), false, threads);

    // Every folder and every third file, in pre-order directory order.
    QStringList expected;
    for (const QByteArray& relative : CrawlFixture::walkOrder(QFile::encodeName(tree.root()))) {
        const bool file = relative.contains("/file");
        if (file && relative.mid(relative.lastIndexOf("/file") + 5).toInt() % 3 == 0)
            expected.append(tree.root() + QLatin1Char('/') + QString::fromLatin1(relative));
    }
    QStringList paths;
    for (const Crawled& record : walked.records)
        paths.append(record.path());
    QCOMPARE(paths.size(), 120 * 9);
    QCOMPARE(paths, expected);
    QCOMPARE(walked.result.examined, qint64(120 * 26));
}

void TestTreeWalker::folderPathForms_data()
{
    QTest::addColumn<QString>("form");
    QTest::newRow("trailing slash") << QStringLiteral("slash");
    QTest::newRow("relative") << QStringLiteral("relative");
}

void TestTreeWalker::folderPathForms()
{
    QFETCH(QString, form);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("sub/a b.txt")), "1");
    const QString expected = tree.root() + QStringLiteral("/sub/a%20b.txt");

    Walked walked;
    if (form == QLatin1String("slash")) {
        walked = walk(tree.root() + QStringLiteral("///"), false, 1);
    } else {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QFileInfo(tree.root()).path()));
        walked = walk(QFileInfo(tree.root()).fileName(), false, 2);
        QDir::setCurrent(previous);
    }
    QCOMPARE(walked.records.size(), 1);
    QCOMPARE(walked.records.first().path(), expected);
    QCOMPARE(walked.records.first().name(), QStringLiteral("a b.txt"));
}

void TestTreeWalker::cancelStopsAtNextEntry_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("1 thread") << 1;
    QTest::newRow("2 threads") << 2;
}

void TestTreeWalker::cancelStopsAtNextEntry()
{
    QFETCH(int, threads);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    makeBulk(tree, 60, 30);
    const qint64 total = CrawlFixture::walkOrder(QFile::encodeName(tree.root())).size();

    std::atomic<bool> cancel{false};
    TreeWalker::Options options;
    options.threads = threads;
    options.cancel = &cancel;
    TreeWalker walker(options);
    int batchesAfterCancel = 0;
    qint64 received = 0;
    qint64 examinedAtCancel = 0;
    const TreeWalker::Result result = walker.run(tree.root(), [&](std::vector<Crawled>& records) {
        if (cancel)
            ++batchesAfterCancel;
        received += qint64(records.size());
        examinedAtCancel = walker.progress().examined.load();
        cancel = true;
    });

    QVERIFY(result.cancelled);
    QCOMPARE(batchesAfterCancel, 0);
    QVERIFY(received > 0);
    QCOMPARE(result.listed, received);
    QVERIFY(result.examined <= total);
    if (threads == 1) {
        // The only thread emits: once the token is set, not one more entry is examined.
        QCOMPARE(result.examined, examinedAtCancel);
        QVERIFY(result.examined < total);
    }
}

void TestTreeWalker::cancelledBeforeStart()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("a")), "1");
    tree.setProvenance(tree.folder(QStringLiteral("b")), "1");
    std::atomic<bool> cancel{true};
    TreeWalker::Options options;
    options.cancel = &cancel;
    TreeWalker walker(options);
    int batches = 0;
    const TreeWalker::Result result = walker.run(tree.root(), [&](std::vector<Crawled>&) { ++batches; });
    QCOMPARE(batches, 0);
    QCOMPARE(result.examined, 0);
    QVERIFY(result.cancelled);
}

void TestTreeWalker::folderItselfUnreadable_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<int>("error");
    QTest::newRow("missing") << QStringLiteral("no-such-folder") << ENOENT;
    QTest::newRow("a file") << QStringLiteral("file.txt") << ENOTDIR;
}

void TestTreeWalker::folderItselfUnreadable()
{
    QFETCH(QString, relative);
    QFETCH(int, error);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("file.txt")), "1");
    const Walked walked = walk(tree.path(relative), true, 2);
    QCOMPARE(walked.result.rootError, error);
    QCOMPARE(walked.batches, 0);
    QCOMPARE(walked.result.examined, 0);
}

void TestTreeWalker::unreadableFolderAsNobody_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("1 thread") << 1;
    QTest::newRow("2 threads") << 2;
}

void TestTreeWalker::unreadableFolderAsNobody()
{
    QFETCH(int, threads);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.setProvenance(tree.file(QStringLiteral("open.txt")), "1");
    tree.setProvenance(tree.file(QStringLiteral("after/visible.txt")), "2");
    const QString locked = tree.folder(QStringLiteral("locked"));
    tree.setProvenance(tree.file(QStringLiteral("locked/secret.txt")), "3");
    tree.setProvenance(tree.file(QStringLiteral("locked/inner/deeper.txt")), "4");
    tree.openToOthers();
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0711) == 0);

    const QString root = tree.root();
    bool ok = false;
    const QByteArray output = TestTree::asUnprivileged(
        [root, threads] {
            const Walked walked = walk(root, false, threads);
            QStringList lines = walked.rows();
            lines.append(QStringLiteral("unreadable=%1").arg(walked.result.unreadableFolders));
            return lines.join(QLatin1Char('\n')).toUtf8();
        },
        &ok);
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    QVERIFY(ok);

    QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    QCOMPARE(lines.takeLast(), QStringLiteral("unreadable=1"));
    lines.sort();
    QCOMPARE(lines, QStringList({QStringLiteral("open.txt|❓ 0x31||") + root + QStringLiteral("/open.txt"),
                                 QStringLiteral("visible.txt|❓ 0x32||") + root +
                                     QStringLiteral("/after/visible.txt")}));

    // The same tree read with privileges lists the folder's contents: only permission hid them.
    const Walked privileged = walk(root, false, threads);
    QCOMPARE(privileged.records.size(), 4);
    QCOMPARE(privileged.result.unreadableFolders, 0);
}

void TestTreeWalker::strategyFromKernel()
{
    QCOMPARE(m_detected,
             kernelHasXattrAt() ? EntryXattrCalls::Strategy::At : EntryXattrCalls::Strategy::ProcFd);
}

QTEST_GUILESS_MAIN(TestTreeWalker)
#include "tst_treewalker.moc"
