#include "tests/support/ToolRun.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kSource = QUELLMARK_SOURCE_DIR "/";
const QByteArray kAppId = "io.github.quellmark.Quellmark";

// Runs `command` through env(1): settings ("NAME=value", "-u NAME") first, then a program found on PATH.
ToolRun::Outcome run(const QByteArrayList& command)
{
    return ToolRun("/usr/bin/env", command).run();
}

// The package scripts/package.sh makes from this build, in `folder`.
QByteArray package(const QTemporaryDir& folder)
{
    const ToolRun::Outcome packed =
        run({QUELLMARK_CPACK_COMMAND, "-G", "DEB", "-B", QFile::encodeName(folder.path()), "--config",
             qgetenv("QUELLMARK_BINARY_DIR") + "/CPackConfig.cmake"});
    const QStringList debs = QDir(folder.path()).entryList({u"quellmark_*.deb"_s});
    return packed.status == 0 && debs.size() == 1 ? QFile::encodeName(folder.filePath(debs.first()))
                                                  : packed.err;
}

// What the completion file offers to `command`: bash's options list of that command, or
// zsh's arguments block of it with the shared arrays it names.
QByteArray completedOptions(const QByteArray& completion, const QByteArray& command)
{
    const QString text = QString::fromUtf8(ToolRun::contents(kSource + completion));
    const QString name = QRegularExpression::escape(QString::fromUtf8(command));
    const QRegularExpression block(completion.endsWith(".bash")
                                       ? u"\\n\\s*"_s + name + u"\\) options=\"([^\"]*)\""_s
                                       : u"\\n  "_s + name + u"\\)\\n(.*?)\\n    ;;"_s,
                                   QRegularExpression::DotMatchesEverythingOption);
    QString offered = block.match(text).captured(1);
    for (const QString& array : {u"common"_s, u"image"_s}) {
        if (offered.contains(u'$' + array))
            offered += QRegularExpression(u"\\n"_s + array + u"=\\((.*?)\\n\\)"_s,
                                          QRegularExpression::DotMatchesEverythingOption)
                           .match(text)
                           .captured(1);
    }
    return offered.toUtf8();
}

} // namespace

// The desktop files, the package, and where the installation puts everything.
class TestDesktopIntegration : public QObject
{
    Q_OBJECT

private slots:
    // Hints are advice; errors (and the validators' warnings) are not accepted.
    void checkersAccept_data()
    {
        QTest::addColumn<QByteArrayList>("command"); // "@deb": the package
        QTest::addColumn<QString>("problem");        // what the output must not hold
        const QByteArray resources = kSource + "resources/" + kAppId;
        QTest::newRow("desktop entry")
            << QByteArrayList{"desktop-file-validate", resources + ".desktop"} << u"error:|warning:"_s;
        QTest::newRow("metainfo") << QByteArrayList{"appstreamcli", "validate", "--no-net",
                                                    resources + ".metainfo.xml"}
                                  << u"^[EW]: "_s;
        QTest::newRow("lintian") << QByteArrayList{"lintian", "@deb"} << u"^E: "_s;
    }

    void checkersAccept()
    {
        QFETCH(QByteArrayList, command);
        QFETCH(QString, problem);
        QTemporaryDir packages;
        if (command.last() == "@deb") {
            command.last() = package(packages);
            QVERIFY2(command.last().endsWith(".deb"), command.last().constData());
        }
        const ToolRun::Outcome result = run(command);
        const QString said = QString::fromUtf8(result.out + result.err);
        QVERIFY2(result.status == 0 &&
                     !said.contains(QRegularExpression(problem, QRegularExpression::MultilineOption)),
                 qPrintable(QString::number(result.status) + u' ' + said));
    }

    void installPutsEverythingInPlace()
    {
        QTemporaryDir prefix;
        const ToolRun::Outcome result =
            run({QUELLMARK_CMAKE_COMMAND, "--install", qgetenv("QUELLMARK_BINARY_DIR"), "--prefix",
                 QFile::encodeName(prefix.path())});
        QVERIFY2(result.status == 0, (result.out + result.err).constData());
        // The programs and the helper side by side, where the application looks for it; no build tool.
        const QDir root(prefix.path());
        for (const char* path :
             {"bin/quellmark", "bin/quellmark-cli", "bin/quellmark-find-apps",
              "share/applications/ID.desktop", "share/metainfo/ID.metainfo.xml",
              "share/icons/hicolor/scalable/apps/ID.svg", "share/man/man1/quellmark.1.gz",
              "share/man/man1/quellmark-cli.1.gz", "share/man/man1/quellmark-find-apps.1.gz",
              "share/doc/quellmark/copyright", "share/doc/quellmark/changelog.Debian.gz",
              "share/bash-completion/completions/quellmark-cli",
              "share/zsh/vendor-completions/_quellmark-cli"}) {
            QFile file(
                root.filePath(QString::fromLatin1(path).replace(u"ID"_s, QString::fromLatin1(kAppId))));
            QVERIFY2(file.open(QIODevice::ReadOnly), path);
            QVERIFY2(QFileInfo(file).isExecutable() == QByteArrayView(path).startsWith("bin/"), path);
            // Compressed as Debian asks: no file name, no time stamp (gzip -n).
            if (QByteArrayView(path).endsWith(".gz"))
                QVERIFY2(file.read(8).startsWith(QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8)), path);
        }
        QVERIFY(!QFileInfo::exists(root.filePath(u"bin/quellmark-helpdoc"_s)));
    }

    // The manual pages render without warnings and name every option the programs' help names, as
    // the shell completions do. Help and version are answered where there is no display at all.
    void manualPages_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArrayList>("commands"); // each given --help; "" alone: the program's own
        QTest::addColumn<QByteArrayList>("completions");
        QTest::newRow("quellmark") << QByteArray("quellmark") << QByteArrayList{""} << QByteArrayList();
        QTest::newRow("quellmark-find-apps")
            << QByteArray("quellmark-find-apps") << QByteArrayList{""} << QByteArrayList();
        QTest::newRow("quellmark-cli")
            << QByteArray("quellmark-cli") << QByteArrayList{"", "apps", "crawl", "files", "volumes"}
            << QByteArrayList{"resources/completions/quellmark-cli.bash",
                              "resources/completions/_quellmark-cli"};
    }

    void manualPages()
    {
        QFETCH(QByteArray, page);
        QFETCH(QByteArrayList, commands);
        QFETCH(QByteArrayList, completions);
        const QByteArray path = kSource + "resources/man/" + page + ".1";
        const ToolRun::Outcome render =
            run({"MANWIDTH=80", "LC_ALL=C.UTF-8", "man", "--warnings", "-l", path});
        QVERIFY2(render.status == 0 && render.err.isEmpty() && render.out.contains("NAME"),
                 render.err.constData());
        const QByteArray roff = ToolRun::contents(path);
        static const QRegularExpression option(u"--[a-z][a-z-]+"_s);
        const QByteArrayList noDisplay{"-u",
                                       "DISPLAY",
                                       "-u",
                                       "WAYLAND_DISPLAY",
                                       "-u",
                                       "QT_QPA_PLATFORM",
                                       ToolRun::built(page.constData())};
        const ToolRun::Outcome version = run(noDisplay + QByteArrayList{"--version"});
        QCOMPARE(QByteArray::number(version.status) + ' ' + version.out,
                 "0 " + page + " " QUELLMARK_VERSION "\n");
        for (const QByteArray& command : commands) {
            const ToolRun::Outcome help =
                run(noDisplay +
                    (command.isEmpty() ? QByteArrayList{"--help"} : QByteArrayList{command, "--help"}));
            QCOMPARE(help.status, 0);
            for (const QRegularExpressionMatch& match : option.globalMatch(QString::fromUtf8(help.out))) {
                const QByteArray name = match.captured().toUtf8();
                QVERIFY2(roff.contains(QByteArray(name).replace("-", "\\-")),
                         (page + " does not name " + name).constData());
                for (const QByteArray& completion : completions)
                    QVERIFY2(command.isEmpty() || completedOptions(completion, command).contains(name),
                             (completion + " does not offer " + name + " to " + command).constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
