#include "core/ApplicationDiscovery.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;

// Discovery with scripted tools in place of the real finder.
class TestApplicationDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_tree.isValid(), m_tree.problem().constData()); }

    void tool_data()
    {
        QTest::addColumn<QByteArray>("output"); // what the tool prints
        QTest::addColumn<QByteArray>("then");   // shell run after that
        QTest::addColumn<QString>("paths");     // joined with "|"
        QStringList many; // far more than a pipe holds: the output is read while the tool runs
        for (int i = 0; i < 9000; ++i)
            many << QStringLiteral("/Volumes/Disk/Applications/App %1.app").arg(i, 5, 10, QLatin1Char('0'));
        QTest::newRow("CR LF") << QByteArray("/b.app\r\n/a.app\r\n") << QByteArray() << "/a.app\r|/b.app\r";
        QTest::newRow("blank lines, spaces kept")
            << QByteArray("\n/My  App.app\n\n  \n /lead\n\n") << QByteArray() << "  | /lead|/My  App.app";
        QTest::newRow("invalid UTF-8 line") << QByteArray("/b\n/caf\xe9\n/a\n") << QByteArray() << "/a|/b";
        QTest::newRow("cut sequence") << QByteArray("/x\xe2\x82\n\xac/y\n/z") << QByteArray() << "/z";
        // By UTF-16 units U+1F98A would come before U+E000; "e" + combining acute sorts as U+00E9.
        QTest::newRow("code point order")
            << QByteArray("/\xf0\x9f\xa6\x8a\n/\xee\x80\x80\n/e\xcc\x81\n/f\n/Z\n/a\n") << QByteArray()
            << "/Z|/a|/f|/e\u0301|/\uE000|/🦊";
        QTest::newRow("non-zero exit status") << QByteArray("/y\n/x\n") << QByteArray("exit 3") << "/x|/y";
        QTest::newRow("nothing at all") << QByteArray() << QByteArray() << "";
        QTest::newRow("standard error not read")
            << QByteArray("/out\n") << QByteArray("echo /err >&2") << "/out";
        QTest::newRow("arguments unchanged") << QByteArray() << QByteArray("printf '/%s\\n' \"$#\" \"$@\"")
                                             << "/1|/kMDItemKind == 'Application'";
        QTest::newRow("large output")
            << (many.join(u'\n') + u'\n').toUtf8() << QByteArray() << many.join(u'|');
    }

    void tool()
    {
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, then);
        QFETCH(QString, paths);
        const QString printed = m_tree.file(QStringLiteral("output%1").arg(m_scripts), output);
        ApplicationDiscovery discovery(script("cat '" + QFile::encodeName(printed) + "'\n" + then),
                                       {QStringLiteral("kMDItemKind == 'Application'")});
        QCOMPARE(discovery.findApplicationPaths().join(u'|'), paths);
    }

    void missingAndDefaultTool()
    {
        const QString notExecutable = m_tree.file(QStringLiteral("plain"), "#!/bin/sh\necho /a\n");
        for (const QString& program : {m_tree.path(QStringLiteral("missing")), notExecutable})
            QCOMPARE(ApplicationDiscovery(program, {}).findApplicationPaths(), QStringList());
        QCOMPARE(ApplicationDiscovery::defaultProgram(),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/quellmark-find-apps"));
    }

    void stuckTool_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("paths");
        QTest::newRow("hangs") << QByteArray("printf '/b\\n/a\\n'\nexec sleep 30\n") << 300 << "/a|/b";
        // The last line has no line feed yet, and a child of the killed tool holds the pipe.
        QTest::newRow("child keeps the pipe")
            << QByteArray("printf '/b\\n/a'\nsleep 30 2>/dev/null\n") << 300 << "/a|/b";
        // Done well within the limit; only a background child holds the pipe.
        QTest::newRow("exited, child left")
            << QByteArray("(sleep 30 2>/dev/null) &\nprintf '/a\\n'\n") << 20000 << "/a";
        // Cancelled (limit 0) while it runs: nothing is used.
        QTest::newRow("cancelled") << QByteArray("printf '/a\\n'\nexec sleep 30\n") << 0 << "";
    }

    void stuckTool()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, limit);
        QFETCH(QString, paths);
        ApplicationDiscovery discovery(script(body), {});
        discovery.setTimeLimit(std::chrono::milliseconds(limit ? limit : 20000));
        std::atomic_bool cancel{false};
        discovery.setCancelFlag(&cancel);
        std::thread canceller([&] {
            std::this_thread::sleep_for(200ms);
            cancel = limit == 0;
        });
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(discovery.findApplicationPaths().join(u'|'), paths);
        // Far below the sleep and the longer limit: stopped, not waited for.
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        canceller.join();
    }

private:
    QString script(const QByteArray& body)
    {
        const QString path = m_tree.file(QStringLiteral("tool%1").arg(++m_scripts), "#!/bin/sh\n" + body);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        return path;
    }

    TestTree m_tree;
    int m_scripts = 0;
};

QTEST_GUILESS_MAIN(TestApplicationDiscovery)
#include "tst_applicationdiscovery.moc"
