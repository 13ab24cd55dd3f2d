#include "core/ProvenanceRegistry.h"
#include "crawl/CrawlQueue.h"
#include "crawl/Crawler.h"
#include "crawl/EntryXattrCalls.h"
#include "crawl/FolderDescriptors.h"
#include "crawl/TreeWalker.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QTimer>
#include <QtTest>

#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Strategy = EntryXattrCalls::Strategy;
using FolderRef = FolderDescriptors::FolderRef;

namespace {

const QByteArray kRegisteredID("\x0a\x0b\x0c");
const QByteArray kHeader("Filename,Provenance ID,Quarantine App,Path\n");

// A stopped or abandoned walk ends by itself; then whatever it posted is delivered.
void settle()
{
    crawlQueue()->waitForDone();
    QCoreApplication::sendPostedEvents();
}

// The walk's attribute calls, by name in the order seen; a call to a name in holdUntilAny waits
// until one of the names given for it is seen.
std::mutex callMutex;
std::condition_variable seenMore;
std::vector<std::string> seen;
std::map<std::string, std::vector<std::string>> holdUntilAny;

bool wasSeen(const std::string& name)
{
    return std::find(seen.begin(), seen.end(), name) != seen.end();
}

void onCall(const char* name)
{
    std::unique_lock lock(callMutex);
    if (wasSeen(name))
        return;
    seen.push_back(name);
    seenMore.notify_all();
    if (const auto hold = holdUntilAny.find(name); hold != holdUntilAny.end())
        seenMore.wait_for(lock, std::chrono::seconds(20),
                          [&] { return std::any_of(hold->second.begin(), hold->second.end(), wasSeen); });
}

} // namespace

// The walk, the crawl window's model and `quellmark-cli crawl`, on one tree with real attributes.
class TestCrawl : public QObject
{
    Q_OBJECT

    const Strategy m_detected = EntryXattrCalls::strategy(); // before any test chooses one
    TestTree m_tree;                                         // the fixture: see initTestCase
    // Its entries that carry something, by raw relative path: name, provenance ("R" for the
    // registered ID), quarantine (shown with the switch on), encoded relative path.
    QHash<QByteArray, QStringList> m_listed;
    TestTree m_small; // a second folder of three files
    TestTree m_apps;  // the one application discovery finds, and saved files
    QString m_app;

    // Makes an entry that is listed; `encoded` and `name` only where they differ from `relative`.
    QByteArray add(const QByteArray& relative, const QByteArray& provenance, const QString& quarantine = {},
                   const QString& encoded = {}, const QString& name = {})
    {
        const QString plain = QString::fromUtf8(relative);
        const QByteArray path =
            plain.endsWith(u'/') ? QFile::encodeName(m_tree.folder(plain)) : m_tree.rawFile(relative);
        if (!provenance.isEmpty())
            m_tree.setRawAttribute(path, "user.com.apple.provenance", provenance);
        if (quarantine == u"🔸 Browser"_s)
            m_tree.setRawAttribute(path, "user.com.apple.quarantine", "0083;65a1b2c3;Browser;1F2E3D4C");
        const QString shown =
            provenance.isEmpty() ? QString() : u"❓ 0x"_s + QString::fromLatin1(provenance.toHex());
        m_listed.insert(relative,
                        {name.isEmpty() ? plain.section(u'/', -1, -1, QString::SectionSkipEmpty) : name,
                         provenance == kRegisteredID ? u"R"_s : shown, quarantine,
                         encoded.isEmpty() ? plain : encoded});
        return path;
    }

    QList<QByteArray> walkOrder() const { return TestTree::walkOrder(m_tree.root()); }

    // The fields of each listed entry, in walk order.
    QList<QStringList> expected(bool showQuarantine, const QString& registeredApp) const
    {
        QList<QStringList> ordered;
        for (const QByteArray& relative : walkOrder()) {
            QStringList fields = m_listed.value(relative);
            if (fields.isEmpty())
                continue;
            if (fields[1] == "R"_L1)
                fields[1] = registeredApp.isEmpty() ? u"❓ 0x0a0b0c"_s : u"✅ "_s + registeredApp;
            if (!showQuarantine)
                fields[2].clear();
            fields[3] = m_tree.root() + u'/' + fields[3];
            if (!fields[1].isEmpty() || !fields[2].isEmpty())
                ordered.append(fields);
        }
        return ordered;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        const QByteArray unregistered("\x01\x02\x00\xaa", 4);
        add("with space.txt", unregistered, {}, u"with%20space.txt"_s);
        add("comma,quote\"percent%.txt", kRegisteredID, {}, u"comma,quote%22percent%25.txt"_s);
        add("line\nfeed.txt", unregistered, u"🔸 Browser"_s, u"line%0Afeed.txt"_s);
        add("bad\xff\xfename.txt", unregistered, {}, u"bad%FF%FEname.txt"_s, u"bad\uFFFD\uFFFDname.txt"_s);
        add(".hidden", unregistered);
        add("Some.app/Contents/MacOS/tool", unregistered);
        add("folder/", kRegisteredID);
        add("folder/inner.txt", {}, u"🔸 Browser"_s);
        m_tree.setRawAttribute(add("samba.txt", {}, u"🔸 Safari"_s),
                               "user.DosStream.com.apple.quarantine:$DATA",
                               QByteArray("0083;65a1b2c3;Safari;ABC\0", 25));
        const QByteArray many = add("many-names.txt", unregistered);
        for (int i = 0; i < 40; ++i) // more names than one kilobyte of list holds
            m_tree.setRawAttribute(many, "user.other.name-" + QByteArray(20, 'x') + char('A' + i), "x");
        // An AppleDouble file lends its values to its file, and is no row itself.
        m_tree.file(u"._lent.pdf"_s, AppleDoubleFile().add("com.apple.provenance", kRegisteredID).bytes());
        m_tree.file(u"lent.pdf"_s);
        m_listed.insert("lent.pdf", {u"lent.pdf"_s, u"R"_s, {}, u"lent.pdf"_s});
        m_tree.file(u"plain.txt"_s);
        m_tree.setProvenance(m_tree.file(u"empty-provenance.txt"_s), {});
        m_tree.symlink(m_tree.path(u"with space.txt"_s), u"link-to-file"_s);
        m_tree.symlink(m_tree.path(u"folder"_s), u"link-to-folder"_s);
        // Nested folders of long names: threads interleave, a CSV takes many chunks, a crawl lasts.
        QStringList made{u"bulk"_s};
        const QString longName = u"-with-a-name-long-enough-to-need-several-chunks.txt"_s;
        for (int i = 0; i < 150; ++i) {
            made.append(made.at((i * 7) % made.size()) + u"/d%1"_s.arg(i)); // below one made earlier
            for (int f = 0; f < 10; ++f)
                add((made.last() + u"/file-%1"_s.arg(f) + longName).toLatin1(), "\x05");
        }
        // More entries in one folder than the walk hands over at once by count.
        for (int i = 0; i < 1100; ++i)
            add(u"wide/w%1"_s.arg(i, 4, 10, QLatin1Char('0')).toLatin1(), "\x06");
        // Chains 300 folders deep side by side, each level with a file, a folder holding one and an empty
        // one: threads walk several chains at once, each taking up folders that lost their descriptors while
        // others are given back. Names differ from level to level, so order does too.
        for (int chain = 0; chain < 8; ++chain) {
            QString level = u"chains/c%1/"_s.arg(chain);
            for (int n = 0; n < 300; ++n, level += u"d/"_s) {
                add((level + u"f%1"_s.arg(n)).toLatin1(), "\x01");
                add((level + u"a%1/g"_s.arg(n)).toLatin1(), "\x01");
                m_tree.folder(level + u"z%1"_s.arg(n));
            }
        }
        // Past PATH_MAX: 22 levels of 200 characters.
        const QByteArray deep = m_tree.deepFile("deep", 22, QByteArray(200, 'd'), "bottom.txt", unregistered);
        m_listed.insert(deep, {u"bottom.txt"_s, u"❓ 0x010200aa"_s, {}, QString::fromLatin1(deep)});
        QCOMPARE(expected(true, {}).size(), m_listed.size()); // every one is made
        m_tree.openToOthers();

        for (const QString& name : {u"s0"_s, u"s1"_s, u"s2"_s})
            m_small.setProvenance(m_small.file(name), "\x01");

        m_app = m_apps.folder(u"Registered.app"_s);
        m_apps.setProvenance(m_app, kRegisteredID);
        qputenv("QUELLMARK_APP_ROOTS", QFile::encodeName(m_apps.root()));
    }

    void cleanup()
    {
        settle();
        provenanceApps().clear();
        EntryXattrCalls::setStrategy(m_detected);
    }

    // The walk, the window's list and saved CSV, and the tool's output, against one listing.
    void listing_data()
    {
        QTest::addColumn<Strategy>("strategy");
        QTest::addColumn<QStringList>("options");   // of the tool; the window follows the same two switches
        QTest::addColumn<QByteArrayList>("limits"); // the tool's command prefix
        const QString root = m_tree.root();
        const auto row = [](const char* tag, Strategy strategy, const QStringList& options,
                            const QByteArrayList& limits = {}) {
            QTest::newRow(tag) << strategy << options << limits;
        };
        row("at, 1 thread", Strategy::At, {u"--threads=1"_s, u"--apps"_s, root});
        row("at, 4 threads, slashes", Strategy::At, {u"--threads=4"_s, u"--quarantine"_s, root + u"///"_s});
        row("proc fd, 3 threads", Strategy::ProcFd, {u"--threads=3"_s, u"--quarantine"_s, u"--apps"_s, root});
        row("open fd, 2 threads", Strategy::OpenFd, {u"--threads=2"_s, root});
        // However few descriptors or threads the tool gets, it loses nothing. The process limit holds to
        // every process of the user: one that no other process has. (The sanitizer's leak check needs a
        // thread of its own, so it is off there.)
        QByteArrayList alone;
        if (::geteuid() == 0) {
            const QByteArray uid = QByteArray::number(65000 + ::getpid() % 500);
            alone = {"setpriv", "--reuid=" + uid, "--regid=" + uid, "--clear-groups", "--"};
        }
        alone += QByteArrayList{"env", "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
        row("64 descriptors, 1 thread", m_detected, {u"--threads=1"_s, root}, {"prlimit", "--nofile=64"});
        row("40 descriptors, 2 threads", m_detected, {u"--threads=2"_s, root}, {"prlimit", "--nofile=40"});
        row("64 descriptors, 8 threads", m_detected, {u"--threads=8"_s, root}, {"prlimit", "--nofile=64"});
        row("1024 descriptors, 2 threads", m_detected, {u"--threads=2"_s, root},
            {"prlimit", "--nofile=1024"});
        row("no thread can start", m_detected, {u"--threads=4"_s, root},
            QByteArrayList{"prlimit", "--nproc=1"} + alone);
        row("one thread can start", m_detected, {u"--threads=16"_s, root},
            QByteArrayList{"prlimit", "--nproc=2"} + alone);
        row("far too many threads", m_detected, {u"--threads=40000"_s, root});
    }

    void listing()
    {
        QFETCH(Strategy, strategy);
        QFETCH(QStringList, options);
        QFETCH(QByteArrayList, limits);
        const bool showQuarantine = options.contains(u"--quarantine"_s);
        const bool registered = options.contains(u"--apps"_s);
        if (strategy == Strategy::At && m_detected != Strategy::At)
            QSKIP("listxattrat arrived in Linux 6.13");
        EntryXattrCalls::setStrategy(strategy);
        const QString app = registered ? m_app : QString();
        if (registered)
            provenanceApps().set(u"0x0a0b0c"_s, app);
        Crawler model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        connect(&model, &Crawler::theCountChanged, this,
                [&](qint64 count) { QCOMPARE(count, model.rowCount()); });
        QSignalSpy finished(&model, &Crawler::crawlFinished);
        model.startCrawl(m_tree.root(), showQuarantine);
        QVERIFY(finished.wait(30000));
        QCOMPARE(model.status(), Crawler::Finished);
        QList<QStringList> shown;
        for (const Crawled& record : model.crawlList())
            shown.append(record.csvFields());
        QCOMPARE(shown, expected(showQuarantine, app));
        QCOMPARE(model.theCount(), shown.size());
        QVERIFY(model.entriesExamined() == walkOrder().size() && model.unreadableFolders() == 0);
        // Saved, the same as the tool writes it, in several chunks; fields quoted where they must be.
        const QString saved = m_apps.path(u"window.csv"_s);
        QCOMPARE(model.writeCSV(saved).status, CsvWriteResult::Written);
        const QByteArray window = ToolRun::contents(QFile::encodeName(saved));
        QVERIFY(window.size() > 64 * 1024 && window.startsWith(kHeader));
        QVERIFY(window.contains("\n\"comma,quote\"\"percent%.txt\",") &&
                window.contains(",\"" + m_tree.rawPath("comma,quote%22percent%25.txt\"\n")));
        QVERIFY(window.contains("\n\"line\nfeed.txt\","));
        QByteArrayList arguments = limits + QByteArrayList{ToolRun::built("quellmark-cli"), "crawl"};
        for (const QString& option : options)
            arguments << QFile::encodeName(option);
        const ToolRun::Outcome tool = ToolRun{"/usr/bin/env", arguments}.run();
        // As another user, only the note that reading changes access times.
        QVERIFY2(tool.status == 0 && tool.err.count('\n') == limits.contains("setpriv"),
                 tool.err.constData());
        QVERIFY(tool.out == window);
    }

    void replacedOrDestroyed_data()
    {
        QTest::addColumn<bool>("waitForFirstRows");
        QTest::addColumn<bool>("destroy"); // else a second crawl supersedes it
        QTest::newRow("superseded at once") << false << false;
        QTest::newRow("superseded after the first rows") << true << false;
        QTest::newRow("destroyed at once") << false << true;
        QTest::newRow("destroyed after the first rows") << true << true;
    }

    void replacedOrDestroyed()
    {
        // A walk outliving its model must neither touch it nor post to it (the sanitizer build
        // turns either into a failure).
        QFETCH(bool, waitForFirstRows);
        QFETCH(bool, destroy);
        auto model = std::make_unique<Crawler>();
        new QAbstractItemModelTester(model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     model.get());
        QSignalSpy finished(model.get(), &Crawler::crawlFinished);
        model->startCrawl(m_tree.root(), true);
        if (waitForFirstRows)
            QTRY_VERIFY(model->rowCount() > 0);
        const qsizetype endedBefore = finished.count(); // the first may have ended while waiting
        if (destroy)
            return model.reset(); // cleanup() waits for the walk
        model->startCrawl(m_small.root(), false);
        QCOMPARE(model->rowCount(), 0);
        QTRY_COMPARE(finished.count(), endedBefore + 1);
        settle();
        QCOMPARE(finished.count(), endedBefore + 1);
        for (const Crawled& record : model->crawlList())
            QVERIFY2(record.path().startsWith(m_small.root() + u'/'), qPrintable(record.path()));
        QCOMPARE(model->theCount(), 3);
    }

    // A thread with nothing to do takes up the waiting folder nearest the walk's front, not
    // the one left last, so the records examined ahead of the front wait as little as they can.
    // Scripted: the folders X and Y of the root, each with two subfolders of one file (in
    // walk order X1, X2 and Y1, Y2). One thread goes into X, the other takes up the root's
    // rest (Y); the first leaves X's rest waiting and is held at X1's file while the other
    // leaves Y's rest waiting after it and goes idle: it must take up X's rest first.
    void idleThreadsTakeUpTheFrontFirst()
    {
        TestTree tree;
        QVERIFY2(tree.isValid(), tree.problem());
        for (const QString& name : {u"x/x1/x1f"_s, u"x/x2/x2f"_s, u"y/y1/y1f"_s, u"y/y2/y2f"_s})
            tree.setProvenance(tree.file(name), "\x01");
        const QList<QByteArray> order = TestTree::walkOrder(tree.root());
        const auto first = [&order](const QByteArray& a, const QByteArray& b) {
            return order.indexOf(a) < order.indexOf(b) ? std::pair(a, b) : std::pair(b, a);
        };
        const auto [x, y] = first("x/", "y/");
        const auto [x1, x2] = first(x + x.at(0) + "1/", x + x.at(0) + "2/");
        const auto [y1, y2] = first(y + y.at(0) + "1/", y + y.at(0) + "2/");
        const auto fileOf = [](const QByteArray& folder) { return folder.mid(2, 2).toStdString() + 'f'; };

        seen.clear();
        holdUntilAny = {{x1.mid(2, 2).toStdString(), {y.first(1).toStdString()}},
                        {y1.mid(2, 2).toStdString(), {fileOf(x1)}},
                        {fileOf(x1), {fileOf(x2), fileOf(y2)}}};
        EntryXattrCalls::setCallHook(&onCall);
        TreeWalker::Options options;
        options.threads = 2;
        QStringList paths;
        TreeWalker(options).run(tree.root(), [&paths](std::vector<Crawled>& records) {
            for (const Crawled& record : records)
                paths.append(record.path());
        });
        EntryXattrCalls::setCallHook(nullptr);

        const auto seenAt = [](const QByteArray& folder) {
            return std::find(seen.begin(), seen.end(), folder.mid(2, 2).toStdString() + 'f') - seen.begin();
        };
        QVERIFY2(seenAt(x2) < seenAt(y2), QByteArray(x2 + " after " + y2));
        QStringList expected;
        for (const QByteArray& folder : {x1, x2, y1, y2})
            expected.append(tree.root() + u'/' + QString::fromLatin1(folder + folder.mid(2, 2) + 'f'));
        QCOMPARE(paths, expected);
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

    void quitAbandonsTheWalk()
    {
        Crawler model;
        QSignalSpy finished(&model, &Crawler::crawlFinished);
        QTimer::singleShot(0, qApp,
                           &QCoreApplication::quit); // queued before anything the walk posts
        model.startCrawl(m_tree.root(), false);
        QCoreApplication::exec();
        settle();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(finished.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCrawl)
#include "tst_crawl.moc"
