#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QFile>
#include <QtTest>

namespace {

// Makes the tree from `layout`, a shell script run in it (whose mkdir -p reaches past PATH_MAX),
// with d FOLDER..., f FILE [CONTENT], x PROGRAM... (executable), l TARGET LINK. '@' stands for the
// tree and "[app]" for the head of an application's desktop entry.
bool build(const QByteArray& root, QByteArray layout)
{
    const QByteArray script =
        "set -e; umask 022; export LC_ALL=C PATH=/usr/bin:/bin\n"
        "d() { mkdir -p \"$@\"; }; f() { d \"$(dirname \"$1\")\"; printf %s \"${2-}\" > \"$1\"; }\n"
        "x() { for p; do f \"$p\"; chmod 755 \"$p\"; done; }; l() { d \"$(dirname \"$2\")\"; ln -s \"$1\" "
        "\"$2\"; }\n";
    layout.replace('@', root).replace("[app]", "[Desktop Entry]\nType=Application");
    return ToolRun{"/bin/bash", {"-c", script + layout}, root}.run().status == 0;
}

} // namespace

class TestFindApps : public QObject
{
    Q_OBJECT

private slots:
    void find_data();
    void find();
};

void TestFindApps::find_data()
{
    QTest::addColumn<QString>("roots");
    QTest::addColumn<QByteArray>("layout");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray deep = "r/Applications/" + QByteArray(QByteArray(200, 'd') + '/').repeated(22);
    // HOME is @/home, XDG_DATA_HOME @/dh, XDG_DATA_DIRS @/d1:@/d2, PATH @/b1:@/b2; each
    // desktop entry names a program of its own, so that an entry wrongly taken shows up.
    const QByteArray defaults =
        "d home/Applications/Bundle.app/Contents/Nested.app home/Applications/Dir.AppImage "
        "home/Desktop/X.app "
        "'vol 1/Users/u/Applications/V.app' pv/Applications/P.app\n"
        "f home/Applications/Tool.AppImage; f home/Applications/lower.appimage; f home/Loose.AppImage\n"
        "f home/Applications/sub/Deep.AppImage; f b1/delta\n"
        "f mountinfo '36 1 8:1 / @/vol\\0401 rw shared:1 - ext4 /dev/sda1 rw\n"
        "37 1 8:1 / @/vol\\0401 rw - ext4 /dev/sda1 rw\n38 1 0:4 / @/pv rw shared:2 master:1 - proc proc "
        "rw\n'\n"
        "x b1/{linked,tried,exec,beta,hidden,shadowed,first,second,vendor,vendor2,action,main,open} "
        "b2/{beta,delta} 'opt/My Program'\n"
        "f d1/applications/link.desktop '[Desktop Entry]\nType=Link\nExec=linked'\n"
        "f d1/applications/try.desktop '[app]\nTryExec=tried\nExec=exec'\n"
        "f d1/applications/quoted.desktop '[app]\nExec=\"@/opt/My Program\" --name=%c %U'\n"
        "f d1/applications/beta.desktop '[app]\nExec=beta %f'\n"
        "f d2/applications/again.desktop '[app]\nTryExec=beta'\n"
        "f d2/applications/delta.desktop '[app]\nExec=delta'\n"
        "f d2/applications/absent.desktop '[app]\nExec=absent'\n"
        "f d2/applications/gone.desktop '[app]\nExec=@/opt/gone'\n"
        "f d2/applications/open.desktop '[app]\nExec=\"open'\n"
        "f dh/applications/h.desktop '[app]\nHidden=true\nExec=hidden'\n"
        "f d1/applications/h.desktop '[app]\nExec=shadowed'\n"
        "f dh/applications/w.desktop '[app]\nExec=first'\n"
        "f d2/applications/w.desktop '[app]\nExec=second'\n"
        "f d1/applications/vendor/z.desktop '[app]\nExec=vendor'\n"
        "f d2/applications/vendor-z.desktop '[app]\nExec=vendor2'\n"
        "f d2/applications/act.desktop '[Desktop Action a]\nExec=action\n[app]\nExec=main'\n";

    QTest::newRow("bundles below a volume's Applications folders")
        << QStringLiteral("@/r")
        << QByteArray("d r/Applications/{A.app/Contents/Helpers/H.app,Utilities/B.app,x.app.d,.app} "
                      "r/System/{Applications/C.app,Library/N.app} r/Users/u/Applications/Games/D.app "
                      "r/Users/v/Documents/N.app r/Library/N.app; f r/Applications/File.app")
        << QByteArray("r/Applications/A.app;r/Applications/A.app/Contents/Helpers/H.app;"
                      "r/Applications/Utilities/B.app;r/System/Applications/C.app;"
                      "r/Users/u/Applications/Games/D.app");
    QTest::newRow("links, raw names, closed folders, paths past PATH_MAX")
        << QStringLiteral("@/r")
        << "d " + deep +
               "Deep.app/Deeper.app store/S.app 'r/Applications/Caf\xe9.app/\xff.app' 'r/Applications/Two\n"
               "Lines.app' r/Applications/{Open.app,Closed.app/Inner.app,Locked/Hidden.app}\n"
               "l ../../store/S.app r/Applications/Link.app; l ../../store r/Applications/LinkDir\n"
               "chmod 0 r/Applications/Closed.app r/Applications/Locked"
        << QByteArray("r/Applications/Caf\xe9.app;r/Applications/Caf\xe9.app/\xff.app;"
                      "r/Applications/Closed.app;r/Applications/Open.app;")
               .append(deep + "Deep.app;" + deep + "Deep.app/Deeper.app");
    QTest::newRow("plain folders as roots, each path once")
        << QStringLiteral("::@/glink:./plain:@/none:@/r:@/rlink:@/r/:@/r2")
        << QByteArray(
               "d plain/One.app plain/group/Two.app/Contents/Three.app store/S.app r/Applications/A.app\n"
               "l ../store/S.app plain/Link.app; l r rlink; l ../store r2/Applications; l plain/group glink")
        << QByteArray("glink/Two.app;glink/Two.app/Contents/Three.app;plain/One.app;r/Applications/A.app");
    QTest::newRow("default sources: volumes, home, desktop entries")
        << QString() << defaults
        << QByteArray("home/Applications/Bundle.app;home/Applications/Bundle.app/Contents/Nested.app;"
                      "home/Applications/Tool.AppImage;home/Applications/lower.appimage;"
                      "vol 1/Users/u/Applications/V.app;b1/tried;opt/My Program;b1/beta;b2/delta;b1/first;"
                      "b1/vendor;b1/main");
    QTest::newRow("given roots replace all sources")
        << QStringLiteral("@/given") << defaults + "d given/Applications/G.app"
        << QByteArray("given/Applications/G.app");
}

void TestFindApps::find()
{
    QFETCH(QString, roots);
    QFETCH(QByteArray, layout);
    QFETCH(QByteArray, expected);
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QByteArray root = QFile::encodeName(tree.root());
    // An empty mount table keeps the machine's own volumes out.
    QVERIFY(build(root, "f mountinfo\n" + layout));
    tree.openToOthers();

    const auto inTree = [&](QByteArray value) { return value.replace('@', root); };
    qputenv("HOME", inTree("@/home"));
    qputenv("XDG_DATA_HOME", inTree("@/dh"));
    qputenv("XDG_DATA_DIRS", inTree("@/d1:@/d2"));
    qputenv("PATH", inTree("@/b1:@/b2"));
    qputenv("QUELLMARK_MOUNTINFO", inTree("@/mountinfo"));
    qputenv("QUELLMARK_APP_ROOTS", inTree(roots.toUtf8()));
    // As nobody when root, so that closed folders are closed.
    ToolRun call{FIND_APPS_PATH, {}, root};
    call.unprivileged = true;
    const ToolRun::Outcome outcome = call.run();
    QCOMPARE(outcome.err, QByteArray());
    QCOMPARE(outcome.status, 0);

    // Whole lines, each path once: the expected lists hold no repeats.
    QByteArrayList lines = outcome.out.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QByteArrayList paths = expected.split(';');
    for (QByteArray& path : paths)
        path.prepend(root + '/');
    std::sort(lines.begin(), lines.end());
    std::sort(paths.begin(), paths.end());
    QCOMPARE(lines, paths);
}

QTEST_GUILESS_MAIN(TestFindApps)
#include "tst_findapps.moc"
