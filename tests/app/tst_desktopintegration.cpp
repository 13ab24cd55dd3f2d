#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QString kAppId = QStringLiteral("io.github.quellmark.Quellmark");

// Runs `program`: its exit status, then its output with standard error.
QStringList run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit;
    return {QString::number(finished ? process.exitCode() : -1), QString::fromUtf8(process.readAll())};
}

} // namespace

// The desktop files, and where the installation puts everything.
class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private slots:
    void validators_data()
    {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        const QString resources = QStringLiteral(QUELLMARK_SOURCE_DIR "/resources/") + kAppId;
        QTest::newRow("desktop entry")
            << "desktop-file-validate" << QStringList{resources + QStringLiteral(".desktop")};
        QTest::newRow("metainfo") << "appstreamcli"
                                  << QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"),
                                                 resources + QStringLiteral(".metainfo.xml")};
    }

    void validators()
    {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        const QString program = QStandardPaths::findExecutable(validator);
        if (program.isEmpty())
            QSKIP("the validator is not installed (scripts/debian-packages.txt lists it)");
        const QStringList result = run(program, arguments);
        // Hints are advice; errors and warnings are not accepted.
        static const QRegularExpression problem(QStringLiteral("error:|warning:|^[EW]: "),
                                                QRegularExpression::MultilineOption);
        QVERIFY2(result.value(0) == QLatin1String("0") && !result.value(1).contains(problem),
                 qPrintable(result.value(1)));
    }

    void installPutsEverythingInPlace()
    {
        QTemporaryDir prefix;
        const QStringList result =
            run(QStringLiteral(QUELLMARK_CMAKE_COMMAND),
                {QStringLiteral("--install"), qEnvironmentVariable("QUELLMARK_BINARY_DIR"),
                 QStringLiteral("--prefix"), prefix.path()});
        QVERIFY2(result.value(0) == QLatin1String("0"), qPrintable(result.value(1)));
        // The programs and the helper side by side, where the application looks for it; no build tool.
        const QDir root(prefix.path());
        for (const char* path : {"bin/quellmark", "bin/quellmark-cli", "bin/quellmark-find-apps",
                                 "share/applications/ID.desktop", "share/metainfo/ID.metainfo.xml",
                                 "share/icons/hicolor/scalable/apps/ID.svg"}) {
            const QFileInfo file(
                root.filePath(QString::fromLatin1(path).replace(QLatin1String("ID"), kAppId)));
            QVERIFY2(file.isFile() && file.isExecutable() == QByteArrayView(path).startsWith("bin/"), path);
        }
        QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("bin/quellmark-helpdoc"))));
    }
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
