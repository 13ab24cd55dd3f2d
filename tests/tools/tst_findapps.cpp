#include "tests/support/TestTree.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QStandardPaths>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

using Entries = QList<std::pair<QString, QByteArray>>;

struct Result
{
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
};

Result runFinder(const QProcessEnvironment& environment, const QStringList& arguments = {},
                 const QStringList& prefix = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString tool = QStringLiteral(FIND_APPS_PATH);
    if (prefix.isEmpty())
        process.start(tool, arguments);
    else
        process.start(prefix.first(), prefix.mid(1) + QStringList{tool} + arguments);
    Result result;
    result.finished = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    return result;
}

// Only what the tool is told; sanitizer settings pass through so CI reports stay useful.
QProcessEnvironment bareEnvironment()
{
    QProcessEnvironment environment;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {QStringLiteral("ASAN_OPTIONS"), QStringLiteral("UBSAN_OPTIONS")}) {
        if (system.contains(name))
            environment.insert(name, system.value(name));
    }
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return environment;
}

// The default sources, all inside the tree: an empty mount table keeps / out.
QProcessEnvironment defaultSources(TestTree& tree)
{
    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("HOME"), tree.folder(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), tree.folder(QStringLiteral("data-home")));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), tree.folder(QStringLiteral("data1")) +
                                                            QLatin1Char(':') +
                                                            tree.folder(QStringLiteral("data2")));
    environment.insert(QStringLiteral("PATH"), tree.folder(QStringLiteral("bin1")) + QLatin1Char(':') +
                                                   tree.folder(QStringLiteral("bin2")));
    environment.insert(QStringLiteral("QUELLMARK_MOUNTINFO"), tree.file(QStringLiteral("mountinfo")));
    return environment;
}

QByteArray rawRoot(const TestTree& tree)
{
    return QFile::encodeName(tree.root());
}

QByteArrayList absolutePaths(const TestTree& tree, const QStringList& relative)
{
    QByteArrayList paths;
    for (const QString& path : relative)
        paths.append(rawRoot(tree) + '/' + path.toUtf8());
    return paths;
}

QString withRoot(const TestTree& tree, QString text)
{
    return text.replace(QLatin1Char('@'), tree.root());
}

// Splits the output after checking its form: LF-terminated lines, none empty, none twice.
QByteArrayList checkedLines(const Result& result)
{
    if (!result.finished || result.exitCode != 0) {
        qWarning("the finder did not finish normally (exit code %d)", result.exitCode);
        return {QByteArrayLiteral("<finder failed>")};
    }
    if (!result.output.isEmpty() && !result.output.endsWith('\n'))
        return {QByteArrayLiteral("<last line not terminated>")};
    QByteArrayList lines = result.output.split('\n');
    lines.removeLast();
    if (lines.contains(QByteArray()))
        return {QByteArrayLiteral("<empty line>")};
    if (QSet<QByteArray>(lines.begin(), lines.end()).size() != lines.size())
        lines.append(QByteArrayLiteral("<a path printed twice>"));
    std::sort(lines.begin(), lines.end());
    return lines;
}

QByteArrayList sorted(QByteArrayList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

void makeLayout(TestTree& tree, const QStringList& folders, const QStringList& files,
                const QStringList& links)
{
    for (const QString& folder : folders)
        tree.folder(folder);
    for (const QString& file : files)
        tree.file(file);
    for (const QString& link : links) {
        const qsizetype equals = link.indexOf(QLatin1Char('='));
        tree.symlink(link.mid(equals + 1), link.left(equals));
    }
}

bool makeRawFolder(const QByteArray& path, mode_t mode = 0755)
{
    return ::mkdir(path.constData(), mode) == 0;
}

void addLayoutColumns()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<QStringList>("expected");
}

} // namespace

class TestFindApps : public QObject
{
    Q_OBJECT

private slots:
    void bundlesBelowRoots_data();
    void bundlesBelowRoots();
    void nonUtf8NamePrintedRaw();
    void lineFeedInNameLeftOut();
    void unreadableFoldersPassedOver();
    void pathLongerThanPathMax();
    void homeApplications_data();
    void homeApplications();
    void desktopEntries_data();
    void desktopEntries();
    void mountedVolumes_data();
    void mountedVolumes();
    void sameVolumeMountedTwice();
    void givenRootsReplaceDefaults();
    void usage();
};

void TestFindApps::bundlesBelowRoots_data()
{
    QTest::addColumn<QString>("roots");
    addLayoutColumns();
    const QStringList none;

    QTest::newRow("Applications") << QStringLiteral("@/r")
                                  << QStringList{QStringLiteral("r/Applications/A.app/Contents/MacOS"),
                                                 QStringLiteral("r/Applications/Utilities/B.app"),
                                                 QStringLiteral("r/Applications/Plain/Deeper")}
                                  << QStringList{QStringLiteral("r/Applications/NotAFolder.app"),
                                                 QStringLiteral("r/Applications/A.app/Contents/MacOS/A")}
                                  << none
                                  << QStringList{QStringLiteral("r/Applications/A.app"),
                                                 QStringLiteral("r/Applications/Utilities/B.app")};
    QTest::newRow("System/Applications")
        << QStringLiteral("@/r")
        << QStringList{QStringLiteral("r/System/Applications/C.app"),
                       QStringLiteral("r/System/Library/D.app")}
        << none << none << QStringList{QStringLiteral("r/System/Applications/C.app")};
    QTest::newRow("Users/*/Applications")
        << QStringLiteral("@/r")
        << QStringList{QStringLiteral("r/Users/alice/Applications/D.app"),
                       QStringLiteral("r/Users/bob/Applications/Games/E.app"),
                       QStringLiteral("r/Users/carol/Documents/F.app"),
                       QStringLiteral("r/Users/Shared/G.app")}
        << none << none
        << QStringList{QStringLiteral("r/Users/alice/Applications/D.app"),
                       QStringLiteral("r/Users/bob/Applications/Games/E.app")};
    QTest::newRow("other folders of a volume are not searched")
        << QStringLiteral("@/r")
        << QStringList{QStringLiteral("r/Applications/A.app"), QStringLiteral("r/System/Applications/B.app"),
                       QStringLiteral("r/Users/u/Applications/C.app"), QStringLiteral("r/Library/X.app")}
        << none << none
        << QStringList{QStringLiteral("r/Applications/A.app"), QStringLiteral("r/System/Applications/B.app"),
                       QStringLiteral("r/Users/u/Applications/C.app")};
    QTest::newRow("empty Applications folder still makes a volume")
        << QStringLiteral("@/r")
        << QStringList{QStringLiteral("r/Applications"), QStringLiteral("r/Other/X.app")} << none << none
        << none;
    QTest::newRow("nested bundles")
        << QStringLiteral("@/r")
        << QStringList{QStringLiteral("r/Applications/X.app/Contents/Applications/Y.app/Contents/Z.app"),
                       QStringLiteral("r/Applications/X.app/Contents/Library/LoginItems/H.app")}
        << none << none
        << QStringList{QStringLiteral("r/Applications/X.app"),
                       QStringLiteral("r/Applications/X.app/Contents/Applications/Y.app"),
                       QStringLiteral("r/Applications/X.app/Contents/Applications/Y.app/Contents/Z.app"),
                       QStringLiteral("r/Applications/X.app/Contents/Library/LoginItems/H.app")};
    QTest::newRow("names that are not bundles")
        << QStringLiteral("@/r")
        << QStringList{QStringLiteral("r/Applications/.app"), QStringLiteral("r/Applications/Upper.APP"),
                       QStringLiteral("r/Applications/app"), QStringLiteral("r/Applications/x.apps"),
                       QStringLiteral("r/Applications/x.app.d")}
        << none << none << none;
    QTest::newRow("plain folder of bundles")
        << QStringLiteral("@/plain")
        << QStringList{QStringLiteral("plain/One.app"), QStringLiteral("plain/group/Two.app"),
                       QStringLiteral("plain/Two.app/Contents/Three.app")}
        << none << none
        << QStringList{QStringLiteral("plain/One.app"), QStringLiteral("plain/group/Two.app"),
                       QStringLiteral("plain/Two.app"), QStringLiteral("plain/Two.app/Contents/Three.app")};
    QTest::newRow("two roots") << QStringLiteral("@/r1:@/r2")
                               << QStringList{QStringLiteral("r1/Applications/A.app"),
                                              QStringLiteral("r2/B.app")}
                               << none << none
                               << QStringList{QStringLiteral("r1/Applications/A.app"),
                                              QStringLiteral("r2/B.app")};
    QTest::newRow("empty components")
        << QStringLiteral("::@/r1:::") << QStringList{QStringLiteral("r1/Applications/A.app")} << none << none
        << QStringList{QStringLiteral("r1/Applications/A.app")};
    QTest::newRow("trailing slashes")
        << QStringLiteral("@/r//") << QStringList{QStringLiteral("r/Applications/A.app")} << none << none
        << QStringList{QStringLiteral("r/Applications/A.app")};
    QTest::newRow("missing root and file root")
        << QStringLiteral("@/nothing:@/afile:@/r") << QStringList{QStringLiteral("r/Applications/A.app")}
        << QStringList{QStringLiteral("afile")} << none
        << QStringList{QStringLiteral("r/Applications/A.app")};
    QTest::newRow("symbolic links inside are not followed")
        << QStringLiteral("@/r")
        << QStringList{QStringLiteral("r/Applications/Real.app"), QStringLiteral("elsewhere/Outside.app"),
                       QStringLiteral("elsewhere/Inner/In.app")}
        << none
        << QStringList{QStringLiteral("r/Applications/Link.app=../../elsewhere/Outside.app"),
                       QStringLiteral("r/Applications/LinkDir=../../elsewhere")}
        << QStringList{QStringLiteral("r/Applications/Real.app")};
    QTest::newRow("symbolic link in a plain folder is not followed")
        << QStringLiteral("@/plain")
        << QStringList{QStringLiteral("plain/Real.app"), QStringLiteral("store/Kept.app")} << none
        << QStringList{QStringLiteral("plain/Link.app=../store/Kept.app")}
        << QStringList{QStringLiteral("plain/Real.app")};
    QTest::newRow("linked Applications folder is not followed")
        << QStringLiteral("@/r") << QStringList{QStringLiteral("store/A.app"), QStringLiteral("r")} << none
        << QStringList{QStringLiteral("r/Applications=../store")} << none;
    QTest::newRow("root given as a symbolic link")
        << QStringLiteral("@/rootlink") << QStringList{QStringLiteral("r/Applications/A.app")} << none
        << QStringList{QStringLiteral("rootlink=r")}
        << QStringList{QStringLiteral("rootlink/Applications/A.app")};
    QTest::newRow("same folder through two roots")
        << QStringLiteral("@/r:@/rootlink") << QStringList{QStringLiteral("r/Applications/A.app")} << none
        << QStringList{QStringLiteral("rootlink=r")} << QStringList{QStringLiteral("r/Applications/A.app")};
    QTest::newRow("same root twice") << QStringLiteral("@/r:@/r/")
                                     << QStringList{QStringLiteral("r/Applications/A.app")} << none << none
                                     << QStringList{QStringLiteral("r/Applications/A.app")};
    QTest::newRow("root inside another root")
        << QStringLiteral("@/plain:@/plain/group")
        << QStringList{QStringLiteral("plain/One.app"), QStringLiteral("plain/group/Two.app")} << none << none
        << QStringList{QStringLiteral("plain/One.app"), QStringLiteral("plain/group/Two.app")};
}

void TestFindApps::bundlesBelowRoots()
{
    QFETCH(QString, roots);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, files);
    QFETCH(QStringList, links);
    QFETCH(QStringList, expected);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    makeLayout(tree, folders, files, links);

    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("QUELLMARK_APP_ROOTS"), withRoot(tree, roots));
    const Result first = runFinder(environment);
    QCOMPARE(checkedLines(first), sorted(absolutePaths(tree, expected)));
    // The order is not sorted, but it must not change between runs.
    QCOMPARE(runFinder(environment).output, first.output);
}

void TestFindApps::nonUtf8NamePrintedRaw()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.folder(QStringLiteral("r/Applications"));
    const QByteArray latin1 = rawRoot(tree) + "/r/Applications/Caf\xe9.app";
    const QByteArray nested = latin1 + "/\xff\xfe.app";
    QVERIFY(makeRawFolder(latin1));
    QVERIFY(makeRawFolder(nested));

    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("QUELLMARK_APP_ROOTS"), tree.path(QStringLiteral("r")));
    QCOMPARE(checkedLines(runFinder(environment)), sorted({latin1, nested}));
}

void TestFindApps::lineFeedInNameLeftOut()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.folder(QStringLiteral("r/Applications/Fine.app"));
    tree.folder(QStringLiteral("r/Applications/Two"));
    QVERIFY(makeRawFolder(rawRoot(tree) + "/r/Applications/Two\nLines.app"));
    // Its contents are still searched.
    QVERIFY(makeRawFolder(rawRoot(tree) + "/r/Applications/Two\nLines.app/Inner.app"));

    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("QUELLMARK_APP_ROOTS"), tree.path(QStringLiteral("r")));
    QCOMPARE(checkedLines(runFinder(environment)),
             sorted(absolutePaths(tree, {QStringLiteral("r/Applications/Fine.app")})));
}

void TestFindApps::unreadableFoldersPassedOver()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.folder(QStringLiteral("r/Applications/Open.app"));
    tree.folder(QStringLiteral("r/Applications/Locked/Hidden.app"));
    tree.folder(QStringLiteral("r/Applications/Closed.app/Contents/Inner.app"));
    tree.folder(QStringLiteral("r/Applications/Later/Last.app"));
    tree.openToOthers();
    const QByteArray locked = QFile::encodeName(tree.path(QStringLiteral("r/Applications/Locked")));
    const QByteArray closed = QFile::encodeName(tree.path(QStringLiteral("r/Applications/Closed.app")));
    QCOMPARE(::chmod(locked.constData(), 0), 0);
    QCOMPARE(::chmod(closed.constData(), 0), 0);

    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("QUELLMARK_APP_ROOTS"), tree.path(QStringLiteral("r")));
    QStringList prefix = TestTree::unprivilegedPrefix();
    if (!prefix.isEmpty())
        prefix.first() = QStandardPaths::findExecutable(prefix.first());
    const QByteArrayList lines = checkedLines(runFinder(environment, {}, prefix));
    ::chmod(locked.constData(), 0755);
    ::chmod(closed.constData(), 0755);

    // A bundle that cannot be opened is still an application; only its inside is unknown.
    QCOMPARE(lines, sorted(absolutePaths(tree, {QStringLiteral("r/Applications/Open.app"),
                                                QStringLiteral("r/Applications/Closed.app"),
                                                QStringLiteral("r/Applications/Later/Last.app")})));
}

void TestFindApps::pathLongerThanPathMax()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    tree.folder(QStringLiteral("r/Applications"));
    const QByteArray applications = QFile::encodeName(tree.path(QStringLiteral("r/Applications")));
    const QByteArray step(200, 'd');
    // Built with descriptors, since a path this long cannot be named in one call.
    std::vector<int> fds{::open(applications.constData(), O_RDONLY | O_DIRECTORY)};
    QByteArray deepest = applications;
    while (deepest.size() < PATH_MAX + 400) {
        QCOMPARE(::mkdirat(fds.back(), step.constData(), 0755), 0);
        fds.push_back(::openat(fds.back(), step.constData(), O_RDONLY | O_DIRECTORY));
        QVERIFY(fds.back() >= 0);
        deepest += '/' + step;
    }
    QCOMPARE(::mkdirat(fds.back(), "Deep.app", 0755), 0);
    QCOMPARE(::mkdirat(fds.back(), "Deep.app/Deeper.app", 0755), 0);

    QProcessEnvironment environment = bareEnvironment();
    environment.insert(QStringLiteral("QUELLMARK_APP_ROOTS"), tree.path(QStringLiteral("r")));
    const QByteArrayList lines = checkedLines(runFinder(environment));

    ::unlinkat(fds.back(), "Deep.app/Deeper.app", AT_REMOVEDIR);
    ::unlinkat(fds.back(), "Deep.app", AT_REMOVEDIR);
    for (size_t i = fds.size() - 1; i > 0; --i) {
        ::close(fds[i]);
        ::unlinkat(fds[i - 1], step.constData(), AT_REMOVEDIR);
    }
    ::close(fds.front());

    QCOMPARE(lines, sorted({deepest + "/Deep.app", deepest + "/Deep.app/Deeper.app"}));
}

void TestFindApps::homeApplications_data()
{
    addLayoutColumns();
    const QStringList none;
    QTest::newRow("bundles")
        << QStringList{QStringLiteral("home/Applications/Bundle.app/Contents/Nested.app"),
                       QStringLiteral("home/Applications/Group/Other.app")}
        << none << none
        << QStringList{QStringLiteral("home/Applications/Bundle.app"),
                       QStringLiteral("home/Applications/Bundle.app/Contents/Nested.app"),
                       QStringLiteral("home/Applications/Group/Other.app")};
    QTest::newRow("AppImages") << QStringList{QStringLiteral("home/Applications/Folder.AppImage"),
                                              QStringLiteral("home/Applications/sub")}
                               << QStringList{QStringLiteral("home/Applications/Tool.AppImage"),
                                              QStringLiteral("home/Applications/lower.appimage"),
                                              QStringLiteral("home/Applications/Shout.APPIMAGE"),
                                              QStringLiteral("home/Applications/sub/Deep.AppImage"),
                                              QStringLiteral("home/Applications/Tool.AppImage.zsync"),
                                              QStringLiteral("home/Applications/.AppImage"),
                                              QStringLiteral("home/Loose.AppImage")}
                               << QStringList{QStringLiteral("home/Applications/Link.AppImage=Tool.AppImage")}
                               << QStringList{QStringLiteral("home/Applications/Tool.AppImage"),
                                              QStringLiteral("home/Applications/lower.appimage"),
                                              QStringLiteral("home/Applications/Shout.APPIMAGE")};
    QTest::newRow("~/Applications itself may be a link")
        << QStringList{QStringLiteral("apps/A.app")} << QStringList{QStringLiteral("apps/B.AppImage")}
        << QStringList{QStringLiteral("home/Applications=../apps")}
        << QStringList{QStringLiteral("home/Applications/A.app"),
                       QStringLiteral("home/Applications/B.AppImage")};
    QTest::newRow("bundles elsewhere in home are not listed")
        << QStringList{QStringLiteral("home/Desktop/A.app"),
                       QStringLiteral("home/Users/u/Applications/B.app")}
        << QStringList{QStringLiteral("home/C.AppImage")} << none << none;
}

void TestFindApps::homeApplications()
{
    QFETCH(QStringList, folders);
    QFETCH(QStringList, files);
    QFETCH(QStringList, links);
    QFETCH(QStringList, expected);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QProcessEnvironment environment = defaultSources(tree);
    makeLayout(tree, folders, files, links);
    QCOMPARE(checkedLines(runFinder(environment)), sorted(absolutePaths(tree, expected)));
}

void TestFindApps::desktopEntries_data()
{
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QStringList>("programs");
    QTest::addColumn<QStringList>("expected");
    const QByteArray app = "[Desktop Entry]\nType=Application\n";
    // Programs made executable in the fixture; bin1 comes before bin2 on PATH.
    const QStringList programs{QStringLiteral("bin1/alpha"),     QStringLiteral("bin1/beta"),
                               QStringLiteral("bin2/beta"),      QStringLiteral("bin2/gamma"),
                               QStringLiteral("opt/My Program"), QStringLiteral("opt/say \"hi\""),
                               QStringLiteral("opt/tool"),       QStringLiteral("opt/100%tool")};

    QTest::newRow("Type=Application only")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=alpha\n"},
                   {QStringLiteral("data1/applications/b.desktop"),
                    "[Desktop Entry]\nType=Link\nExec=beta\n"},
                   {QStringLiteral("data1/applications/c.desktop"), "[Desktop Entry]\nExec=gamma\n"}}
        << programs << QStringList{QStringLiteral("bin1/alpha")};
    QTest::newRow("TryExec preferred")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=alpha\nTryExec=gamma\n"}}
        << programs << QStringList{QStringLiteral("bin2/gamma")};
    QTest::newRow("missing TryExec lists nothing")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "TryExec=absent\nExec=alpha\n"}}
        << programs << QStringList{};
    QTest::newRow("quoted first word, arguments, field codes")
        << Entries{{QStringLiteral("data1/applications/a.desktop"),
                    app + "Exec=\"@/opt/My Program\" --name=%c %U\n"},
                   {QStringLiteral("data1/applications/b.desktop"),
                    app + "Exec=alpha %f --x=%% \"quoted arg\"\n"}}
        << programs << QStringList{QStringLiteral("opt/My Program"), QStringLiteral("bin1/alpha")};
    QTest::newRow("escapes inside quotes") << Entries{{QStringLiteral("data1/applications/a.desktop"),
                                                       app + "Exec=\"@/opt/say \\\\\"hi\\\\\"\" %F\n"}}
                                           << programs << QStringList{QStringLiteral("opt/say \"hi\"")};
    QTest::newRow("escaped percent sign in the program")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=@/opt/100%%tool %u\n"}}
        << programs << QStringList{QStringLiteral("opt/100%tool")};
    QTest::newRow("unterminated quote")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=\"@/opt/tool\n"}} << programs
        << QStringList{};
    QTest::newRow("blanks around keys and values")
        << Entries{{QStringLiteral("data1/applications/a.desktop"),
                    "# comment\n[Desktop Entry]\r\nType = Application \r\nExec =  gamma --x\r\n"}}
        << programs << QStringList{QStringLiteral("bin2/gamma")};
    QTest::newRow("resolution through PATH in order")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=beta\n"},
                   {QStringLiteral("data1/applications/b.desktop"), app + "Exec=gamma\n"}}
        << programs << QStringList{QStringLiteral("bin1/beta"), QStringLiteral("bin2/gamma")};
    QTest::newRow("not executable or not a file is skipped on PATH")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=delta\n"},
                   {QStringLiteral("data1/applications/b.desktop"), app + "Exec=folder\n"}}
        << QStringList{QStringLiteral("bin1/delta:0644"), QStringLiteral("bin2/delta"),
                       QStringLiteral("bin1/folder/")}
        << QStringList{QStringLiteral("bin2/delta")};
    QTest::newRow("absolute program kept, relative ignored")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=@/opt/tool\n"},
                   {QStringLiteral("data1/applications/b.desktop"), app + "Exec=opt/tool\n"},
                   {QStringLiteral("data1/applications/c.desktop"), app + "Exec=@/opt/absent\n"}}
        << programs << QStringList{QStringLiteral("opt/tool")};
    QTest::newRow("missing program") << Entries{{QStringLiteral("data1/applications/a.desktop"),
                                                 app + "Exec=nothere\n"},
                                                {QStringLiteral("data1/applications/b.desktop"), app}}
                                     << programs << QStringList{};
    QTest::newRow("Hidden=true hides a lower duplicate")
        << Entries{{QStringLiteral("data-home/applications/x.desktop"), app + "Hidden=true\nExec=alpha\n"},
                   {QStringLiteral("data1/applications/x.desktop"), app + "Exec=gamma\n"},
                   {QStringLiteral("data2/applications/y.desktop"), app + "Hidden=false\nExec=beta\n"}}
        << programs << QStringList{QStringLiteral("bin1/beta")};
    QTest::newRow("first id wins, XDG_DATA_HOME first")
        << Entries{{QStringLiteral("data-home/applications/x.desktop"), app + "Exec=alpha\n"},
                   {QStringLiteral("data1/applications/x.desktop"), app + "Exec=beta\n"},
                   {QStringLiteral("data1/applications/y.desktop"), app + "Exec=gamma\n"},
                   {QStringLiteral("data2/applications/y.desktop"), app + "Exec=@/opt/tool\n"}}
        << programs << QStringList{QStringLiteral("bin1/alpha"), QStringLiteral("bin2/gamma")};
    QTest::newRow("a non-application entry still claims its id")
        << Entries{{QStringLiteral("data1/applications/x.desktop"),
                    "[Desktop Entry]\nType=Link\nExec=alpha\n"},
                   {QStringLiteral("data2/applications/x.desktop"), app + "Exec=gamma\n"}}
        << programs << QStringList{};
    QTest::newRow("subfolder ids")
        << Entries{{QStringLiteral("data1/applications/vendor/z.desktop"), app + "Exec=alpha\n"},
                   {QStringLiteral("data2/applications/vendor-z.desktop"), app + "Exec=gamma\n"},
                   {QStringLiteral("data2/applications/more/deep/q.desktop"), app + "Exec=beta\n"}}
        << programs << QStringList{QStringLiteral("bin1/alpha"), QStringLiteral("bin1/beta")};
    QTest::newRow("only the [Desktop Entry] group")
        << Entries{{QStringLiteral("data1/applications/a.desktop"),
                    "[Desktop Action new]\nExec=beta\n[Desktop Entry]\nType=Application\nExec[de]=gamma\n"
                    "Exec=alpha\n[Desktop Action other]\nExec=@/opt/tool\n"},
                   {QStringLiteral("data1/applications/b.desktop"),
                    "[Desktop Entry]\nExec=gamma\n[Other]\nType=Application\n"}}
        << programs << QStringList{QStringLiteral("bin1/alpha")};
    QTest::newRow("only .desktop files")
        << Entries{{QStringLiteral("data1/applications/a.txt"), app + "Exec=alpha\n"},
                   {QStringLiteral("data1/a.desktop"), app + "Exec=beta\n"}}
        << programs << QStringList{};
    QTest::newRow("same program from two entries")
        << Entries{{QStringLiteral("data1/applications/a.desktop"), app + "Exec=alpha\n"},
                   {QStringLiteral("data2/applications/b.desktop"), app + "TryExec=alpha\nExec=gamma\n"}}
        << programs << QStringList{QStringLiteral("bin1/alpha")};
}

void TestFindApps::desktopEntries()
{
    QFETCH(Entries, entries);
    QFETCH(QStringList, programs);
    QFETCH(QStringList, expected);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QProcessEnvironment environment = defaultSources(tree);
    for (const auto& [path, content] : entries)
        tree.file(path, QByteArray(content).replace('@', rawRoot(tree)));
    for (const QString& program : programs) {
        if (program.endsWith(QLatin1Char('/'))) {
            tree.folder(program);
            continue;
        }
        const qsizetype colon = program.indexOf(QLatin1Char(':'));
        const QByteArray path = QFile::encodeName(tree.file(program.left(colon)));
        QCOMPARE(
            ::chmod(path.constData(), colon < 0 ? 0755 : mode_t(program.mid(colon + 1).toUInt(nullptr, 8))),
            0);
    }
    QCOMPARE(checkedLines(runFinder(environment)), sorted(absolutePaths(tree, expected)));
}

void TestFindApps::mountedVolumes_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("optional");
    QTest::addColumn<bool>("listed");
    QTest::newRow("ext4") << QByteArray("ext4") << QByteArray("shared:1") << true;
    QTest::newRow("no optional fields") << QByteArray("ext4") << QByteArray() << true;
    QTest::newRow("two optional fields") << QByteArray("xfs") << QByteArray("shared:1 master:2") << true;
    QTest::newRow("tmpfs outside /run") << QByteArray("tmpfs") << QByteArray() << true;
    for (const char* type : {"proc", "sysfs", "cgroup2", "devpts", "autofs", "nsfs", "nfs4", "fuse.sshfs"})
        QTest::newRow(type) << QByteArray(type) << QByteArray() << false;
}

void TestFindApps::mountedVolumes()
{
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, optional);
    QFETCH(bool, listed);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    QProcessEnvironment environment = defaultSources(tree);
    tree.folder(QStringLiteral("vol 1/Applications/A.app"));
    tree.folder(QStringLiteral("vol 1/Users/u/Applications/B.app"));
    // The mount point's blank is written escaped, as the kernel does.
    const QByteArray mountPoint = rawRoot(tree) + "/vol\\0401";
    const QByteArray fields = optional.isEmpty() ? QByteArray() : optional + ' ';
    tree.file(QStringLiteral("mountinfo"),
              "36 1 8:1 / " + mountPoint + " rw,relatime " + fields + "- " + type + " /dev/sda1 rw\n");
    const QStringList expected = listed ? QStringList{QStringLiteral("vol 1/Applications/A.app"),
                                                      QStringLiteral("vol 1/Users/u/Applications/B.app")}
                                        : QStringList{};
    QCOMPARE(checkedLines(runFinder(environment)), sorted(absolutePaths(tree, expected)));
}

void TestFindApps::sameVolumeMountedTwice()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    QProcessEnvironment environment = defaultSources(tree);
    tree.folder(QStringLiteral("vol/Applications/A.app"));
    tree.symlink(QStringLiteral("vol"), QStringLiteral("bound"));
    const QByteArray vol = rawRoot(tree) + "/vol";
    const QByteArray bound = rawRoot(tree) + "/bound";
    // A broken line, then the volume twice at one point and once more where a bind mount would show it.
    tree.file(QStringLiteral("mountinfo"), "garbage\n"
                                           "36 1 8:1 / " +
                                               vol +
                                               " rw - ext4 /dev/sda1 rw\n"
                                               "37 1 8:1 / " +
                                               vol +
                                               " rw - ext4 /dev/sda1 rw\n"
                                               "38 1 8:1 / " +
                                               bound + " rw - ext4 /dev/sda1 rw\n");
    QCOMPARE(checkedLines(runFinder(environment)),
             sorted(absolutePaths(tree, {QStringLiteral("vol/Applications/A.app")})));
}

void TestFindApps::givenRootsReplaceDefaults()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    QProcessEnvironment environment = defaultSources(tree);
    tree.folder(QStringLiteral("home/Applications/Home.app"));
    tree.file(QStringLiteral("home/Applications/Tool.AppImage"));
    tree.folder(QStringLiteral("vol/Applications/Mounted.app"));
    tree.file(QStringLiteral("mountinfo"), "36 1 8:1 / " + rawRoot(tree) + "/vol rw - ext4 /dev/sda1 rw\n");
    tree.file(QStringLiteral("data1/applications/a.desktop"),
              "[Desktop Entry]\nType=Application\nExec=alpha\n");
    const QByteArray alpha = QFile::encodeName(tree.file(QStringLiteral("bin1/alpha")));
    QCOMPARE(::chmod(alpha.constData(), 0755), 0);
    tree.folder(QStringLiteral("given/Applications/Given.app"));

    // The defaults alone find all four sources, so the fixture is sound.
    QCOMPARE(checkedLines(runFinder(environment)),
             sorted(absolutePaths(tree, {QStringLiteral("home/Applications/Home.app"),
                                         QStringLiteral("home/Applications/Tool.AppImage"),
                                         QStringLiteral("vol/Applications/Mounted.app"),
                                         QStringLiteral("bin1/alpha")})));
    environment.insert(QStringLiteral("QUELLMARK_APP_ROOTS"), tree.path(QStringLiteral("given")));
    QCOMPARE(checkedLines(runFinder(environment)),
             sorted(absolutePaths(tree, {QStringLiteral("given/Applications/Given.app")})));
}

void TestFindApps::usage()
{
    const Result help = runFinder(bareEnvironment(), {QStringLiteral("--help")});
    QVERIFY(help.finished);
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.output.contains("QUELLMARK_APP_ROOTS"));
    QVERIFY(help.output.contains("QUELLMARK_MOUNTINFO"));

    const Result wrong = runFinder(bareEnvironment(), {QStringLiteral("--bogus")});
    QVERIFY(wrong.finished);
    QCOMPARE(wrong.exitCode, 2);
    QVERIFY(wrong.output.isEmpty());
}

QTEST_GUILESS_MAIN(TestFindApps)
#include "tst_findapps.moc"
