#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString kAppId = QStringLiteral("io.github.quellmark.Quellmark");

const QString kSource = QStringLiteral(QUELLMARK_SOURCE_DIR "/");

// Runs `program`: its exit status, then its output with standard error.
QStringList run(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
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
        for (const char* path :
             {"bin/quellmark", "bin/quellmark-cli", "bin/quellmark-find-apps", "share/applications/ID.desktop",
              "share/metainfo/ID.metainfo.xml", "share/icons/hicolor/scalable/apps/ID.svg",
              "share/man/man1/quellmark.1.gz", "share/man/man1/quellmark-cli.1.gz",
              "share/man/man1/quellmark-find-apps.1.gz", "share/doc/quellmark/copyright",
              "share/doc/quellmark/changelog.Debian.gz", "share/bash-completion/completions/quellmark-cli",
              "share/zsh/vendor-completions/_quellmark-cli"}) {
            QFile file(root.filePath(QString::fromLatin1(path).replace(QLatin1String("ID"), kAppId)));
            QVERIFY2(file.open(QIODevice::ReadOnly), path);
            QVERIFY2(QFileInfo(file).isExecutable() == QByteArrayView(path).startsWith("bin/"), path);
            // Compressed as Debian asks: no file name, no time stamp (gzip -n).
            if (QByteArrayView(path).endsWith(".gz"))
                QVERIFY2(file.read(8).startsWith(QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8)), path);
        }
        QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("bin/quellmark-helpdoc"))));
    }

    // Help and version are answered where there is no display at all.
    void helpAndVersionWithoutDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("answer"); // how standard output starts
        const QString version = QStringLiteral(" " QUELLMARK_VERSION "\n");
        for (const QString& program : {u"quellmark"_s, u"quellmark-cli"_s, u"quellmark-find-apps"_s})
            QTest::addRow("%s --version", qPrintable(program)) << program << u"--version"_s << program + version;
        QTest::newRow("quellmark --help") << u"quellmark"_s << u"--help"_s << u"Usage: quellmark [--crawl"_s;
    }

    void helpAndVersionWithoutDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, argument);
        QFETCH(QString, answer);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        const QStringList result =
            run(qEnvironmentVariable("QUELLMARK_BINARY_DIR") + u"/bin/"_s + program, {argument}, environment);
        QVERIFY2(result.value(0) == QLatin1String("0") && result.value(1).startsWith(answer),
                 qPrintable(result.join(u' ')));
    }

    // The manual pages render without warnings and name every option the programs' help names,
    // as the shell completions do.
    void manualPages_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QList<QStringList>>("helps"); // the page's program with these arguments
        QTest::addColumn<QStringList>("completions");
        QTest::newRow("quellmark") << u"quellmark"_s << QList<QStringList>{{u"--help"_s}} << QStringList();
        QTest::newRow("quellmark-find-apps")
            << u"quellmark-find-apps"_s << QList<QStringList>{{u"--help"_s}} << QStringList();
        QList<QStringList> commands{{u"--help"_s}};
        for (const QString& command : {u"apps"_s, u"crawl"_s, u"files"_s})
            commands.append({command, u"--help"_s});
        QTest::newRow("quellmark-cli") << u"quellmark-cli"_s << commands
                                       << QStringList{u"resources/completions/quellmark-cli.bash"_s,
                                                      u"resources/completions/_quellmark-cli"_s};
    }

    void manualPages()
    {
        QFETCH(QString, page);
        QFETCH(QList<QStringList>, helps);
        QFETCH(QStringList, completions);
        const QString man = QStandardPaths::findExecutable(QStringLiteral("man"));
        if (man.isEmpty())
            QSKIP("man is not installed (scripts/debian-packages.txt lists it)");
        const QString path = kSource + u"resources/man/"_s + page + u".1"_s;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        QProcess render;
        render.setProcessEnvironment(environment);
        render.start(man, {QStringLiteral("--warnings"), QStringLiteral("-l"), path});
        QVERIFY(render.waitForFinished(60000));
        const QByteArray warnings = render.readAllStandardError();
        QVERIFY2(render.exitCode() == 0 && warnings.isEmpty(), warnings.constData());
        QVERIFY(render.readAllStandardOutput().contains("NAME"));

        QFile source(path);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QString roff = QString::fromUtf8(source.readAll());
        QStringList named; // the completions' texts
        for (const QString& completion : completions) {
            QFile file(kSource + completion);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(completion));
            named.append(QString::fromUtf8(file.readAll()));
        }
        static const QRegularExpression option(QStringLiteral("--[a-z][a-z-]+"));
        for (const QStringList& arguments : helps) {
            const QStringList help = run(qEnvironmentVariable("QUELLMARK_BINARY_DIR") + u"/bin/"_s + page,
                                         arguments);
            QCOMPARE(help.value(0), QStringLiteral("0"));
            for (const QRegularExpressionMatch& match : option.globalMatch(help.value(1))) {
                const QString name = match.captured();
                QVERIFY2(roff.contains(QString(name).replace(u'-', QStringLiteral("\\-"))),
                         qPrintable(page + u" does not name "_s + name));
                for (qsizetype i = 0; i < named.size(); ++i)
                    QVERIFY2(arguments.size() == 1 || named.at(i).contains(name),
                             qPrintable(completions.at(i) + u" does not name "_s + name));
            }
        }
    }

    // The package as scripts/package.sh makes it (from this build) has no lintian errors.
    void packagePassesLintian()
    {
        const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
        if (lintian.isEmpty())
            QSKIP("lintian is not installed (scripts/debian-packages.txt lists it)");
        QTemporaryDir packages;
        const QString binary = qEnvironmentVariable("QUELLMARK_BINARY_DIR");
        const QStringList packed =
            run(QStringLiteral(QUELLMARK_CPACK_COMMAND),
                {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), packages.path(),
                 QStringLiteral("--config"), binary + u"/CPackConfig.cmake"_s});
        QVERIFY2(packed.value(0) == QLatin1String("0"), qPrintable(packed.value(1)));
        const QStringList debs = QDir(packages.path()).entryList({QStringLiteral("quellmark_*.deb")});
        QCOMPARE(debs.size(), 1);
        const QStringList result = run(lintian, {packages.filePath(debs.first())});
        static const QRegularExpression error(QStringLiteral("^E: "), QRegularExpression::MultilineOption);
        QVERIFY2(result.value(0) == QLatin1String("0") && !result.value(1).contains(error),
                 qPrintable(result.value(1)));
    }
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
