#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// What arrives on `fd` until its writer is gone, or nothing came for five seconds (so that a
// writer that never comes cannot hold the test); then closes it. `pauseUs`: a slow reader.
QByteArray readWhileWritten(int fd, int pauseUs = 0)
{
    QByteArray bytes;
    char buffer[4096];
    pollfd ready{fd, POLLIN, 0};
    while (::poll(&ready, 1, 5000) > 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            bytes.append(buffer, n);
        else if (n == 0 || errno != EAGAIN)
            break;
        ::usleep(useconds_t(pauseUs));
    }
    ::close(fd);
    return bytes;
}

struct stat statOf(const QByteArray& path)
{
    struct stat st
    {};
    ::lstat(path.constData(), &st);
    return st;
}

} // namespace

// Where quellmark-cli writes: a file replaced whole or not at all, and everything that is no
// regular file (FIFOs, devices, terminals, sockets, standard output) written into, never replaced.
class TestCliOutputs : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    QByteArray m_root, m_cli;
    QByteArray m_crawled; // the CSV of crawling ROOT/folder: more than a pipe holds
    QByteArray m_apps;    // the CSV of the application list

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        m_root = QFile::encodeName(m_tree.root());
        m_cli = ToolRun::built("quellmark-cli");
        for (int i = 0; i < 800; ++i)
            m_tree.setProvenance(m_tree.file(QStringLiteral("folder/f%1-").arg(i) + QString(80, u'n')),
                                 "\x01");
        m_tree.setProvenance(m_tree.folder(QStringLiteral("apps/Tool.app")), "\x01");
        qputenv("QUELLMARK_APP_ROOTS", m_root + "/apps");
        const QByteArray list = m_tree.rawPath("list.csv");
        QCOMPARE(ToolRun({m_cli, {"crawl", "-o", list, m_root + "/folder"}}).run().status, 0);
        m_crawled = ToolRun::contents(list);
        QCOMPARE(m_crawled.count('\n'), 801);
        QVERIFY(m_crawled.contains(",\xe2\x9d\x93 0x01,," + m_root + "/folder/f799-nnnn"));
        m_apps = ToolRun{m_cli, {"apps"}}.run().out;
        QCOMPARE(m_apps, "Filepath,Provenance ID,Quarantine App\n" + m_root + "/apps/Tool.app,0x01,no app\n");
    }

    void outputs_data()
    {
        QTest::addColumn<QByteArray>("command"); // the arguments before -o
        QTest::addColumn<QByteArray>("kind");    // of destination
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("err"); // DEST: the destination
        const QByteArray crawl = "crawl ROOT/folder";
        for (const char* kind :
             {"new file", "file behind a link", "FIFO", "null device", "terminal", "socket", "-",
              "/dev/stdout, a pipe", "/dev/stdout, a file", "non-blocking pipe, slow reader"})
            QTest::addRow("crawl, %s", kind) << crawl << QByteArray(kind) << 0 << QByteArray();
        const QByteArray cannot = "quellmark-cli: cannot write to ";
        QTest::newRow("crawl, file on a full disk")
            << crawl << QByteArray("file on a full disk") << 1 << cannot + "DEST: File too large\n";
        QTest::newRow("crawl, folder")
            << crawl << QByteArray("folder") << 1 << cannot + "DEST: Is a directory\n";
        QTest::newRow("crawl, standard output closed") << crawl << QByteArray("standard output closed") << 1
                                                       << cannot + "standard output: Bad file descriptor\n";
        for (const QByteArray& command : {crawl, QByteArray("apps")})
            QTest::addRow("%s, full device", command.constData())
                << command << QByteArray("full device") << 1 << cannot + "DEST: No space left on device\n";
        QTest::newRow("apps, new file") << QByteArray("apps") << QByteArray("new file") << 0 << QByteArray();
    }

    void outputs()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, kind);
        QFETCH(int, status);
        QFETCH(QByteArray, err);
        const QByteArray expected = command == "apps" ? m_apps : m_crawled;
        TestTree place;
        const QByteArray dir = QFile::encodeName(place.root());
        ToolRun call{m_cli, command.replace("ROOT", m_root).split(' ') << "-o", m_root};
        QByteArray destination = dir + "/out.csv";
        std::future<QByteArray> received; // what a reader at the other end got
        int terminal = -1;
        const auto closeTerminal = qScopeGuard([&terminal] { terminal < 0 || ::close(terminal); });
        int device = -1; // the device number the destination must still have
        if (kind == "file behind a link" || kind == "file on a full disk") {
            QVERIFY(place.rawFile("target.csv", "earlier\n").size() > 0 &&
                    ::chmod((dir + "/target.csv").constData(), 0640) == 0);
            QVERIFY(::symlink("target.csv", destination.constData()) == 0);
            call.fileSizeLimit = kind == "file on a full disk" ? 10 : -1;
        } else if (kind == "folder") {
            destination = dir;
        } else if (kind == "FIFO") {
            QVERIFY(::mkfifo(destination.constData(), 0600) == 0);
            const int fifo = ::open(destination.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            received = std::async(std::launch::async, readWhileWritten, fifo, 0);
        } else if (kind.endsWith("device")) {
            // As root, a copy of the device node in the test's folder: a fault could only replace the copy.
            // Others cannot replace anything in /dev.
            device = kind == "full device" ? makedev(1, 7) : makedev(1, 3);
            destination = ::geteuid() != 0 ? QByteArray(kind == "full device" ? "/dev/full" : "/dev/null")
                                           : dir + "/device";
            if (::geteuid() == 0)
                QVERIFY(::mknod(destination.constData(), S_IFCHR | 0666, dev_t(device)) == 0);
        } else if (kind == "terminal") {
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            destination = ::ptsname(master);
            terminal = master; // kept open to the end: the terminal goes away with it
            device = int(statOf(destination).st_rdev);
            // Read meanwhile: the terminal holds less than the output.
            received = std::async(std::launch::async, readWhileWritten, ::dup(master), 0);
        } else if (kind == "socket") {
            const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            destination = dir + "/socket";
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, destination.constData(), sizeof address.sun_path);
            QVERIFY(::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(server, 1) == 0);
            received = std::async(std::launch::async, [server] {
                pollfd ready{server, POLLIN, 0};
                const int connection = ::poll(&ready, 1, 5000) > 0 ? ::accept(server, nullptr, nullptr) : -1;
                ::close(server);
                return connection < 0 ? QByteArray("<no connection>") : readWhileWritten(connection);
            });
        } else if (kind == "-" || kind == "standard output closed") {
            destination = "-";
            call.output = kind == "-" ? -1 : -2;
        } else if (kind.startsWith("/dev/stdout")) {
            destination = "/dev/stdout";
            if (kind.endsWith("file"))
                call.output =
                    ::open((dir + "/stdout.csv").constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        } else if (kind.startsWith("non-blocking pipe")) {
            // Left non-blocking by whoever started us: writes come back short or refused.
            int ends[2];
            QVERIFY(::pipe2(ends, O_CLOEXEC) == 0 && ::fcntl(ends[1], F_SETFL, O_NONBLOCK) == 0);
            destination = "-";
            call.output = ends[1];
            received = std::async(std::launch::async, readWhileWritten, ends[0], 3000);
        }
        const struct stat before = statOf(destination);
        call.arguments << destination;
        const ToolRun::Outcome outcome = call.run();
        QByteArray delivered = outcome.out;
        if (kind ==
            "/dev/stdout, a file") // read through the descriptor handed over: written into, not replaced
            delivered = ::lseek(call.output, 0, SEEK_SET) == 0 ? ToolRun::drain(::dup(call.output)) : "";
        if (call.output >= 0)
            ::close(call.output);
        err.replace("DEST", destination);
        QCOMPARE(outcome.err, err);
        QCOMPARE(outcome.status, status);
        if (received.valid())
            delivered = received.get();
        if (kind == "terminal") // with the terminal's own line ends
            delivered.replace("\r\n", "\n");
        else if (destination != "/dev/stdout" &&
                 (kind.endsWith("file") || kind.endsWith("link") || kind.endsWith("disk")))
            delivered = ToolRun::contents(destination);
        if (!kind.endsWith("device") && kind != "folder" && kind != "standard output closed")
            QCOMPARE(delivered, status == 0 ? expected : QByteArray("earlier\n"));
        // Written into, never replaced: the same kind of file, and for a device the same device.
        const struct stat after = statOf(destination);
        QCOMPARE(after.st_mode & S_IFMT, (kind == "new file" ? S_IFREG : before.st_mode & S_IFMT));
        if (device >= 0)
            QCOMPARE(after.st_rdev, dev_t(device));
        if (kind.contains("link") || kind.contains("disk")) { // the link stays; the file keeps its mode
            QCOMPARE(statOf(dir + "/target.csv").st_mode & 07777, mode_t(0640));
            QCOMPARE(ToolRun::contents(dir + "/target.csv"), delivered);
        }
        if (destination != "-" && destination != "/dev/stdout")
            QCOMPARE(outcome.out, QByteArray());
        // Nothing half-written is left beside the destination.
        const QString left = QDir(place.root()).entryList(QDir::Hidden | QDir::Files).join(u' ');
        QVERIFY2(!left.contains(u".quellmark"), qPrintable(left));
    }
};

QTEST_GUILESS_MAIN(TestCliOutputs)
#include "tst_clioutputs.moc"