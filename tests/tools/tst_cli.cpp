#include "tests/support/TestTree.h"

#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <future>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
const QByteArray kLevel(200, 'd'); // 22 of them: far past PATH_MAX
const QByteArray kHeader("Filename,Provenance ID,Quarantine App,Path\n");

struct Outcome
{
    int status = -1; // the exit status, or minus the signal that ended the tool
    QByteArray out;
    QByteArray err;
};

// One run of a program with arguments as raw bytes, in a working folder of any depth.
struct Invocation
{
    QByteArray program;
    QByteArrayList arguments;
    QByteArray folder;             // entered one name at a time, from the test's working folder
    int output = -1;               // standard output instead of a pipe; -2: closed
    bool unprivileged = false;     // as nobody, when root
    long fileSizeLimit = -1;       // RLIMIT_FSIZE: past it, writes fail as on a full disk
    std::function<bool()> inChild; // more setup in the child, before the folder is entered
};

QByteArray drain(int fd)
{
    QByteArray bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

Outcome run(const Invocation& call)
{
    // Everything the child uses is made before fork: it only makes system calls.
    QByteArrayList storage{call.program};
    storage += call.arguments;
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QByteArrayList folders = call.folder.split('/');
    folders.removeAll(QByteArray());
    const bool fromRoot = call.folder.startsWith('/');
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (call.output == -2)
            ::close(STDOUT_FILENO);
        else
            ::dup2(call.output >= 0 ? call.output : out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (call.fileSizeLimit >= 0) {
            const rlimit limit{rlim_t(call.fileSizeLimit), rlim_t(call.fileSizeLimit)};
            ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (call.inChild && !call.inChild())
            ::_exit(124);
        if (fromRoot && ::chdir("/") != 0)
            ::_exit(125);
        for (const QByteArray& folder : folders) {
            if (::chdir(folder.constData()) != 0)
                ::_exit(125);
        }
        if (call.unprivileged && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
             ::setresuid(kNobody, kNobody, kNobody) != 0))
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    auto errors = std::async(std::launch::async, drain, err[0]);
    Outcome outcome;
    outcome.out = drain(out[0]);
    outcome.err = errors.get();
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return outcome;
}

QByteArray readFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? QByteArray("<none>") : drain(fd);
}

struct stat statOf(const QByteArray& path)
{
    struct stat st
    {};
    ::lstat(path.constData(), &st);
    return st;
}

} // namespace

// quellmark-cli under hostile conditions: outputs that are no regular file, arguments that are
// not UTF-8 or reach past PATH_MAX, items that cannot be read, application searches that fail.
class TestCli : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    QByteArray m_root, m_cli, m_deep;
    QByteArray m_crawled; // the CSV of crawling ROOT/folder
    QByteArray m_apps;    // the CSV of the application list

    QByteArray at(const QByteArray& relative) const { return m_root + '/' + relative; }

    Outcome cli(QByteArrayList arguments, const QByteArray& folder = {})
    {
        for (QByteArray& argument : arguments)
            argument.replace("ROOT", m_root);
        return run({m_cli, arguments, folder.isEmpty() ? m_root : at(folder)});
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        m_root = QFile::encodeName(m_tree.root());
        m_cli = QFile::encodeName(qEnvironmentVariable("QUELLMARK_BINARY_DIR")) + "/bin/quellmark-cli";
        m_tree.setProvenance(m_tree.file(QStringLiteral("folder/f")), "\x01");
        m_tree.setProvenance(m_tree.file(QStringLiteral("folder/inner/g")), "\x02");
        QCOMPARE(::mkdir(m_tree.rawPath("odd\xff").constData(), 0755), 0);
        m_tree.setRawAttribute(m_tree.rawFile("odd\xff/f"), "user.com.apple.provenance", "\x0a");
        // As nobody, one file of these cannot be examined.
        m_tree.setProvenance(m_tree.file(QStringLiteral("part/open")), "\x03");
        const QString locked = m_tree.file(QStringLiteral("part/locked"));
        m_tree.setProvenance(locked, "\x04");
        QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        m_tree.setProvenance(m_tree.folder(QStringLiteral("apps/Tool.app")), "\x01");
        qputenv("QUELLMARK_APP_ROOTS", at("apps"));
        // A working folder deeper than PATH_MAX, made one relative step at a time.
        m_deep = (kLevel + '/').repeated(22) + "end";
        const QString script =
            QStringLiteral("cd -P \"$0\" && for i in $(seq 22); do mkdir $1 && cd -P $1 || exit 1; "
                           "done && mkdir end && touch end/f29 && "
                           "setfattr -n user.com.apple.provenance -v 0x29 end/f29");
        QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), script, m_tree.root(),
                                                          QString::fromLatin1(kLevel)}),
                 0);
        m_crawled = cli({"crawl", "ROOT/folder"}).out;
        QCOMPARE(m_crawled, kHeader + "f,\xe2\x9d\x93 0x01,," + at("folder/f") + "\ng,\xe2\x9d\x93 0x02,," +
                                at("folder/inner/g") + '\n');
        m_apps = cli({"apps"}).out;
        QCOMPARE(m_apps, "Filepath,Provenance ID,Quarantine App\n" + at("apps/Tool.app") + ",0x01,no app\n");
        m_tree.openToOthers();
    }

    void cleanupTestCase()
    {
        // Whatever went wrong above, the system's devices must be what they were.
        QCOMPARE(statOf("/dev/null").st_rdev, makedev(1, 3));
        QCOMPARE(statOf("/dev/full").st_rdev, makedev(1, 7));
        QVERIFY(S_ISCHR(statOf("/dev/null").st_mode) && S_ISCHR(statOf("/dev/full").st_mode));
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_tree.root()});
    }

    void outputs_data()
    {
        QTest::addColumn<QByteArray>("command"); // the arguments before -o
        QTest::addColumn<QByteArray>("kind");
        for (const QByteArray command : {"apps", "crawl ROOT/folder"}) {
            for (const char* kind : {"new file", "file behind a link", "file on a full disk", "folder",
                                     "FIFO", "null device", "full device", "terminal", "socket", "-",
                                     "/dev/stdout, a pipe", "/dev/stdout, a file", "standard output closed"})
                QTest::addRow("%s, %s", command.constData(), kind) << command << QByteArray(kind);
        }
    }

    void outputs()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, kind);
        const QByteArray expected = command == "apps" ? m_apps : m_crawled;
        TestTree place;
        const QByteArray dir = QFile::encodeName(place.root());
        Invocation call{m_cli, command.replace("ROOT", m_root).split(' ') << "-o", m_root};
        QByteArray destination = dir + "/out.csv";
        std::future<QByteArray> received; // what a reader at the other end got
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        int terminal = -1;
        const auto closeTerminal = qScopeGuard([&terminal] { terminal < 0 || ::close(terminal); });
        int status = 0;
        QByteArray err, delivered;
        int device = -1; // the device number the destination must still have
        if (kind == "file behind a link" || kind == "file on a full disk") {
            QVERIFY(place.rawFile("target.csv", "earlier\n").size() > 0 &&
                    ::chmod((dir + "/target.csv").constData(), 0640) == 0);
            QVERIFY(::symlink("target.csv", destination.constData()) == 0);
            if (kind == "file on a full disk") {
                call.fileSizeLimit = 10;
                status = 1;
                err = "quellmark-cli: cannot write to " + destination + ": File too large\n";
            }
        } else if (kind == "folder") {
            destination = dir;
            status = 1;
            err = "quellmark-cli: cannot write to " + dir + ": Is a directory\n";
        } else if (kind == "FIFO") {
            QVERIFY(::mkfifo(destination.constData(), 0600) == 0);
            received = std::async(std::launch::async, [destination] { return readFile(destination); });
        } else if (kind.endsWith("device")) {
            // As root, a copy of the device node in the test's folder: a fault could only replace the copy.
            // Others cannot replace anything in /dev.
            device = kind == "full device" ? makedev(1, 7) : makedev(1, 3);
            destination = ::geteuid() != 0 ? QByteArray(kind == "full device" ? "/dev/full" : "/dev/null")
                                           : dir + "/device";
            if (::geteuid() == 0)
                QVERIFY(::mknod(destination.constData(), S_IFCHR | 0666, dev_t(device)) == 0);
            if (kind == "full device") {
                status = 1;
                err = "quellmark-cli: cannot write to " + destination + ": No space left on device\n";
            }
        } else if (kind == "terminal") {
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            destination = ::ptsname(master);
            terminal = master; // kept open to the end: the terminal goes away with it
            device = int(statOf(destination).st_rdev);
            received = std::async(std::launch::async, [master] {
                QByteArray bytes; // until the tool has closed the terminal and nothing is left
                char buffer[4096];
                pollfd ready{master, POLLIN, 0};
                while (::poll(&ready, 1, 5000) > 0 && (ready.revents & POLLIN)) {
                    const ssize_t n = ::read(master, buffer, sizeof buffer);
                    if (n <= 0)
                        break;
                    bytes.append(buffer, n);
                }
                return bytes.replace("\r\n", "\n"); // the terminal's own line ends
            });
        } else if (kind == "socket") {
            const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            destination = dir + "/socket";
            qstrncpy(address.sun_path, destination.constData(), sizeof address.sun_path);
            QVERIFY(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(server, 1) == 0);
            received = std::async(std::launch::async, [server] {
                const int connection = ::accept(server, nullptr, nullptr);
                ::close(server);
                return connection < 0 ? QByteArray("<no connection>") : drain(connection);
            });
        } else if (kind == "-" || kind == "/dev/stdout, a pipe") {
            destination = kind == "-" ? "-" : "/dev/stdout";
        } else if (kind == "standard output closed") {
            destination = "-";
            call.output = -2;
            status = 1;
            err = "quellmark-cli: cannot write to standard output: Bad file descriptor\n";
        } else if (kind == "/dev/stdout, a file") {
            destination = "/dev/stdout";
            call.output =
                ::open((dir + "/stdout.csv").constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        }
        const struct stat before = statOf(destination);
        call.arguments << destination;
        const Outcome outcome = run(call);
        if (call.output >= 0)
            ::close(call.output);
        QCOMPARE(outcome.err, err);
        QCOMPARE(outcome.status, status);
        // A reader still waiting means the tool never opened the destination: end the wait.
        if (received.valid() && received.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            const int end = kind == "FIFO"
                                ? ::open(destination.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)
                                : ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (kind == "socket")
                ::connect(end, reinterpret_cast<const sockaddr*>(&address), sizeof address);
            ::close(end);
        }
        if (received.valid())
            delivered = received.get();
        else if (kind.startsWith('-') || kind == "/dev/stdout, a pipe")
            delivered = outcome.out;
        else if (kind == "/dev/stdout, a file")
            delivered = readFile(dir + "/stdout.csv");
        else if (kind.endsWith("file") || kind.endsWith("link") || kind.endsWith("disk"))
            delivered = readFile(destination);
        if (!kind.endsWith("device") && kind != "folder" && kind != "standard output closed")
            QCOMPARE(delivered, status == 0 ? expected : QByteArray("earlier\n"));
        // Written into, never replaced: the same kind of file, and for a device the same device.
        const struct stat after = statOf(destination);
        QCOMPARE(after.st_mode & S_IFMT, (kind == "new file" ? S_IFREG : before.st_mode & S_IFMT));
        if (device >= 0)
            QCOMPARE(after.st_rdev, dev_t(device));
        if (kind.contains("link") || kind.contains("disk")) { // the link stays; the file keeps its mode
            QCOMPARE(statOf(dir + "/target.csv").st_mode & 07777, mode_t(0640));
            QCOMPARE(readFile(dir + "/target.csv"), delivered);
        }
        if (call.output < 0 && !kind.startsWith('-') && !kind.startsWith('/'))
            QCOMPARE(outcome.out, QByteArray());
        // Nothing half-written is left beside the destination.
        QVERIFY2(!QDir(place.root()).entryList(QDir::Hidden | QDir::Files).join(u' ').contains(u".quellmark"),
                 qPrintable(QDir(place.root()).entryList(QDir::Hidden | QDir::Files).join(u' ')));
    }

    void helpOntoFullDevice_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::newRow("overview") << QByteArrayList{"--help"};
        for (const char* command : {"apps", "crawl", "files"})
            QTest::addRow("%s", command) << QByteArrayList{command, "--help"};
    }

    void helpOntoFullDevice()
    {
        QFETCH(QByteArrayList, arguments);
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        QVERIFY(full >= 0);
        const Outcome outcome = run({m_cli, arguments, {}, full});
        ::close(full);
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.err,
                 QByteArray("quellmark-cli: cannot write to standard output: No space left on device\n"));
        // The same help to a pipe, with the exit statuses.
        const Outcome shown = run({m_cli, arguments});
        QCOMPARE(shown.status, 0);
        QVERIFY(
            shown.out.contains(arguments.size() == 1 ? "COMMAND --help" : "  3  written, but some items"));
    }

    void arguments_data()
    {
        QTest::addColumn<QByteArray>("folder"); // working folder below ROOT; DEEP: deeper than PATH_MAX
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out"); // ROOT and DEEP as above; "❓ " written as "? "
        QTest::addColumn<QByteArray>("err");
        const auto row = [](const char* tag, const QByteArray& folder, const QByteArrayList& arguments,
                            int status, const QByteArray& out, const QByteArray& err = {}) {
            QTest::newRow(tag) << folder << arguments << status << out << err;
        };
        row("files, a name that is not UTF-8", {}, {"files", "ROOT/odd\xff/f"}, 0,
            "f | ROOT/odd%FF/f | ? 0x0a | \n");
        row("crawl, a name that is not UTF-8", {}, {"crawl", "odd\xff"}, 0,
            kHeader + "f,? 0x0a,,ROOT/odd%FF/f\n");
        row("crawl ., its own path", "folder/inner", {"crawl", "."}, 0,
            kHeader + "g,? 0x02,,ROOT/folder/inner/g\n");
        row("crawl .., its own path", "folder/inner", {"crawl", "../inner/.."}, 0,
            kHeader + "f,? 0x01,,ROOT/folder/f\ng,? 0x02,,ROOT/folder/inner/g\n");
        row("files, folders end in /", "folder", {"files", ".", "inner", "../folder/inner/"}, 0,
            "folder | ROOT/folder/ |  | \ninner | ROOT/folder/inner/ |  | \ninner | ROOT/folder/inner/ |  | "
            "\n");
        row("files, deep working folder", "DEEP", {"files", "f29", "../end/./f29"}, 0,
            "f29 | ROOT/DEEP/f29 | ? 0x29 | \nf29 | ROOT/DEEP/f29 | ? 0x29 | \n");
        row("crawl ., deep working folder", "DEEP", {"crawl", "--threads=2", "."}, 0,
            kHeader + "f29,? 0x29,,ROOT/DEEP/f29\n");
        row("crawl, empty folder argument", {}, {"crawl", ""}, 2, {},
            "quellmark-cli: an empty argument is not a path\n");
        row("files, empty path", {}, {"files", "folder/f", ""}, 2, {},
            "quellmark-cli: an empty argument is not a path\n");
        row("apps, empty output", {}, {"apps", "--output="}, 2, {},
            "quellmark-cli: an empty argument is not a path\n");
        row("crawl, output named in bytes that are not UTF-8", {},
            {"crawl", "-o", "odd\xff/out\xfe.csv", "folder"}, 0, {});
    }

    void arguments()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        folder.replace("DEEP", m_deep);
        out.replace("DEEP", m_deep).replace("ROOT", m_root).replace("? ", "\xe2\x9d\x93 ");
        const Outcome outcome = cli(arguments, folder);
        QCOMPARE(outcome.out, out);
        QVERIFY2(err.isEmpty() ? outcome.err.isEmpty() : outcome.err.startsWith(err),
                 outcome.err.constData());
        QCOMPARE(outcome.status, status);
        if (arguments.contains("-o")) { // written under exactly that name
            QCOMPARE(readFile(at("odd\xff/out\xfe.csv")), m_crawled);
            QCOMPARE(::unlink(at("odd\xff/out\xfe.csv").constData()), 0);
        }
    }

    void mountPointAboveDeepFolder()
    {
        // Naming a folder past PATH_MAX climbs through its parents; at a mount point the parent lists the
        // folder the mount covers, not the mounted one.
        if (::geteuid() != 0)
            QSKIP("mounting needs root");
        Invocation call{m_cli, {"files", "f"}, m_root + '/' + m_deep + "/mnt/x"};
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
        const Outcome outcome = run(call);
        QCOMPARE(outcome.err, QByteArray());
        QCOMPARE(outcome.out, "f | " + at(mountPoint) + "/x/f |  | \n");
        QCOMPARE(outcome.status, 0);
    }

    void partialResults_data()
    {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("files, all examined")
            << QByteArrayList{"files", "ROOT/part/open"} << 0
            << QByteArray("open | ROOT/part/open | ? 0x03 | \n") << QByteArray();
        QTest::newRow("files, one locked, one missing")
            << QByteArrayList{"files", "ROOT/part/locked", "ROOT/part/open", "ROOT/part/missing"} << 3
            << QByteArray("locked | ROOT/part/locked |  | \nopen | ROOT/part/open | ? 0x03 | \n"
                          "missing | ROOT/part/missing |  | \n")
            << QByteArray("quellmark-cli: cannot examine ROOT/part/locked: Permission denied\n"
                          "quellmark-cli: cannot examine ROOT/part/missing: No such file or directory\n"
                          "quellmark-cli: 2 of 3 path(s) could not be examined\n");
        QTest::newRow("crawl, a locked file")
            << QByteArrayList{"crawl", "ROOT/part"} << 3 << kHeader + "open,? 0x03,,ROOT/part/open\n"
            << QByteArray("quellmark-cli: 1 entries could not be examined\n");
        QTest::newRow("crawl, all examined") << QByteArrayList{"crawl", "ROOT/folder/inner"} << 0
                                             << kHeader + "g,? 0x02,,ROOT/folder/inner/g\n"
                                             << QByteArray();
    }

    void partialResults()
    {
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        for (QByteArray* text : {&out, &err})
            text->replace("ROOT", m_root).replace("? ", "\xe2\x9d\x93 ");
        for (QByteArray& argument : arguments)
            argument.replace("ROOT", m_root);
        // As nobody: for root, permission bits stop nothing.
        Invocation call{m_cli, arguments};
        call.unprivileged = true;
        const Outcome outcome = run(call);
        QCOMPARE(outcome.out, out);
        QCOMPARE(outcome.err, err);
        QCOMPARE(outcome.status, status);
    }

    void failedSearch_data()
    {
        QTest::addColumn<QByteArray>("finder"); // the script beside the tool; empty: none
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out"); // APP: the application's path
        QTest::addColumn<QByteArray>("err"); // FINDER: the finder's path
        const QByteArray lists = "echo \"$QUELLMARK_APP_ROOTS/Tool.app\"\n";
        const QByteArray crawled = kHeader + "f,✅ APP,,ROOT/folder/f\ng,? 0x02,,ROOT/folder/inner/g\n";
        const QByteArray failed = "quellmark-cli: the application search failed: FINDER ";
        for (const char* command : {"apps", "crawl", "files"}) {
            QByteArrayList arguments{command};
            if (qstrcmp(command, "apps") != 0)
                arguments << "--apps" << (qstrcmp(command, "crawl") ? "ROOT/folder/f" : "ROOT/folder");
            // With the list loaded, a provenance value of an application shows the application.
            const QByteArray listed = qstrcmp(command, "apps") == 0
                                          ? "Filepath,Provenance ID,Quarantine App\n"
                                            "APP,0x01,no app\n"
                                      : qstrcmp(command, "crawl") == 0 ? crawled
                                                                       : "f | ROOT/folder/f | ✅ APP | \n";
            QTest::addRow("%s, no finder", command)
                << QByteArray() << arguments << 1 << QByteArray()
                << QByteArray("quellmark-cli: the application search failed: cannot run FINDER: ");
            QTest::addRow("%s, finder fails", command)
                << lists + "exit 4" << arguments << 1 << QByteArray() << failed + "exited with status 4\n";
            QTest::addRow("%s, finder killed", command) << lists + "kill -9 $$" << arguments << 1
                                                        << QByteArray() << failed + "was ended by a signal\n";
            QTest::addRow("%s, a result not UTF-8", command)
                << lists + "printf '/Applications/\\377.app\\n'" << arguments << 3 << listed
                << QByteArray("quellmark-cli: 1 result(s) of the application search could not be read (not "
                              "UTF-8) and were left out\n");
            QTest::addRow("%s, finder works", command) << lists << arguments << 0 << listed << QByteArray();
        }
    }

    void failedSearch()
    {
        QFETCH(QByteArray, finder);
        QFETCH(QByteArrayList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        // A copy of the tool, which runs the finder beside it.
        TestTree bin;
        const QString tool = bin.path(QStringLiteral("quellmark-cli"));
        QVERIFY(QFile::copy(QFile::decodeName(m_cli), tool));
        const QByteArray finderPath = QFile::encodeName(bin.path(QStringLiteral("quellmark-find-apps")));
        if (!finder.isEmpty()) {
            bin.rawFile("quellmark-find-apps", "#!/bin/sh\n" + finder + '\n');
            QCOMPARE(::chmod(finderPath.constData(), 0755), 0);
        }
        for (QByteArray& argument : arguments)
            argument.replace("ROOT", m_root);
        out.replace("APP", at("apps/Tool.app")).replace("ROOT", m_root).replace("? ", "\xe2\x9d\x93 ");
        err.replace("FINDER", finderPath);
        const Outcome outcome = run({QFile::encodeName(tool), arguments});
        QCOMPARE(outcome.out, out);
        QVERIFY2(outcome.err.startsWith(err), outcome.err.constData());
        QCOMPARE(outcome.status, status);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
