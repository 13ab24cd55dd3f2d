#include "crawl/CrawlerView.h"
#include "ui/CsvSaveDialog.h"
#include "ui/NameOnlyIconProvider.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>

#include <sys/mount.h>

using namespace Qt::StringLiterals;

// Our file dialogs over a folder whose files list at once but whose reads never return (as
// /proc/kmsg or a file on a hung share): listing and completing must not read them.
class TestFileDialogs : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_mount;
    QString m_log;
    QProcess m_server;

    QFileDialog* openDialog(const QString& kind, CrawlerView& crawlWindow)
    {
        if (kind == u"save")
            CsvSaveDialog::open(&crawlWindow, u"list.csv"_s, [](const QString&) { return CsvWriteResult{}; });
        else
            crawlWindow.chooseFolder();
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
                return dialog;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_mount = m_dir.filePath(u"share"_s);
        m_log = m_dir.filePath(u"opens.log"_s);
        QVERIFY(QDir().mkdir(m_mount));
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(QStringLiteral(BLOCKING_FS_PATH), {m_log, m_mount});
        QVERIFY(m_server.waitForStarted());
        // Mounted once its files show; a server that cannot mount (no /dev/fuse) exits instead.
        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(m_mount + u"/blocked"_s) ||
                                      m_server.state() == QProcess::NotRunning,
                                  "the FUSE file system did not come up", 10000);
        QVERIFY2(m_server.state() == QProcess::Running, "the FUSE file system could not be mounted");
    }

    void cleanupTestCase()
    {
        m_server.terminate(); // unmounts
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished();
        }
        ::umount2(QFile::encodeName(m_mount).constData(), MNT_DETACH);
    }

    void neverReadsAFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("save dialog") << u"save"_s;
        QTest::newRow("folder dialog") << u"folder"_s;
    }

    void neverReadsAFile()
    {
        QFETCH(QString, kind);
        QFile::remove(m_log);
        // Should the window block in a read after all, the reads are let go after a while so
        // that the test can end and fail.
        std::atomic_bool done{false}, released{false};
        std::thread watchdog([&, server = pid_t(m_server.processId())] {
            for (int i = 0; i < 300 && !done.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!done.load() && !released.exchange(true))
                ::kill(server, SIGUSR1);
        });
        const auto stopWatching = qScopeGuard([&] {
            done.store(true);
            watchdog.join();
        });
        CrawlerView crawlWindow;
        std::unique_ptr<QFileDialog> dialog(openDialog(kind, crawlWindow));
        QVERIFY(dialog && dynamic_cast<NameOnlyIconProvider*>(dialog->iconProvider()));
        auto* model = dialog->findChild<QFileSystemModel*>();
        auto* name = dialog->findChild<QLineEdit*>(u"fileNameEdit"_s);
        QVERIFY(model && name);
        QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
        dialog->setDirectory(m_mount);
        QTest::keyClicks(name, m_mount + u"/b"_s); // looks the folder up at once, for completion
        QTRY_VERIFY_WITH_TIMEOUT(loaded.contains({m_mount}), 10000);
        const QModelIndex blocked = model->index(m_mount + u"/blocked.csv"_s);
        // Listed with a type and an icon, decided by name.
        QTRY_VERIFY(kind != u"save" || blocked.isValid());
        QVERIFY(kind != u"save" || (!model->type(blocked).isEmpty() && !model->fileIcon(blocked).isNull()));
        dialog.reset();
        done.store(true);
        QVERIFY2(!released.load(), "the window waited for a read that never returns");
        QFile log(m_log);
        const QByteArray opened = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        QVERIFY2(opened.isEmpty(), ("files were opened to be read: " + opened).constData());
    }
};

QTEST_MAIN(TestFileDialogs)
#include "tst_filedialogs.moc"
