#include "core/PathEncoding.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Port 0: binds a port nobody listens on now and returns it. Otherwise: whether a connection
// to that port is accepted (the port, or 0).
quint16 loopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    socklen_t length = sizeof address;
    const bool ok = port ? ::connect(fd, raw, length) == 0
                         : ::bind(fd, raw, length) == 0 && ::getsockname(fd, raw, &length) == 0;
    ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

// The live (not yet reaped) processes of process group `group`.
QList<pid_t> groupMembers(pid_t group)
{
    QList<pid_t> members;
    for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(u"/proc/"_s + pid + u"/stat"_s);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid pgrp ...": the name may hold anything, so count from its end.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 1).trimmed().split(' ');
        if (fields.size() > 2 && fields.at(0) != "Z" && fields.at(2).toInt() == group)
            members << pid.toInt();
    }
    return members;
}

} // namespace

// What Quellmark shows for a Mac's attributes under each name Linux keeps them by: set
// directly, and written by a real smbd on 127.0.0.1 serving a temporary folder, with
// smbclient storing them as a Mac client does (named streams).
class TestSambaShares : public QObject
{
    Q_OBJECT

    TestTree m_tree;
    QString m_smbd, m_smbclient;
    QProcess m_server;
    quint16 m_port = 0;

    QString config() const { return m_tree.path(u"smb.conf"_s); }

    bool start(const QStringList& shareOptions)
    {
        for (const QString& folder : {u"share"_s, u"state"_s, u"lock"_s, u"cache"_s, u"private"_s, u"pid"_s,
                                      u"ncalrpc"_s, u"log"_s}) {
            QDir(m_tree.path(folder)).removeRecursively();
            m_tree.folder(folder);
        }
        m_port = loopback(0);
        const passwd* user = ::getpwuid(::geteuid());
        QString text =
            u"[global]\n"
            "server role = standalone server\nworkgroup = WORKGROUP\nnetbios name = QUELLMARKTEST\n"
            "interfaces = 127.0.0.1\nbind interfaces only = yes\nsmb ports = %1\ndisable netbios = yes\n"
            "map to guest = Bad User\nguest account = %2\nload printers = no\nprintcap name = /dev/null\n"
            "disable spoolss = yes\npassdb backend = tdbsam:ROOT/private/passdb.tdb\n"
            "state directory = ROOT/state\nlock directory = ROOT/lock\ncache directory = ROOT/cache\n"
            "private dir = ROOT/private\nbinddns dir = ROOT/private\npid directory = ROOT/pid\n"
            "ncalrpc dir = ROOT/ncalrpc\nlog file = ROOT/log/smbd.log\n"
            "[share]\npath = ROOT/share\nread only = no\nguest ok = yes\n"_s.arg(m_port)
                .arg(QString::fromLocal8Bit(user ? user->pw_name : "nobody"));
        text = text.replace(u"ROOT"_s, m_tree.root()) + shareOptions.join(u'\n') + u'\n';
        QFile file(config());
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) != text.toUtf8().size())
            return false;
        file.close();
        // Its own session: smbd signals its whole process group when it stops.
        m_server.setChildProcessModifier([] { ::setsid(); });
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(m_smbd, {u"--foreground"_s, u"--no-process-group"_s, u"--debug-stdout"_s,
                                u"--configfile"_s, config()});
        if (!m_server.waitForStarted())
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!loopback(m_port)) {
            if (m_server.state() != QProcess::Running || clock.elapsed() > 30000)
                return false;
            m_server.waitForReadyRead(100); // smbd's output, or a tenth of a second
        }
        return true;
    }

    // Stops the server and whatever it started: the process group of its own session.
    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        const pid_t group = pid_t(m_server.processId());
        ::kill(-group, SIGKILL);
        m_server.waitForFinished(10000);
        QTRY_VERIFY_WITH_TIMEOUT(groupMembers(group).isEmpty(), 10000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem());
        const QStringList sbin{u"/usr/sbin"_s, u"/usr/local/sbin"_s, u"/sbin"_s};
        m_smbd = QStandardPaths::findExecutable(u"smbd"_s);
        if (m_smbd.isEmpty())
            m_smbd = QStandardPaths::findExecutable(u"smbd"_s, sbin);
        m_smbclient = QStandardPaths::findExecutable(u"smbclient"_s);
        QVERIFY2(!m_smbd.isEmpty() && !m_smbclient.isEmpty(),
                 "smbd and smbclient are needed: install the Debian packages samba and smbclient");
        // What a Mac writes: an 11-byte provenance whose key ends in 00, a quarantine text, nothing.
        m_tree.file(u"local/p.bin"_s, QByteArray::fromHex("010200aabbccddeeff1100"));
        m_tree.file(u"local/q.bin"_s, "0083;65a1b2c3;Safari;1F2E3D4C");
        m_tree.file(u"local/empty.bin"_s);
        m_tree.file(u"local/report.txt"_s, "report\n");
    }

    void cleanup() { stop(); }

    void cleanupTestCase() { stop(); }

    void attributes_data()
    {
        QTest::addColumn<QByteArrayList>("attributes"); // name, value, name, value...
        QTest::addColumn<QByteArray>("shown");          // provenance | quarantine; "? " for "❓ "
        const QByteArray P = "user.com.apple.provenance", Q = "user.com.apple.quarantine";
        const QByteArray TP = "user.DosStream.com.apple.provenance",
                         TQ = "user.DosStream.com.apple.quarantine";
        const QByteArray SP = TP + ":$DATA"; // Samba's forms, with and without the type
        QByteArray longValue;                // every byte value, upper-case hex digits included
        for (int i = 0; i < 3000; ++i)
            longValue += char(i * 7 + 3);
        // Bytes as Samba 4.17 and netatalk store what a Mac writes: the value and one NUL.
        const QByteArray provenance00 = QByteArray::fromHex("010200aabbccddeeff1100"); // the key ends in 00
        QTest::newRow("11 bytes, empty fields")
            << QByteArrayList{P, QByteArray::fromHex("00112233445566778899ff"), Q,
                              ";0083;;65a1b2c3;;Browser;1F"}
            << QByteArray("? 0x00112233445566778899ff | 🔸 Browser");
        QTest::newRow("3000 bytes, two fields") << QByteArrayList{P, longValue, Q, "0083;65a1b2c3;"}
                                                << "? 0x" + longValue.toHex() + " | 🔸 unknown";
        // A 12-byte provenance loses its last byte only where that is a NUL after the 11-byte form.
        QTest::newRow("12 bytes of another kind, multi-byte agent")
            << QByteArrayList{P, QByteArray::fromHex("010300aabbccddeeff110000"), Q,
                              "0083;1;Navigateur \xc3\xa9\xf0\x9f\xa6\x8a"}
            << QByteArray("? 0x010300aabbccddeeff110000 | 🔸 Navigateur é🦊");
        QTest::newRow("13 bytes ending in 00 00, invalid UTF-8")
            << QByteArrayList{P, provenance00 + QByteArray(2, '\0'), Q, "0083;1;Browser;\xff"}
            << QByteArray("? 0x010200aabbccddeeff11000000 | 🔸 unknown");
        QTest::newRow("12 bytes not ending in 00, quarantine ends at its first NUL")
            << QByteArrayList{P, provenance00 + '\x01', Q, QByteArray("0083;1;Saf\0ari;x", 17)}
            << QByteArray("? 0x010200aabbccddeeff110001 | 🔸 Saf");
        QTest::newRow("look-alike names")
            << QByteArrayList{P + "x", "1", Q.chopped(1), "1", SP.chopped(7), "1", TQ + ":$DAT", "1"}
            << QByteArray(" | ");
        QTest::newRow("with type before without, an empty value")
            << QByteArrayList{TP, "\x05", SP, QByteArray("\x04\0", 2), Q, ""} << QByteArray("? 0x04 | ");
    }

    void attributes()
    {
        // Each item read directly and through a link to a link to it.
        QFETCH(QByteArrayList, attributes);
        QFETCH(QByteArray, shown);
        TestTree tree;
        const QByteArray item = tree.rawFile("f");
        for (qsizetype i = 0; i + 1 < attributes.size(); i += 2)
            tree.setRawAttribute(item, attributes.at(i), attributes.at(i + 1));
        tree.symlink(tree.symlink(QFile::decodeName(item), u"l1"_s), u"l2"_s);
        const ToolRun::Outcome outcome =
            ToolRun{ToolRun::built("quellmark-cli"), {"files", "f", "l2"}, QFile::encodeName(tree.root())}
                .run();
        shown.replace("? ", "\xe2\x9d\x93 ");
        QCOMPARE(outcome.out,
                 "f | " + item + " | " + shown + "\nl2 | " + tree.rawPath("l2") + " | " + shown + '\n');
        QCOMPARE(outcome.status, 0);
    }

    void share_data()
    {
        // The stored names: user.DosStream.com.apple.X:$DATA, without :$DATA, user.com.apple.X.
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("read"); // whether Quellmark shows the values
        QTest::newRow("streams_xattr") << QStringList{u"vfs objects = streams_xattr"_s} << true;
        QTest::newRow("store_stream_type = no")
            << QStringList{u"vfs objects = streams_xattr"_s, u"streams_xattr:store_stream_type = no"_s}
            << true;
        QTest::newRow("prefix = user., store_stream_type = no")
            << QStringList{u"vfs objects = streams_xattr"_s, u"streams_xattr:prefix = user."_s,
                           u"streams_xattr:store_stream_type = no"_s}
            << true;
        // The stream type stays in the name (user.com.apple.X:$DATA): no route from a Mac stores
        // this name otherwise, and the guide asks for store_stream_type = no with this prefix.
        QTest::newRow("prefix = user. alone")
            << QStringList{u"vfs objects = streams_xattr"_s, u"streams_xattr:prefix = user."_s} << false;
    }

    void share()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, read);
        QVERIFY2(start(options), m_server.readAll().constData());
        // As a Mac client stores extended attributes: named streams of the file and the folder.
        const QByteArray commands =
            "put report.txt report.txt; put p.bin \"report.txt:com.apple.provenance\"; put q.bin "
            "\"report.txt:com.apple.quarantine\"; mkdir folder; put q.bin \"folder:com.apple.quarantine\"; "
            "put report.txt empty.txt; put empty.bin \"empty.txt:com.apple.quarantine\"";
        const ToolRun::Outcome client =
            ToolRun{QFile::encodeName(m_smbclient),
                    {"//127.0.0.1/share", "--port", QByteArray::number(m_port), "-N", "--configfile",
                     QFile::encodeName(config()), "-c", commands},
                    QFile::encodeName(m_tree.path(u"local"_s))}
                .run();
        const QByteArray output = client.out + client.err;
        QVERIFY2(client.status == 0 && !output.contains("NT_STATUS"), output.constData());
        const QString share = m_tree.path(u"share"_s);
        const QString encoded = encodePath(QFile::encodeName(share));
        const QString provenance = read ? u"❓ 0x010200aabbccddeeff1100"_s : QString();
        const QString quarantine = read ? u"🔸 Safari"_s : QString();
        const QStringList expected{
            u"report.txt | %1/report.txt | %2 | %3"_s.arg(encoded, provenance, quarantine),
            u"folder | %1/folder/ |  | %2"_s.arg(encoded, quarantine),
            u"empty.txt | %1/empty.txt |  | "_s.arg(encoded), // an empty stream is no value
        };
        const ToolRun::Outcome cli =
            ToolRun{ToolRun::built("quellmark-cli"),
                    {"files", QFile::encodeName(share + u"/report.txt"_s),
                     QFile::encodeName(share + u"/folder/"_s), QFile::encodeName(share + u"/empty.txt"_s)}}
                .run();
        QCOMPARE(cli.status, 0);
        QCOMPARE(QString::fromUtf8(cli.out).split(u'\n', Qt::SkipEmptyParts), expected);
        stop();
    }
};

QTEST_GUILESS_MAIN(TestSambaShares)
#include "tst_sambashares.moc"
