#include "core/ApplicationDiscovery.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

// Discovery with scripted tools in place of the real finder, and the pure line handling.
class TestApplicationDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void pathsFromOutput_data();
    void pathsFromOutput();

    void tool_data();
    void tool();
    void argumentsReachTheToolUnchanged();
    void toolThatCannotStart_data();
    void toolThatCannotStart();
    void hungToolIsKilledAndItsLinesUsed_data();
    void hungToolIsKilledAndItsLinesUsed();
    void exitedToolWithChildHoldingThePipe();
    void cancelStopsTheTool();
    void largeOutput();
    void defaultTool();

private:
    QString script(const QByteArray& body);

    TestTree m_tree;
    int m_scripts = 0;
};

namespace {

QString ucs4(std::u32string_view text)
{
    return QString::fromUcs4(text.data(), qsizetype(text.size()));
}

} // namespace

void TestApplicationDiscovery::initTestCase()
{
    QVERIFY2(m_tree.isValid(), m_tree.problem().constData());
}

// An executable shell script in the test folder.
QString TestApplicationDiscovery::script(const QByteArray& body)
{
    const QString path =
        m_tree.file(QStringLiteral("tools/tool%1.sh").arg(++m_scripts), "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    return path;
}

void TestApplicationDiscovery::pathsFromOutput_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("paths");

    QTest::newRow("nothing") << QByteArray() << QStringList();
    QTest::newRow("only line feeds") << QByteArray("\n\n\n") << QStringList();
    QTest::newRow("two paths, sorted")
        << QByteArray("/b.app\n/a.app\n") << QStringList{QStringLiteral("/a.app"), QStringLiteral("/b.app")};
    QTest::newRow("no final line feed")
        << QByteArray("/b.app\n/a.app") << QStringList{QStringLiteral("/a.app"), QStringLiteral("/b.app")};
    QTest::newRow("blank lines") << QByteArray("\n/c\n\n\n/a\n\n")
                                 << QStringList{QStringLiteral("/a"), QStringLiteral("/c")};
    QTest::newRow("CR LF keeps the CR")
        << QByteArray("/b\r\n/a\r\n") << QStringList{QStringLiteral("/a\r"), QStringLiteral("/b\r")};
    QTest::newRow("lone CR is no break") << QByteArray("/a\r/b\n") << QStringList{QStringLiteral("/a\r/b")};
    QTest::newRow("blanks kept") << QByteArray("/Applications/My App.app\n /lead\ntrail \n")
                                 << QStringList{QStringLiteral(" /lead"),
                                                QStringLiteral("/Applications/My App.app"),
                                                QStringLiteral("trail ")};
    QTest::newRow("line of blanks kept")
        << QByteArray("  \n/a\n") << QStringList{QStringLiteral("  "), QStringLiteral("/a")};
    QTest::newRow("invalid UTF-8 line skipped")
        << QByteArray("/b.app\n/caf\xe9.app\n/a.app\n")
        << QStringList{QStringLiteral("/a.app"), QStringLiteral("/b.app")};
    QTest::newRow("all lines invalid") << QByteArray("\xff\n\xc0\xaf\n") << QStringList();
    QTest::newRow("sequence cut by a line feed")
        << QByteArray("/x\xe2\x82\n\xac/y\n/z\n") << QStringList{QStringLiteral("/z")};
    QTest::newRow("uppercase before lowercase") << QByteArray("/a\n/Z\n/b\n/B\n")
                                                << QStringList{QStringLiteral("/B"), QStringLiteral("/Z"),
                                                               QStringLiteral("/a"), QStringLiteral("/b")};
    QTest::newRow("shorter first") << QByteArray("/ab\n/a\n")
                                   << QStringList{QStringLiteral("/a"), QStringLiteral("/ab")};
    // By UTF-16 units the surrogate pair (D83D...) would come before U+FFFD.
    QTest::newRow("beyond U+FFFF after U+FFFD")
        << QByteArray("/\xf0\x9f\xa6\x8a\n/\xef\xbf\xbd\n/\xee\x80\x80\n")
        << QStringList{ucs4(U"/\uE000"), ucs4(U"/\uFFFD"), ucs4(U"/\U0001F98A")};
    // "e" + combining acute sorts as the precomposed é (U+00E9), after "f", and is kept as it came.
    QTest::newRow("decomposed sorts as composed")
        << QByteArray("/e\xcc\x81\n/f\n/e\n")
        << QStringList{QStringLiteral("/e"), QStringLiteral("/f"), ucs4(U"/e\u0301")};
    QTest::newRow("equivalent forms ordered by what follows")
        << QByteArray("/e\xcc\x81"
                      "b\n/\xc3\xa9"
                      "a\n")
        << QStringList{ucs4(U"/\u00e9a"), ucs4(U"/e\u0301b")};
    QTest::newRow("equivalent forms both kept")
        << QByteArray("/\xc3\xa9\n/e\xcc\x81\n") << QStringList{ucs4(U"/\u00e9"), ucs4(U"/e\u0301")};
    QTest::newRow("duplicates kept") << QByteArray("/a\n/a\n")
                                     << QStringList{QStringLiteral("/a"), QStringLiteral("/a")};
    QTest::newRow("byte order mark is a character")
        << QByteArray("\xef\xbb\xbf/a\n/b\n")
        << QStringList{QStringLiteral("/b"), QChar(0xFEFF) + QStringLiteral("/a")};
}

void TestApplicationDiscovery::pathsFromOutput()
{
    QFETCH(QByteArray, output);
    QFETCH(QStringList, paths);
    QCOMPARE(ApplicationDiscovery::pathsFromOutput(output), paths);
}

void TestApplicationDiscovery::tool_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("paths");

    QTest::newRow("two paths") << QByteArray("printf '/Applications/Zed.app\\n/Applications/Atom.app\\n'\n")
                               << QStringList{QStringLiteral("/Applications/Atom.app"),
                                              QStringLiteral("/Applications/Zed.app")};
    QTest::newRow("CR LF") << QByteArray("printf '/b.app\\r\\n/a.app\\r\\n'\n")
                           << QStringList{QStringLiteral("/a.app\r"), QStringLiteral("/b.app\r")};
    QTest::newRow("blank lines") << QByteArray("printf '\\n\\n/b\\n\\n\\n/a\\n\\n'\n")
                                 << QStringList{QStringLiteral("/a"), QStringLiteral("/b")};
    QTest::newRow("path with spaces") << QByteArray("printf '/Applications/My Great  App.app\\n'\n")
                                      << QStringList{QStringLiteral("/Applications/My Great  App.app")};
    QTest::newRow("invalid UTF-8 line") << QByteArray("printf '/b.app\\n/caf\\351.app\\n/a.app\\n'\n")
                                        << QStringList{QStringLiteral("/a.app"), QStringLiteral("/b.app")};
    QTest::newRow("non-zero exit status") << QByteArray("printf '/y\\n/x\\n'\nexit 3\n")
                                          << QStringList{QStringLiteral("/x"), QStringLiteral("/y")};
    QTest::newRow("killed by a signal after printing")
        << QByteArray("printf '/y\\n/x\\n'\nkill -TERM $$\n")
        << QStringList{QStringLiteral("/x"), QStringLiteral("/y")};
    QTest::newRow("nothing at all") << QByteArray("exit 0\n") << QStringList();
    QTest::newRow("nothing, failing") << QByteArray("exit 1\n") << QStringList();
    QTest::newRow("standard error is not read") << QByteArray("echo '/stderr.app' >&2\necho /stdout.app\n")
                                                << QStringList{QStringLiteral("/stdout.app")};
    QTest::newRow("line written in pieces")
        << QByteArray("printf '/App'\nsleep 0.2\nprintf 'lication.app\\n'\n")
        << QStringList{QStringLiteral("/Application.app")};
    QTest::newRow("code point order") << QByteArray("printf '/\\360\\237\\246\\212\\n/\\357\\277\\275\\n'\n")
                                      << QStringList{ucs4(U"/\uFFFD"), ucs4(U"/\U0001F98A")};
}

void TestApplicationDiscovery::tool()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, paths);
    ApplicationDiscovery discovery(script(body), {});
    QCOMPARE(discovery.findApplicationPaths(), paths);
}

void TestApplicationDiscovery::argumentsReachTheToolUnchanged()
{
    // No shell in between: the query with its blanks and quotes is one argument.
    const QString tool = script("printf '/%s\\n' \"$#\" \"$@\"\n");
    ApplicationDiscovery discovery(tool, {QStringLiteral("kMDItemKind == 'Application'")});
    QCOMPARE(discovery.findApplicationPaths(),
             (QStringList{QStringLiteral("/1"), QStringLiteral("/kMDItemKind == 'Application'")}));
}

void TestApplicationDiscovery::toolThatCannotStart_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("missing") << m_tree.path(QStringLiteral("tools/missing-tool"));
    QTest::newRow("not executable") << m_tree.file(QStringLiteral("tools/plain-file"),
                                                   "#!/bin/sh\necho /a\n");
    QTest::newRow("a folder") << m_tree.folder(QStringLiteral("tools/folder"));
    QTest::newRow("bad interpreter") << m_tree.file(QStringLiteral("tools/bad"),
                                                    "#!/nonexistent/sh\necho /a\n");
}

void TestApplicationDiscovery::toolThatCannotStart()
{
    QFETCH(QString, program);
    if (program.endsWith(QLatin1String("/bad")))
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    ApplicationDiscovery discovery(program, {});
    discovery.setTimeLimit(10s);
    QCOMPARE(discovery.findApplicationPaths(), QStringList());
}

void TestApplicationDiscovery::hungToolIsKilledAndItsLinesUsed_data()
{
    QTest::addColumn<QByteArray>("body");
    // The shell itself becomes the sleeping process.
    QTest::newRow("tool hangs") << QByteArray("printf '/b.app\\n/a.app\\n'\nexec sleep 30\n");
    // A child of the tool keeps the pipe open after the tool is killed.
    QTest::newRow("child keeps the pipe")
        << QByteArray("printf '/b.app\\n/a.app\\n'\nsleep 30 2>/dev/null\n");
    // The last line has no line feed yet: it is used as it stands.
    QTest::newRow("half a line") << QByteArray("printf '/b.app\\n/a.app'\nexec sleep 30\n");
}

void TestApplicationDiscovery::hungToolIsKilledAndItsLinesUsed()
{
    QFETCH(QByteArray, body);
    ApplicationDiscovery discovery(script(body), {});
    discovery.setTimeLimit(300ms);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(discovery.findApplicationPaths(),
             (QStringList{QStringLiteral("/a.app"), QStringLiteral("/b.app")}));
    // Far below the tool's own sleep: it was stopped, not waited for.
    QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
}

void TestApplicationDiscovery::exitedToolWithChildHoldingThePipe()
{
    // The tool is done; a background child it left still holds standard output.
    const QString tool = script("(sleep 30 2>/dev/null) &\nprintf '/only.app\\n'\nexit 0\n");
    ApplicationDiscovery discovery(tool, {});
    discovery.setTimeLimit(20s);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(discovery.findApplicationPaths(), QStringList{QStringLiteral("/only.app")});
    QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
}

void TestApplicationDiscovery::cancelStopsTheTool()
{
    // Without the cancel the tool would run into the time limit and its line would be used.
    const QString tool = script("printf '/printed.app\\n'\nexec sleep 30\n");
    ApplicationDiscovery discovery(tool, {});
    discovery.setTimeLimit(20s);
    std::atomic_bool cancel{false};
    discovery.setCancelFlag(&cancel);
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(300ms);
        cancel = true;
    });
    const QStringList paths = discovery.findApplicationPaths();
    canceller.join();
    QCOMPARE(paths, QStringList());
    QVERIFY(cancel.load());
}

void TestApplicationDiscovery::largeOutput()
{
    // Far more than a pipe holds: the output must be read while the tool runs.
    const QString tool = script("i=0\nwhile [ $i -lt 30000 ]; do\n"
                                "  printf '/Volumes/Disk/Applications/Application number %05d.app\\n' $i\n"
                                "  i=$((i+1))\ndone\n");
    ApplicationDiscovery discovery(tool, {});
    discovery.setTimeLimit(60s);
    const QStringList paths = discovery.findApplicationPaths();
    QCOMPARE(paths.size(), 30000);
    QCOMPARE(paths.first(), QStringLiteral("/Volumes/Disk/Applications/Application number 00000.app"));
    QCOMPARE(paths.last(), QStringLiteral("/Volumes/Disk/Applications/Application number 29999.app"));
    QVERIFY(std::is_sorted(paths.cbegin(), paths.cend()));
}

void TestApplicationDiscovery::defaultTool()
{
    QCOMPARE(ApplicationDiscovery::defaultProgram(),
             QCoreApplication::applicationDirPath() + QStringLiteral("/quellmark-find-apps"));
    QCOMPARE(ApplicationDiscovery::defaultArguments(), QStringList());
}

QTEST_GUILESS_MAIN(TestApplicationDiscovery)
#include "tst_applicationdiscovery.moc"
