#include "core/ApplicationDiscovery.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <atomic>

// Discovery with scripted tools in place of the real finder. A tool that is missing, fails or
// is killed is seen at the command line (tst_cli).
class TestApplicationDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_tree.isValid(), m_tree.problem().constData()); }

    void tool_data()
    {
        QTest::addColumn<QByteArray>("output"); // what the tool prints
        QTest::addColumn<QByteArray>("then");   // shell run after that; NOEXEC: no tool to run
        QTest::addColumn<int>("limit");         // in milliseconds; 0: cancelled
        QTest::addColumn<QString>("paths");     // joined with "|"
        QTest::addColumn<QString>("failure");   // TOOL: the tool's path
        QTest::addColumn<int>("unreadable");    // lines left out
        const auto row = [](const char* tag, const QByteArray& output, const QString& paths,
                            const QByteArray& then = {}, int limit = 10000, const char* failure = "",
                            int unreadable = 0) {
            QTest::newRow(tag) << output << then << limit << paths << QString::fromUtf8(failure)
                               << unreadable;
        };
        // CR LF is one character, not a line break: "/c.app" and "/a.app" make one line.
        row("CR LF, blank lines, spaces kept", "/c.app\r\n/a.app\n\n/My  App.app\n\n  \n /lead\r\n\n",
            QStringLiteral("  | /lead\r\n|/My  App.app|/c.app\r\n/a.app"));
        row("CR alone, CR CR LF", "/b\r/c\n/a\r\r\n/d\n", QStringLiteral("/a\r\r\n/d|/b\r/c"));
        row("invalid UTF-8 lines", "/b\n/caf\xe9\n/a\n\xff\n", QStringLiteral("/a|/b"), {}, 10000, "", 2);
        // By UTF-16 units U+1F98A would come before U+E000; "e" + combining acute sorts as U+00E9.
        row("code point order", "/\xf0\x9f\xa6\x8a\n/\xee\x80\x80\n/e\xcc\x81\n/f\n/Z\n/a\n",
            QStringLiteral("/Z|/a|/f|/e\u0301|/\uE000|/🦊"));
        row("nothing at all", "", QString());
        QStringList many; // far more than a pipe holds: the output is read while the tool runs
        for (int i = 0; i < 9000; ++i)
            many << QStringLiteral("/Volumes/Disk/Applications/App %1.app").arg(i, 5, 10, QLatin1Char('0'));
        row("large output", (many.join(u'\n') + u'\n').toUtf8(), many.join(u'|'));
        // Hangs: the last line has no line feed yet, and a child of the killed tool holds the pipe.
        row("child keeps the pipe", "/b\n/a", QStringLiteral("/a|/b"), "sleep 30 2>/dev/null", 300,
            "TOOL did not finish within 0.3 s and was stopped");
        // Done well within the limit; only a background child holds the pipe.
        row("exited, child left", "/a\n", QStringLiteral("/a"), "(sleep 30 2>/dev/null) &", 20000);
        row("cancelled", "/a\n", QString(), "exec sleep 30", 0);
        row("not executable", "/a\n", QString(), "NOEXEC", 10000,
            "cannot run TOOL: execvp: Permission denied");
    }

    void tool()
    {
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, then);
        QFETCH(int, limit);
        QFETCH(QString, paths);
        QFETCH(QString, failure);
        QFETCH(int, unreadable);
        const QString tag = QLatin1String(QTest::currentDataTag()), printed = m_tree.file(tag, output);
        const QString tool = m_tree.file(tag + QLatin1String(" tool"),
                                         "#!/bin/sh\ncat '" + QFile::encodeName(printed) + "'\n" + then);
        QFile::setPermissions(tool, then == "NOEXEC" ? QFile::ReadOwner : QFile::ReadOwner | QFile::ExeOwner);
        ApplicationDiscovery discovery(tool, {QStringLiteral("kMDItemKind == 'Application'")});
        discovery.setTimeLimit(std::chrono::milliseconds(limit ? limit : 20000));
        // A cancel is seen while the tool runs, and the lines it printed are dropped.
        std::atomic_bool cancel{limit == 0};
        discovery.setCancelFlag(&cancel);
        QElapsedTimer timer;
        timer.start();
        const ApplicationDiscovery::Search search = discovery.search();
        QCOMPARE(search.paths.join(u'|'), paths);
        // Far below the sleeps and the longer limits: a stuck tool is stopped, not waited for.
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(search.failure, failure.replace(QLatin1String("TOOL"), tool));
        QCOMPARE(search.unreadableLines, unreadable);
    }

private:
    TestTree m_tree;
};

QTEST_GUILESS_MAIN(TestApplicationDiscovery)
#include "tst_applicationdiscovery.moc"
