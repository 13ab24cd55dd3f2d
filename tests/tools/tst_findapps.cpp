#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QFile>
#include <QtTest>

namespace {

// A word the shell takes as it is, whatever its bytes.
QByteArray quoted(QByteArray word)
{
    return '\'' + word.replace('\'', "'\\''") + '\'';
}

// Items apart by ';': "folder/", "file", "program*" (executable), "file = content",
// "link -> target", "folder !" (closed to everyone). '@' stands for the tree and "[app]"
// for the head of an application's desktop entry. Made by the shell, whose mkdir -p reaches
// past PATH_MAX.
bool build(const QByteArray& root, const QByteArray& layout)
{
    QByteArray script =
        "set -e; umask 022; PATH=/usr/bin:/bin\n"
        "d() { mkdir -p \"$(dirname \"$1\")\"; }; f() { d \"$1\"; printf %s \"$2\" > \"$1\"; }\n";
    for (QByteArray item : layout.split(';')) {
        item.replace('@', root).replace("[app]", "[Desktop Entry]\nType=Application");
        const qsizetype arrow = item.indexOf(" -> "), equals = item.indexOf(" = ");
        const QByteArray path = item.left(arrow >= 0 ? arrow : equals >= 0 ? equals : item.size());
        if (path.endsWith(" !"))
            script += "chmod 0 " + quoted(path.chopped(2)) + '\n';
        else if (path.endsWith('/'))
            script += "mkdir -p " + quoted(path) + '\n';
        else if (arrow >= 0)
            script +=
                "d " + quoted(path) + "; ln -s " + quoted(item.mid(arrow + 4)) + ' ' + quoted(path) + '\n';
        else if (path.endsWith('*'))
            script += "f " + quoted(path.chopped(1)) + "; chmod 755 " + quoted(path.chopped(1)) + '\n';
        else
            script +=
                "f " + quoted(path) + ' ' + quoted(item.mid(equals >= 0 ? equals + 3 : item.size())) + '\n';
    }
    return ToolRun{"/bin/bash", {"-c", script}, root}.run().status == 0;
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
    // desktop entry names a program of its own, so an entry wrongly taken shows up.
    const QByteArray defaults =
        "home/Applications/Bundle.app/Contents/Nested.app/;home/Applications/Tool.AppImage;"
        "home/Applications/lower.appimage;home/Applications/sub/Deep.AppImage;home/Loose.AppImage;"
        "home/Applications/Dir.AppImage/;home/Desktop/X.app/;"
        "vol 1/Users/u/Applications/V.app/;pv/Applications/P.app/;"
        "mountinfo = 36 1 8:1 / @/vol\\0401 rw shared:1 - ext4 /dev/sda1 rw\n"
        "37 1 8:1 / @/vol\\0401 rw - ext4 /dev/sda1 rw\n"
        "38 1 0:4 / @/pv rw shared:2 master:1 - proc proc rw\n;"
        "b1/linked*;b1/tried*;b1/exec*;b1/beta*;b2/beta*;b1/delta;b2/delta*;b1/hidden*;b1/shadowed*;"
        "b1/first*;b1/second*;b1/vendor*;b1/vendor2*;b1/action*;b1/main*;b1/open*;opt/My Program*;"
        "d1/applications/link.desktop = [Desktop Entry]\nType=Link\nExec=linked;"
        "d1/applications/try.desktop = [app]\nTryExec=tried\nExec=exec;"
        "d1/applications/quoted.desktop = [app]\nExec=\"@/opt/My Program\" --name=%c %U;"
        "d1/applications/beta.desktop = [app]\nExec=beta %f;"
        "d2/applications/again.desktop = [app]\nTryExec=beta;"
        "d2/applications/delta.desktop = [app]\nExec=delta;"
        "d2/applications/absent.desktop = [app]\nExec=absent;"
        "d2/applications/gone.desktop = [app]\nExec=@/opt/gone;"
        "d2/applications/open.desktop = [app]\nExec=\"open;"
        "dh/applications/h.desktop = [app]\nHidden=true\nExec=hidden;"
        "d1/applications/h.desktop = [app]\nExec=shadowed;"
        "dh/applications/w.desktop = [app]\nExec=first;"
        "d2/applications/w.desktop = [app]\nExec=second;"
        "d1/applications/vendor/z.desktop = [app]\nExec=vendor;"
        "d2/applications/vendor-z.desktop = [app]\nExec=vendor2;"
        "d2/applications/act.desktop = [Desktop Action a]\nExec=action\n[app]\nExec=main";

    QTest::newRow("bundles below a volume's Applications folders")
        << QStringLiteral("@/r")
        << QByteArray(
               "r/Applications/A.app/Contents/Helpers/H.app/;r/Applications/Utilities/B.app/;"
               "r/Applications/File.app;r/Applications/x.app.d/;r/Applications/.app/;"
               "r/System/Applications/C.app/;r/System/Library/N.app/;r/Users/u/Applications/Games/D.app/;"
               "r/Users/v/Documents/N.app/;r/Library/N.app/")
        << QByteArray("r/Applications/A.app;r/Applications/A.app/Contents/Helpers/H.app;"
                      "r/Applications/Utilities/B.app;r/System/Applications/C.app;"
                      "r/Users/u/Applications/Games/D.app");
    QTest::newRow("links, raw names, closed folders, paths past PATH_MAX")
        << QStringLiteral("@/r")
        << deep + "Deep.app/Deeper.app/;store/S.app/;r/Applications/Link.app -> ../../store/S.app;"
                  "r/Applications/LinkDir -> ../../store;r/Applications/Caf\xe9.app/\xff.app/;"
                  "r/Applications/Two\nLines.app/;r/Applications/Open.app/;"
                  "r/Applications/Closed.app/Inner.app/;r/Applications/Closed.app !;"
                  "r/Applications/Locked/Hidden.app/;r/Applications/Locked !"
        << QByteArray("r/Applications/Caf\xe9.app;r/Applications/Caf\xe9.app/\xff.app;"
                      "r/Applications/Closed.app;r/Applications/Open.app;")
               .append(deep + "Deep.app;" + deep + "Deep.app/Deeper.app");
    QTest::newRow("plain folders as roots, each path once")
        << QStringLiteral("::@/glink:./plain:@/none:@/r:@/rlink:@/r/:@/r2")
        << QByteArray(
               "plain/One.app/;plain/group/Two.app/Contents/Three.app/;plain/Link.app -> ../store/S.app;"
               "store/S.app/;r/Applications/A.app/;rlink -> r;r2/Applications -> ../store;"
               "glink -> plain/group")
        << QByteArray("glink/Two.app;glink/Two.app/Contents/Three.app;plain/One.app;r/Applications/A.app");
    QTest::newRow("default sources: volumes, home, desktop entries")
        << QString() << defaults
        << QByteArray("home/Applications/Bundle.app;home/Applications/Bundle.app/Contents/Nested.app;"
                      "home/Applications/Tool.AppImage;home/Applications/lower.appimage;"
                      "vol 1/Users/u/Applications/V.app;b1/tried;opt/My Program;b1/beta;b2/delta;b1/first;"
                      "b1/vendor;b1/main");
    QTest::newRow("given roots replace all sources")
        << QStringLiteral("@/given") << defaults + ";given/Applications/G.app/"
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
    QVERIFY(build(root, "mountinfo;" + layout));
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
