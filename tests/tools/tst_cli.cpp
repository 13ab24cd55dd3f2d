#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kLevel(200, 'd');
const QByteArray kHeader("Filename,Provenance ID,Quarantine App,Path\n");
const QByteArray
    kAccessTimes("quellmark-cli: access times of the evidence may have changed: files and folders "
                 "this user does not own cannot be read without updating them (O_NOATIME is refused)\n");

// Output as expected: all of it when `expected` is empty or ends in a line feed, else a part of it.
void compareText(const QByteArray& shown, const QByteArray& expected)
{
    if (expected.isEmpty() || expected.endsWith('\n'))
        QCOMPARE(shown, expected);
    else
        QVERIFY2(shown.contains(expected), shown.constData());
}

} // namespace

// quellmark-cli under hostile conditions: arguments that are not UTF-8 or reach past PATH_MAX,
// items that cannot be read, application searches that fail.
class TestCli : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    QByteArray m_root, m_cli, m_deep;
    QProcess m_fuse; // another file system at ROOT/fs/d/mnt

    QByteArray at(const QByteArray& relative) const { return m_root + '/' + relative; }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        m_root = QFile::encodeName(m_tree.root());
        m_cli = ToolRun::built("quellmark-cli");
        m_tree.setProvenance(m_tree.file(QStringLiteral("folder/f")), "\x01");
        m_tree.setProvenance(m_tree.file(QStringLiteral("folder/inner/g")), "\x02");
        QCOMPARE(::mkdir(m_tree.rawPath("odd\xff").constData(), 0755), 0);
        m_tree.setRawAttribute(m_tree.rawFile("odd\xff/f"), "user.com.apple.provenance", "\x0a");
        // As nobody, one file of these cannot be examined.
        m_tree.setProvenance(m_tree.file(QStringLiteral("part/open")), "\x03");
        const QString locked = m_tree.file(QStringLiteral("part/locked"));
        m_tree.setProvenance(locked, "\x04");
        QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        // Alone in their folders, so that each walk's order is known.
        const QString lockedAlone = m_tree.file(QStringLiteral("fail/one/locked"));
        m_tree.setProvenance(lockedAlone, "\x05");
        QCOMPARE(::chmod(QFile::encodeName(lockedAlone).constData(), 0), 0);
        const QString shut = m_tree.folder(QStringLiteral("fail/two/d/shut"));
        m_tree.setProvenance(m_tree.file(QStringLiteral("fail/two/d/shut/in")), "\x06");
        m_tree.setProvenance(m_tree.folder(QStringLiteral("fail/two/d")), "\x06");
        QCOMPARE(::chmod(QFile::encodeName(shut).constData(), 0700), 0);
        // For the filters: one value each, quarantined 2024-01-12T21:44:35Z and 2023-09-12T09:46:08Z.
        m_tree.setRawAttribute(QFile::encodeName(m_tree.file(QStringLiteral("filter/url"))),
                               "user.com.apple.metadata:kMDItemWhereFroms", "bplist00");
        m_tree.setQuarantine(m_tree.file(QStringLiteral("filter/safari")), "0083;65a1b2c3;Safari;E1");
        m_tree.setQuarantine(m_tree.file(QStringLiteral("filter/chrome")), "0081;65003380;Google Chrome;E2");
        m_tree.setProvenance(m_tree.file(QStringLiteral("filter/skip/s")), "\x07");
        m_tree.setProvenance(m_tree.folder(QStringLiteral("apps/Tool.app")), "\x01");
        qputenv("QUELLMARK_APP_ROOTS", at("apps"));
        // A working folder deeper than PATH_MAX.
        m_deep = m_tree.deepFile("deep", 22, kLevel, "f29", "\x29").chopped(4);
        // Deep down, a folder others may search but not list, and one to remove while in it.
        QCOMPARE(ToolRun({"/bin/sh", {"-c", "mkdir -m 711 m && mkdir m/n"}, at(m_deep)}).run().status, 0);
        m_tree.symlink(m_tree.path(QStringLiteral("folder/inner")), QStringLiteral("link"));
        m_tree.folder(QStringLiteral("gone"));
        m_tree.symlink(m_tree.path(QStringLiteral("nothing")), QStringLiteral("dangling"));
        m_tree.openToOthers();
        m_tree.setProvenance(m_tree.folder(QStringLiteral("fs/d")), "\x01");
        const QString mount = m_tree.folder(QStringLiteral("fs/d/mnt"));
        m_fuse.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_fuse.start(QStringLiteral(BLOCKING_FS_PATH), {m_tree.file(QStringLiteral("fs.log")), mount});
        QVERIFY(m_fuse.waitForStarted()); // else still Starting, however soon it mounts
        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(mount + QStringLiteral("/blocked")) ||
                                      m_fuse.state() == QProcess::NotRunning,
                                  "the FUSE file system did not come up", 10000);
        QVERIFY2(m_fuse.state() == QProcess::Running, "the FUSE file system could not be mounted");
    }

    void cleanupTestCase()
    {
        m_fuse.terminate(); // unmounts
        if (!m_fuse.waitForFinished(5000))
            m_fuse.kill();
        ::umount2(at("fs/d/mnt").constData(), MNT_DETACH);
    }

    void arguments_data()
    {
        // The working folder below ROOT (DEEP: deeper than PATH_MAX), or how the tool runs (see below).
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out"); // ROOT and DEEP as above; APP: ROOT/apps/Tool.app; "? ": "❓ "
        QTest::addColumn<QByteArray>("err"); // FINDER: the path of the finder beside the tool
        const auto row = [](const char* tag, const QByteArray& folder, const QByteArrayList& arguments,
                            int status, const QByteArray& out, const QByteArray& err = {}) {
            QTest::newRow(tag) << folder << arguments << status << out << err;
        };
        row("files, a name that is not UTF-8", {}, {"files", "ROOT/odd\xff/f"}, 0,
            "f | ROOT/odd%FF/f | ? 0x0a | \n");
        row("crawl, a name that is not UTF-8", {}, {"crawl", "odd\xff"}, 0,
            kHeader + "f,? 0x0a,,ROOT/odd%FF/f\n");
        row("crawl .., its own path", "folder/inner", {"crawl", "../inner/.."}, 0,
            kHeader + "f,? 0x01,,ROOT/folder/f\ng,? 0x02,,ROOT/folder/inner/g\n");
        row("files, folders end in /", "folder", {"files", ".", ".//inner/./", "../folder/inner/"}, 0,
            "folder | ROOT/folder/ |  | \ninner | ROOT/folder/inner/ |  | \ninner | ROOT/folder/inner/ |  | "
            "\n");
        row("files, deep working folder", "DEEP", {"files", "f29", "../" + kLevel + "/./f29"}, 0,
            "f29 | ROOT/DEEP/f29 | ? 0x29 | \nf29 | ROOT/DEEP/f29 | ? 0x29 | \n");
        const QByteArray one = "quellmark-cli: 1 of 1 path(s) could not be examined\n";
        // Up through a link as the kernel goes; after the last "..", links kept as given.
        row("files, links and dots", {},
            {"files", "link/..", "folder/../link/g", "//ROOT/./folder/inner/../", "/..//."}, 0,
            "folder | ROOT/folder/ |  | \ng | ROOT/link/g | ? 0x02 | \nfolder | ROOT/folder/ |  | "
            "\n/ | / |  | \n");
        row("files, a name that need not exist, up from one", "folder",
            {"files", "missing", "missing/../inner"}, 3,
            "missing | ROOT/folder/missing |  | \ninner | missing/../inner |  | \n",
            "quellmark-cli: cannot examine missing: No such file or directory\n"
            "quellmark-cli: cannot examine missing/../inner: No such file or directory\n"
            "quellmark-cli: 2 of 2 path(s) could not be examined\n");
        row("files, deep below a folder others may not list", "DEEP/m/n", {"files", "."}, 0,
            "n | ROOT/DEEP/m/n/ |  | \n");
        row("files as nobody, deep below a folder it may not list", "NOBODY:DEEP/m/n", {"files", "."}, 3,
            ". | ./ |  | \n", "quellmark-cli: cannot examine .: Permission denied\n" + one);
        row("files, the working folder removed", "GONE", {"files", "."}, 3, ". | ./ |  | \n",
            "quellmark-cli: cannot examine .: No such file or directory\n" + one);
        const QByteArray tooLong(5000, 'n'), cannot = "quellmark-cli: cannot examine ";
        row("files, paths that lead nowhere", {}, {"files", "folder/f/x", "dangling", tooLong}, 3,
            "x | ROOT/folder/f/x |  | \ndangling | ROOT/dangling |  | \n" + tooLong + " | ROOT/" + tooLong +
                " |  | \n",
            cannot + "folder/f/x: Not a directory\n" + cannot + "dangling: No such file or directory\n" +
                cannot + tooLong +
                ": File name too long\nquellmark-cli: 3 of 3 path(s) could not be examined\n");
        row("crawl ., deep working folder", "DEEP", {"crawl", "--threads=2", "."}, 0,
            kHeader + "f29,? 0x29,,ROOT/DEEP/f29\n");
        row("crawl, empty folder argument", {}, {"crawl", ""}, 2, {},
            "quellmark-cli: an empty argument is not a path\nTry 'quellmark-cli crawl --help'.\n");
        row("apps, empty output", {}, {"apps", "--output="}, 2, {},
            "quellmark-cli: an empty argument is not a path\nTry 'quellmark-cli apps --help'.\n");
        row("crawl, a usage error points to its help", {}, {"crawl", "--threads=0", "folder"}, 2, {},
            "quellmark-cli: --threads needs a positive number\nTry 'quellmark-cli crawl --help'.\n");
        row("apps, an argument too many", {}, {"apps", "extra"}, 2, {},
            "quellmark-cli: unexpected argument 'extra'\nTry 'quellmark-cli apps --help'.\n");
        row("apps, an unknown option points to its help", {}, {"apps", "--bogus"}, 2, {},
            "quellmark-cli: Unknown option 'bogus'.\nTry 'quellmark-cli apps --help'.\n");
        row("files, no path: the usage names every option", {}, {"files"}, 2, {},
            "Usage: quellmark-cli files [--apps] [--no-sidecars] [--image IMAGE [--volume NAME|NUMBER] "
            "[--password-file FILE]] [--format text|jsonl|timeline|bodyfile] [--mac-root DIR] PATH...\n"
            "Try 'quellmark-cli files --help'.\n");
        const QByteArray full = "quellmark-cli: cannot write to standard output: No space left on device\n";
        row("help onto a full device", "FULL", {"--help"}, 1, {}, full);
        row("a command's help onto a full device", "FULL", {"crawl", "--help"}, 1, {}, full);
        row("help to a pipe, names the commands' help", {}, {"--help"}, 0, "COMMAND --help");
        row("a command's help to a pipe, with the exit statuses", {}, {"files", "--help"}, 0,
            "  3  written, but some items");
        row("crawl, filters: none", {}, {"crawl", "filter"}, 0, kHeader + "s,? 0x07,,ROOT/filter/skip/s\n");
        row("crawl, filters: excluded folder not entered", {},
            {"crawl", "--exclude=x", "--exclude", "sk*", "filter"}, 0, kHeader);
        row("crawl, filters: an excluded file", {}, {"crawl", "--exclude", "[rs]", "filter"}, 0, kHeader);
        row("crawl, filters: max depth 1", {}, {"crawl", "--max-depth", "1", "filter"}, 0, kHeader);
        row("crawl, filters: max depth 2", {}, {"crawl", "--max-depth=2", "filter"}, 0,
            kHeader + "s,? 0x07,,ROOT/filter/skip/s\n");
        row("crawl, filters: a download URL alone", {}, {"crawl", "--where-froms", "--max-depth=1", "filter"},
            0, kHeader + "url,,,ROOT/filter/url\n");
        row("crawl, filters: agent, any case", {}, {"crawl", "--quarantine", "--agent", "sAFAr", "filter"}, 0,
            kHeader + "safari,,🔸 Safari,ROOT/filter/safari\n");
        row("crawl, filters: since a day", {}, {"crawl", "--quarantine", "--since", "2024-01-12", "filter"},
            0, kHeader + "safari,,🔸 Safari,ROOT/filter/safari\n");
        row("crawl, filters: until a day, to its end", {},
            {"crawl", "--quarantine", "--until", "2023-09-12", "filter"}, 0,
            kHeader + "chrome,,🔸 Google Chrome,ROOT/filter/chrome\n");
        row("crawl, filters: since and until the same second", {},
            {"crawl", "--quarantine", "--since=2024-01-12T21:44:35Z", "--until=2024-01-12T21:44:35Z",
             "filter"},
            0, kHeader + "safari,,🔸 Safari,ROOT/filter/safari\n");
        row("crawl, filters: until the millisecond before", {},
            {"crawl", "--quarantine", "--until=2024-01-12T21:44:34.999Z", "filter"}, 0,
            kHeader + "chrome,,🔸 Google Chrome,ROOT/filter/chrome\n");
        row("crawl, filters: since an offset time", {},
            {"crawl", "--quarantine", "--since=2024-01-12T22:44:36+01:00", "--agent=a", "filter"}, 0,
            kHeader);
        row("crawl, filters: in JSON Lines too", {},
            {"crawl", "--quarantine", "--agent", "nobody", "--format", "jsonl", "filter"}, 0, {});
        row("crawl, filters: a bad date", {}, {"crawl", "--since", "yesterday", "filter"}, 2, {},
            "quellmark-cli: --since needs an ISO 8601 date or date-time");
        row("crawl, filters: depth 0", {}, {"crawl", "--max-depth=0", "filter"}, 2, {},
            "quellmark-cli: --max-depth needs a positive number\nTry 'quellmark-cli crawl --help'.\n");
        row("crawl, another file system entered", {}, {"crawl", "fs"}, 0,
            kHeader +
                "d,? 0x01,,ROOT/fs/d/\nmnt,? 0x01,,ROOT/fs/d/mnt/\nblocked,? 0x01,,ROOT/fs/d/mnt/blocked\n"
                "blocked.csv,? 0x01,,ROOT/fs/d/mnt/blocked.csv\n");
        row("crawl, --one-file-system: its mount point listed, not entered", {},
            {"crawl", "--one-file-system", "fs"}, 0,
            kHeader + "d,? 0x01,,ROOT/fs/d/\nmnt,? 0x01,,ROOT/fs/d/mnt/\n");
        row("crawl, several folders, one header", {}, {"crawl", "folder/inner", "filter", "odd\xff"}, 0,
            kHeader +
                "g,? 0x02,,ROOT/folder/inner/g\ns,? 0x07,,ROOT/filter/skip/s\nf,? 0x0a,,ROOT/odd%FF/f\n");
        row("crawl, the one folder missing: nothing written", {}, {"crawl", "missing"}, 1, {},
            "quellmark-cli: cannot read missing: No such file or directory\n");
        row("crawl, several folders, one missing", {}, {"crawl", "missing", "folder/inner"}, 1,
            kHeader + "g,? 0x02,,ROOT/folder/inner/g\n",
            "quellmark-cli: cannot read missing: No such file or directory\n");
        row("crawl, output named in bytes that are not UTF-8", {},
            {"crawl", "-o", "odd\xff/out\xfe.csv", "folder"}, 0,
            kHeader + "f,? 0x01,,ROOT/folder/f\ng,? 0x02,,ROOT/folder/inner/g\n");
        // As nobody: for root, permission bits stop nothing.
        row("files as nobody, all examined", "NOBODY", {"files", "ROOT/part/open"}, 0,
            "open | ROOT/part/open | ? 0x03 | \n");
        row("files as nobody, one locked, one missing", "NOBODY",
            {"files", "ROOT/part/locked", "ROOT/part/open", "ROOT/part/missing"}, 3,
            "locked | ROOT/part/locked |  | \nopen | ROOT/part/open | ? 0x03 | \n"
            "missing | ROOT/part/missing |  | \n",
            "quellmark-cli: cannot examine ROOT/part/locked: Permission denied\n"
            "quellmark-cli: cannot examine ROOT/part/missing: No such file or directory\n"
            "quellmark-cli: 2 of 3 path(s) could not be examined\n");
        row("crawl as nobody, a locked file", "NOBODY", {"crawl", "ROOT/part"}, 3,
            kHeader + "open,? 0x03,,ROOT/part/open\n",
            "quellmark-cli: cannot read ROOT/part/locked: Permission denied\n"
            "quellmark-cli: 1 entries could not be examined\n" +
                kAccessTimes);
        const QByteArray failed("quellmark-cli: cannot read ROOT/fail/one/locked: Permission denied\n"
                                "quellmark-cli: cannot read ROOT/fail/two/d/shut/: Permission denied\n"
                                "quellmark-cli: 1 folder(s) could not be read and were passed over\n"
                                "quellmark-cli: 1 entries could not be examined\n");
        row("crawl as nobody, a locked file and a locked folder, each named", "NOBODY",
            {"crawl", "ROOT/fail/one", "ROOT/fail/two"}, 3, kHeader + "d,? 0x06,,ROOT/fail/two/d/\n",
            failed + kAccessTimes);
        // JSON lines shown as their paths, and errors: each where its row would be.
        row("crawl jsonl as nobody, error lines in walk order", "NOBODY",
            {"crawl", "--format=jsonl", "ROOT/fail/one", "ROOT/fail/two"}, 3,
            "ROOT/fail/one/locked: Permission denied\nROOT/fail/two/d/\n"
            "ROOT/fail/two/d/shut/: Permission denied\n",
            failed + kAccessTimes);
        row("crawl as nobody, all examined", "NOBODY", {"crawl", "ROOT/folder/inner"}, 0,
            kHeader + "g,? 0x02,,ROOT/folder/inner/g\n", kAccessTimes);

        // The application search: the tool runs the finder beside it, a script given as FINDER:SCRIPT.
        // With the list loaded, a provenance value of an application shows the application.
        const QByteArray lists = "FINDER:echo \"$QUELLMARK_APP_ROOTS/Tool.app\"\n";
        const QByteArray searchFailed = "quellmark-cli: the application search failed: FINDER ";
        const QList<std::pair<QByteArrayList, QByteArray>> commands{
            {{"apps"}, "Filepath,Provenance ID,Quarantine App\nAPP,0x01,no app\n"},
            {{"crawl", "--apps", "ROOT/folder"},
             kHeader + "f,✅ APP,,ROOT/folder/f\ng,? 0x02,,ROOT/folder/inner/g\n"},
            {{"files", "--apps", "ROOT/folder/f"}, "f | ROOT/folder/f | ✅ APP | \n"}};
        for (const auto& [arguments, listed] : commands) {
            const auto search = [&](const char* what, const QByteArray& finder, int status,
                                    const QByteArray& out, const QByteArray& err) {
                QTest::addRow("%s, %s", arguments.first().constData(), what)
                    << finder << arguments << status << out << err;
            };
            search("no finder", "FINDER", 1, {},
                   "quellmark-cli: the application search failed: cannot run FINDER: ");
            search("finder fails", lists + "exit 4", 1, {}, searchFailed + "exited with status 4\n");
            search("finder killed", lists + "kill -9 $$", 1, {}, searchFailed + "was ended by a signal\n");
            search(
                "a result not UTF-8", lists + "printf '/Applications/\\377.app\\n'", 3, listed,
                "quellmark-cli: 1 result(s) of the application search could not be read (not UTF-8) and were "
                "left out\n");
            search("finder works", lists, 0, listed, {});
        }
    }

    void arguments()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        // FINDER[:SCRIPT] runs a copy of the tool beside the finder SCRIPT, or beside none.
        TestTree bin;
        QByteArray tool = m_cli;
        if (folder.startsWith("FINDER")) {
            tool = bin.rawPath("quellmark-cli");
            const QByteArray finder = bin.rawPath("quellmark-find-apps");
            QVERIFY(QFile::copy(QFile::decodeName(m_cli), QFile::decodeName(tool)));
            if (folder.size() > 6)
                QVERIFY(!bin.rawFile("quellmark-find-apps", "#!/bin/sh\n" + folder.mid(7) + '\n').isEmpty() &&
                        ::chmod(finder.constData(), 0755) == 0);
            err.replace("FINDER", finder);
            folder.clear();
        }
        folder.replace("DEEP", m_deep);
        for (QByteArray* text : {&out, &err})
            text->replace("DEEP", m_deep)
                .replace("APP", at("apps/Tool.app"))
                .replace("ROOT", m_root)
                .replace("? ", "\xe2\x9d\x93 ");
        for (QByteArray& argument : arguments)
            argument.replace("ROOT", m_root);
        // NOBODY[:FOLDER] runs as nobody; GONE in a folder removed before the run; FULL onto /dev/full.
        const bool nobody = folder.startsWith("NOBODY"), full = folder == "FULL";
        ToolRun call{tool, arguments,
                     folder == "GONE" ? QByteArray() : at(full ? "" : folder.mid(nobody ? 7 : 0))};
        call.unprivileged = nobody;
        if (full)
            call.output = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        const QByteArray gone = at("gone");
        if (folder == "GONE")
            call.inChild = [&gone] {
                return ::chdir(gone.constData()) == 0 && ::rmdir(gone.constData()) == 0;
            };
        ToolRun::Outcome outcome = call.run();
        if (arguments.contains("-o")) { // written under exactly that name
            outcome.out += ToolRun::contents(at("odd\xff/out\xfe.csv"));
            QCOMPARE(::unlink(at("odd\xff/out\xfe.csv").constData()), 0);
        }
        if (full)
            ::close(call.output);
        if (arguments.contains("--format=jsonl")) {
            QByteArray shown;
            for (const QByteArray& line : outcome.out.split('\n')) {
                const QJsonObject object = QJsonDocument::fromJson(line).object();
                if (!object.isEmpty())
                    shown +=
                        object.value(u"path").toString().toUtf8() +
                        (object.contains(u"error") ? ": " + object.value(u"error").toString().toUtf8() : "") +
                        '\n';
            }
            outcome.out = shown;
        }
        compareText(outcome.out, out);
        compareText(outcome.err, err);
        QCOMPARE(outcome.status, status);
    }

    void mountPointAboveDeepFolder()
    {
        // Naming a folder past PATH_MAX climbs through its parents; at a mount point the parent lists the
        // folder the mount covers, not the mounted one.
        if (::geteuid() != 0)
            QSKIP("mounting needs root");
        ToolRun call{m_cli, {"files", "f"}, m_root + '/' + m_deep + "/mnt/x"};
        const QByteArray mountPoint = m_deep + "/mnt";
        const QByteArrayList names = m_deep.split('/'); // split here: the child only makes system calls
        const char* root = m_root.constData();
        call.inChild = [&names, root] {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || ::chdir(root) != 0)
                return false;
            // Reached one name at a time, then mounted relative to there.
            for (const QByteArray& name : names) {
                if (::chdir(name.constData()) != 0)
                    return false;
            }
            if (::mkdir("mnt", 0755) != 0 || ::mount("none", "mnt", "tmpfs", 0, nullptr) != 0 ||
                ::mkdir("mnt/x", 0755) != 0)
                return false;
            const int file = ::open("mnt/x/f", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            return file >= 0 && ::close(file) == 0 && ::chdir("/") == 0;
        };
        const ToolRun::Outcome outcome = call.run();
        QCOMPARE(outcome.err, QByteArray());
        QCOMPARE(outcome.out, "f | " + at(mountPoint) + "/x/f |  | \n");
        QCOMPARE(outcome.status, 0);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
