// Disk images written by the test writer, wrapped as the analysts get them (raw, GPT, E01,
// VMDK, VHD, .dmg) or as a Mac's FAT stick with AppleDouble files, crawled by quellmark-cli: the rows,
// the volumes, evidence left untouched, bad images.
#include "image/ImageVolumes.h"
#include "tests/image/UdifFile.h"
#include "tests/support/AppleDoubleFile.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

#include <sys/stat.h>
#include <sys/time.h>

namespace {

const QByteArray kHeader = "Filename,Provenance ID,Quarantine App,Path\n";
const QByteArray kProvenance = "❓ 0x0102008877665544332211";

QByteArray row(const QByteArray& name, const QByteArray& provenance, const QByteArray& quarantine,
               const QByteArray& path)
{
    return name + ',' + provenance + ',' + quarantine + ',' + path + '\n';
}

// The Data tree's rows (see apfs-image.py) where a crawl covers that volume alone; `cafe` is
// the row of its file whose name is not UTF-8, as the volume's format keeps it.
QByteArray dataVolume(const QByteArray& cafe, bool quarantine)
{
    return kHeader + row(".hidden", kProvenance, "", "/.hidden") + cafe +
           row("Downloads", kProvenance, "", "/Downloads/") +
           (quarantine ? row("empty.txt", "", "🔸 unknown", "/Downloads/empty.txt") : QByteArray()) +
           row("installer.dmg", kProvenance, quarantine ? "🔸 Safari" : "", "/Downloads/installer.dmg");
}

// A .dmg as hdiutil writes one of a disk: a partition of zeros where no partition map parses,
// then `disk` from sector 8 in 1 MiB chunks, stored as they compress best.
QByteArray dmg(const QByteArray& disk, quint32 chunkType)
{
    UdifFile udif;
    udif.partition("Driver Descriptor Map (DDM : 0)", -1).chunk(0, QByteArray(8 * 512, '\0'));
    udif.partition("disk image (Apple_APFS : 1)", 0);
    for (qsizetype at = 0; at < disk.size(); at += 1 << 20) {
        const QByteArray part = disk.sliced(at, std::min<qsizetype>(1 << 20, disk.size() - at));
        udif.chunk(part.count('\0') == part.size() ? 0 : at == 0 ? 1 : chunkType, part);
    }
    return udif.bytes();
}

} // namespace

class TestImageCrawl : public QObject
{
    Q_OBJECT

    TestTree m_tree; // the images, their parts and the password files

    QByteArray path(const char* name) const { return m_tree.rawPath(name); }
    void write(const char* name, const QByteArray& bytes) { m_tree.rawFile(name, bytes); }
    // Runs a program that makes an image: it must succeed.
    static void make(const QByteArray& program, const QByteArrayList& arguments)
    {
        const ToolRun::Outcome outcome = ToolRun(program, arguments).run();
        QVERIFY2(outcome.status == 0, (program + ": " + outcome.err).constData());
    }

private slots:
    void initTestCase();
    void crawl_data();
    void crawl();
};

void TestImageCrawl::initTestCase()
{
    QVERIFY2(m_tree.isValid(), m_tree.problem());
    write("wrong-password", "correct horse battery\n");
    write("right-password", "correct horse\n");
    make("/usr/bin/python3", {APFS_WRITER, path("raw.img")});
    make("/usr/bin/python3", {APFS_WRITER, path("locked.img"), "--password", "correct horse"});
    make("/usr/bin/python3", {APFS_WRITER, path("users.img"), "--users"});
    make("/usr/bin/python3", {APFS_WRITER, path("huge.img"), "--users", "--huge-policy"});
    make("/usr/bin/python3", {HFS_WRITER, path("hfs.img")});
    // The APFS container and the HFS+ volume, each in the one partition of a GPT disk; the HFS+
    // volume once more from 2 MiB on, where the second segment of a 2 MiB E01 set holds it.
    for (const auto& [disk, volume, sectors, type, start, end] :
         {std::tuple("gpt.img", "raw.img", 65536, "7C3457EF-0000-11AA-AA11-00306543ECAC", 2048, 2048),
          std::tuple("hfs-gpt.img", "hfs.img", 2048, "48465300-0000-11AA-AA11-00306543ECAC", 2048, 2048),
          std::tuple("hfs-late.img", "hfs.img", 2048, "48465300-0000-11AA-AA11-00306543ECAC", 4096, 40)}) {
        write(disk, {});
        QVERIFY(QFile::resize(QFile::decodeName(path(disk)), (start + sectors + end) * 512));
        make("/bin/sh",
             {"-c",
              "printf 'label: gpt\\nstart=%s, size=%s, type=%s\\n' \"$4\" \"$2\" \"$3\" | /sbin/sfdisk "
              "-q \"$0\" && "
              "dd if=\"$1\" of=\"$0\" bs=512 seek=\"$4\" conv=notrunc status=none",
              path(disk), path(volume), QByteArray::number(sectors), type, QByteArray::number(start)});
    }
    // An E01 set of the default segment size, or of `segment`.
    const auto ewf = [this](const char* set, const char* disk, const QByteArray& segment = {}) {
        make("/usr/bin/ewfacquire",
             QByteArrayList{"-u", "-q", "-c", "none", "-t", path(set), path(disk)}
                 << (segment.isEmpty() ? QByteArrayList() : QByteArrayList{"-S", segment}));
    };
    ewf("ewf", "raw.img");
    // Sets of 2 segments, one of them locked from nobody, and of 34 (more than are kept open).
    ewf("hfs-parts", "hfs-late.img", "2MiB");
    ewf("sealed", "hfs-late.img", "2MiB");
    QVERIFY(QFile::exists(QFile::decodeName(path("hfs-parts.E02"))) &&
            !QFile::exists(QFile::decodeName(path("hfs-parts.E03"))));
    QVERIFY(QFile::setPermissions(QFile::decodeName(path("sealed.E02")), QFile::ReadOwner));
    QVERIFY(QFile::setPermissions(m_tree.root(), QFile::permissions(m_tree.root()) | QFile::ExeOther));
    m_tree.folder(QStringLiteral("split"));
    ewf("split/whole", "raw.img", "1MiB");
    const auto qemu = [this](const char* format, const char* image, const QByteArrayList& options = {}) {
        make("/usr/bin/qemu-img", QByteArrayList{"convert", "-f", "raw", "-O", format}
                                      << options << path("raw.img") << path(image));
    };
    qemu("vmdk", "disk.vmdk");
    // Renamed away from the extent its descriptor names: a sparse disk is read as the file it is.
    QVERIFY(QFile::copy(QFile::decodeName(path("disk.vmdk")), QFile::decodeName(path("split/renamed.vmdk"))));
    // A descriptor and its extent file; a descriptor naming an extent outside its folder.
    qemu("vmdk", "flat.vmdk", {"-o", "subformat=monolithicFlat"});
    write("bad-extent.vmdk", ToolRun::contents(path("flat.vmdk"))
                                 .replace("\"flat-flat.vmdk\"", "\"../../../../../../../../etc/passwd\""));
    write("dots.vmdk", ToolRun::contents(path("flat.vmdk")).replace("\"flat-flat.vmdk\"", "\"/x/..\""));
    // Written on Windows: the extent by a path of that system, read beside the descriptor.
    write("windows.vmdk",
          ToolRun::contents(path("flat.vmdk")).replace("\"flat-flat.vmdk\"", "\"C:\\VMs\\flat-flat.vmdk\""));
    qemu("vpc", "disk.vhd");
    write("disk.dmg", dmg(ToolRun::contents(path("raw.img")), 0x80000005));
    // Bad images: text, the superblocks and checkpoint without the trees, nothing, a .dmg of
    // LZFSE chunks (stored as they are: never inflated), an E01 set of 1 MiB segments, one gone.
    write("bad-text.img", "just some text\n");
    write("bad-cut.img", ToolRun::contents(path("raw.img")).left(5 * 4096));
    write("bad-empty.img", {});
    write("bad-lzfse.dmg", dmg(ToolRun::contents(path("raw.img")), 0x80000007));
    // Its second chunk's deflate stream damaged: the volume cannot be read past its first MiB.
    write("bad-zlib.dmg",
          dmg(ToolRun::contents(path("raw.img")), 0x80000005).replace(1 << 20, 64, QByteArray(64, 'x')));
    ewf("split/bad", "raw.img", "1MiB");
    QVERIFY(QFile::remove(m_tree.path(QStringLiteral("split/bad.E03"))));
    // A Mac's FAT stick: attributes in "._" files (P, Q, S, M below), one of them left behind
    // by a deleted file, one "._" file that is no AppleDouble file, some in an archive's __MACOSX
    // folder (one lending, one that gives way to the file's own "._" file). Copied one by one:
    // the walk keeps their order.
    const auto sidecar = [](const char* provenance, const QByteArray& quarantine = {}) {
        AppleDoubleFile file;
        if (*provenance)
            file.add("com.apple.provenance", QByteArray::fromHex(provenance));
        return (quarantine.isEmpty() ? file : file.add("com.apple.quarantine", quarantine)).bytes();
    };
    const QHash<QByteArray, QByteArray> sidecars{
        {"P", sidecar("0102008877665544332211")},
        {"Q", sidecar("", "0081;65a1b2c3;;")},
        {"S", sidecar("0102008877665544332211", "0083;65a1b2c3;Safari;8C7D5E1F-1111-2222-3333-444455556666")},
        {"M", sidecar("0102000102030405060708")}};
    make("/sbin/mkfs.vfat", {"-C", path("fat.img"), "1024"});
    for (const QByteArray& entry :
         QByteArray(".hidden;._.hidden=P;._gone.txt=P;Documents/;Documents/report.txt=report;Downloads/;"
                    "Downloads/empty.txt;Downloads/._empty.txt=Q;Downloads/installer.dmg=hello\n;"
                    "Downloads/._installer.dmg=S;._Downloads=P;notes.txt=notes;._notes.txt=notes;__MACOSX/;"
                    "__MACOSX/._gone.txt=P;__MACOSX/Documents/;__MACOSX/Documents/._report.txt=P;"
                    "__MACOSX/Downloads/;__MACOSX/Downloads/._installer.dmg=M")
             .split(';')) {
        const qsizetype equals = entry.contains('=') ? entry.indexOf('=') : entry.size();
        const QByteArray target = "::/" + entry.left(equals), content = entry.mid(equals + 1);
        if (target.endsWith('/')) {
            make("/usr/bin/mmd", {"-i", path("fat.img"), target.chopped(1)});
        } else {
            write("fat-file", sidecars.value(content, content));
            make("/usr/bin/mcopy", {"-i", path("fat.img"), path("fat-file"), target});
        }
    }
    QVERIFY(QFile::remove(m_tree.path(QStringLiteral("fat-file"))));
}

void TestImageCrawl::crawl_data()
{
    QTest::addColumn<QByteArrayList>("arguments"); // DIR/ stands for the images' folder
    QTest::addColumn<QByteArray>("expected");      // the whole standard output, DIR/ as in arguments
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("err"); // a part of standard error; none at all when empty
    const auto add = [](const char* tag, const QByteArrayList& arguments, const QByteArray& expected,
                        int status = 0, const QByteArray& err = {}) {
        QTest::newRow(tag) << arguments << expected << status << err;
    };

    const QByteArray everyVolume =
        kHeader + row(".hidden", kProvenance, "", "/Data/.hidden") +
        row("caf\xef\xbf\xbd list.txt", kProvenance, "", "/Data/Documents/caf%E9%20list.txt") +
        row("Downloads", kProvenance, "", "/Data/Downloads/") +
        row("empty.txt", "", "🔸 unknown", "/Data/Downloads/empty.txt") +
        row("installer.dmg", kProvenance, "🔸 Safari", "/Data/Downloads/installer.dmg") +
        row("Tool.app", "❓ 0x0102000102030405060708", "", "/System/Applications/Tool.app/");
    for (const char* image : {"raw.img", "gpt.img", "ewf.E01", "split/whole.E01", "disk.vmdk",
                              "split/renamed.vmdk", "flat.vmdk", "windows.vmdk", "disk.vhd", "disk.dmg"})
        add(image, {"crawl", "--quarantine", "DIR/" + QByteArray(image)}, everyVolume);
    const QByteArray apfsCafe =
        row("caf\xef\xbf\xbd list.txt", kProvenance, "", "/Documents/caf%E9%20list.txt");
    // HFS+ keeps names in Unicode: the Mac stores a byte that is no UTF-8 as "%E9".
    const QByteArray hfsCafe = row("caf%E9 list.txt", kProvenance, "", "/Documents/caf%25E9%20list.txt");
    add("HFS+", {"crawl", "DIR/hfs.img"}, dataVolume(hfsCafe, false));
    add("HFS+ in GPT, two E01 segments", {"crawl", "--quarantine", "DIR/hfs-parts.E01"},
        dataVolume(hfsCafe, true));
    const QByteArray gone = row("._gone.txt", kProvenance, "", "/._gone.txt") +
                            row("report.txt", kProvenance, "", "/Documents/report.txt");
    add("FAT with AppleDouble files", {"crawl", "--quarantine", "DIR/fat.img"}, dataVolume(gone, true));
    add("FAT, sidecars off", {"crawl", "--no-sidecars", "DIR/fat.img"}, kHeader);
    add("FAT files, as dropped",
        {"files", "--image", "DIR/fat.img", "/Documents/report.txt", "/Downloads/installer.dmg",
         "/._gone.txt"},
        "report.txt | /Documents/report.txt | ❓ 0x0102008877665544332211 | \n"
        "installer.dmg | /Downloads/installer.dmg | ❓ 0x0102008877665544332211 | 🔸 Safari\n"
        "._gone.txt | /._gone.txt | ❓ 0x0102008877665544332211 | \n");
    add("FAT files, sidecars off",
        {"files", "--no-sidecars", "--image", "DIR/fat.img", "/Downloads/installer.dmg"},
        "installer.dmg | /Downloads/installer.dmg |  | \n");
    // The same item gives the same line from a crawl and from files, naming where its value came from.
    const QByteArray report =
        R"({"name":"report.txt","path":"/Documents/report.txt","provenanceID":"❓ 0x0102008877665544332211",)"
        R"("quarantineApp":"","fileName":"report.txt","filePath":"/Documents/report.txt","provenance":"0102008877665544332211",)"
        R"("provenanceApp":null,"source":{"com.apple.provenance":"__MACOSX"},"size":6,"inode":773,"attributes":)"
        R"([{"name":"com.apple.provenance","size":11,"value":"0102008877665544332211","encoding":"hex","source":"AppleDouble"}],)"
        R"("image":"DIR/fat.img","volume":"Volume 1"})"
        "\n";
    add("FAT files, JSON Lines",
        {"files", "--image", "DIR/fat.img", "--format", "jsonl", "/Documents/report.txt",
         "/Downloads/installer.dmg"},
        report +
            R"({"name":"installer.dmg","path":"/Downloads/installer.dmg","provenanceID":"❓ 0x0102008877665544332211",)"
            R"("quarantineApp":"🔸 Safari","fileName":"installer.dmg","filePath":"/Downloads/installer.dmg",)"
            R"("provenance":"0102008877665544332211","provenanceApp":null,"quarantineAgent":"Safari","source":)"
            R"({"com.apple.provenance":"._name","com.apple.quarantine":"._name"},"size":6,"inode":905,"quarantine":)"
            R"({"flags":"0083","flagNames":["0x0001","0x0002","0x0080"],"time":"2024-01-12T21:44:35Z","agent":"Safari",)"
            R"("eventID":"8C7D5E1F-1111-2222-3333-444455556666"},"attributes":[{"name":"com.apple.provenance","size":11,)"
            R"("value":"0102008877665544332211","encoding":"hex","source":"AppleDouble"},{"name":"com.apple.quarantine",)"
            R"("size":57,"value":"0083;65a1b2c3;Safari;8C7D5E1F-1111-2222-3333-444455556666","encoding":"utf-8",)"
            R"("source":"AppleDouble"}],"image":"DIR/fat.img","volume":"Volume 1"})"
            "\n");
    // A folder that an archive folder above it serves.
    add("FAT crawl, JSON Lines", {"crawl", "--image", "DIR/fat.img", "--format", "jsonl", "/Documents"},
        report);
    add("a folder inside, by number",
        {"crawl", "--volume", "1", "--quarantine", "--image", "DIR/gpt.img", "/Downloads"},
        kHeader + row("empty.txt", "", "🔸 unknown", "/Downloads/empty.txt") +
            row("installer.dmg", kProvenance, "🔸 Safari", "/Downloads/installer.dmg"));
    add("a body file of the volume's times",
        {"crawl", "--volume", "System", "--format", "bodyfile", "DIR/raw.img"},
        "0|/Applications/Tool.app|17|drwxr-xr-x|99|20|0|1700000003|1700000001|1700000002|1700000000\n");
    const QByteArray linked =
        R"({"name":"installer.dmg","path":"/Downloads/installer.dmg","provenanceID":"❓ 0x0102008877665544332211",)"
        R"("quarantineApp":"QUARANTINE_APP","fileName":"installer.dmg","filePath":"/Downloads/installer.dmg",)"
        R"("provenance":"0102008877665544332211","provenanceApp":null,"quarantineAgent":"Safari","source":)"
        R"({"com.apple.provenance":"com.apple.provenance","com.apple.quarantine":"com.apple.quarantine",)"
        R"("com.apple.metadata:kMDItemWhereFroms":"com.apple.metadata:kMDItemWhereFroms"},"size":6,"inode":17,)"
        R"("modified":"2023-11-14T22:13:21Z","changed":"2023-11-14T22:13:22Z","accessed":"2023-11-14T22:13:23Z",)"
        R"("born":"2023-11-14T22:13:20Z","quarantine":{"flags":"0083","flagNames":["0x0001","0x0002","0x0080"],)"
        R"("time":"2024-01-12T21:44:35Z","agent":"Safari","eventID":"8C7D5E1F-1111-2222-3333-444455556666"},)"
        R"("whereFroms":["https://example.org/a"],"quarantineEvent":{"dataURL":"https://example.org/installer.dmg",)"
        R"("originURL":"https://example.org/","agentName":"Safari","agentBundleID":"com.apple.Safari","type":0,)"
        R"("time":"2023-11-18T11:33:20Z","user":"alice","database":)"
        R"("/Data/Users/alice/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2"},)"
        R"("provenanceRecord":{"url":"https://example.org/installer.dmg","bundleID":"org.example.installer",)"
        R"("teamID":"TEAM123456","signingID":"org.example.installer","flags":0,"time":"2023-11-18T09:33:20Z",)"
        R"("byteOrder":"little-endian","database":"/Data/private/var/db/SystemPolicyConfiguration/ExecPolicy"},)"
        R"("attributes":[{"name":"com.apple.metadata:kMDItemWhereFroms","size":68,"value":)"
        R"("62706c6973743030a1015f101568747470733a2f2f6578616d706c652e6f72672f61080a0000000000000101000000000000000200000000000000000000000000000022",)"
        R"("encoding":"hex"},{"name":"com.apple.provenance","size":11,"value":"0102008877665544332211","encoding":"hex"},)"
        R"({"name":"com.apple.quarantine","size":57,"value":"0083;65a1b2c3;Safari;8C7D5E1F-1111-2222-3333-444455556666",)"
        R"("encoding":"utf-8"}],"image":"DIR/users.img","volume":"Data"})"
        "\n";
    add("JSON Lines linked to the image's quarantine events and ExecPolicy",
        {"crawl", "--volume", "Data", "--format", "jsonl", "--image", "DIR/users.img", "/Downloads"},
        QByteArray(linked).replace("QUARANTINE_APP", ""));
    add("files inside, linked to the image's databases",
        {"files", "--image", "DIR/users.img", "--volume", "Data", "--format", "jsonl",
         "/Downloads/installer.dmg"},
        QByteArray(linked).replace("QUARANTINE_APP", "🔸 Safari"));
    add("files inside, as dropped",
        {"files", "--image", "DIR/disk.vmdk", "--volume", "Data", "/Downloads/installer.dmg", "Documents"},
        "installer.dmg | /Downloads/installer.dmg | ❓ 0x0102008877665544332211 | 🔸 Safari\n"
        "Documents | /Documents/ |  | \n");
    // A database claiming 300 MiB, in a 32 MiB image: refused unread, the rest still linked.
    add("a database too large",
        {"files", "--image", "DIR/huge.img", "--volume", "Data", "--format", "bodyfile",
         "/Downloads/empty.txt"},
        "0|/Downloads/empty.txt|18|-rw-r--r--|99|20|0|1700000003|1700000001|1700000002|1700000000\n", 3,
        "/Data/private/var/db/SystemPolicyConfiguration/ExecPolicy: 314572800 bytes, larger than 256 MiB; "
        "not read");
    // An encrypted volume: the rest of the image is crawled, the locked one gives a line and status 3.
    const QByteArray unlocked = QByteArray(dataVolume(apfsCafe, false)).replace(",/", ",/Data/");
    add("locked, no password", {"crawl", "DIR/locked.img"}, unlocked, 3,
        "The volume System is encrypted: give its password to read it\n");
    // A Sleuth Kit built without OpenSSL cannot tell a right password from a wrong one: we say so.
    const QByteArray cannot =
        "The volume System is encrypted, and this system's Sleuth Kit cannot decrypt it";
    add("locked, wrong password", {"crawl", "--password-file", "DIR/wrong-password", "DIR/locked.img"},
        unlocked, 3,
        ImageVolumes::decrypts() ? QByteArray("The volume System could not be unlocked (wrong password?)")
                                 : cannot);
    if (!ImageVolumes::decrypts())
        add("locked, right password", {"crawl", "--password-file", "DIR/right-password", "DIR/locked.img"},
            unlocked, 3, cannot);
    add("a Mac root given for an image", {"crawl", "--format", "jsonl", "--mac-root", "/", "DIR/users.img"},
        {}, 2, "--mac-root is for folders");
    for (const auto& [tag, image, message] :
         {std::tuple("not an image", "bad-text.img", "no volume"),
          std::tuple("truncated", "bad-cut.img", "no volume"),
          std::tuple("empty", "bad-empty.img", "the image is empty"),
          std::tuple(".dmg in LZFSE", "bad-lzfse.dmg", "compressed with LZFSE, which cannot be read"),
          std::tuple(".dmg chunk damaged", "bad-zlib.dmg", "the zlib chunk at sector 8200 is damaged"),
          std::tuple("an E01 segment missing", "split/bad.E01", "split/bad.E03 of the image is missing"),
          std::tuple("a VMDK extent missing", "bad-extent.vmdk", "/passwd: No such file or directory"),
          std::tuple("a VMDK extent named ..", "dots.vmdk",
                     "the VMDK descriptor names no file for extent 1")}) {
        for (const QByteArray command : {"crawl", "volumes"})
            QTest::addRow("%s, %s", tag, command.constData())
                << QByteArrayList{command, "DIR/" + QByteArray(image)} << QByteArray() << 1
                << QByteArray(image).split('/').last() + '|' + message;
    }
    const QByteArray volumes = "Number,Name,Role,File System,Size,Encrypted\n";
    add("an E01 segment unreadable", {"nobody", "volumes", "DIR/sealed.E01"}, {}, 1,
        "sealed.E01|sealed.E02: Permission denied");
    add("volumes, HFS+ in GPT", {"volumes", "DIR/hfs-gpt.img"}, volumes + "1,,,HFS+,1048576,no\n");
    add("volumes, FAT", {"volumes", "DIR/fat.img"}, volumes + "1,,,FAT12,1048576,no\n");
    add("volumes, encrypted", {"volumes", "DIR/locked.img"},
        volumes + "1,Data,Data,APFS,0,no\n2,System,System,APFS,0,yes\n");
}

void TestImageCrawl::crawl()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArray, expected);
    QFETCH(int, status);
    QFETCH(QByteArray, err);
    // The images are evidence: their bytes, times and folder stay as they were, and so do the
    // files beside each that share its name up to the first dot (segments, extents). An access
    // time long past would be moved by any read, even on relatime mounts.
    const QByteArray dir = QFile::encodeName(m_tree.root()) + '/';
    const QStringList entries = QDir(m_tree.root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
    const timeval old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    QHash<QByteArray, QByteArray> images; // path, digest
    const bool nobody = arguments.first() == "nobody";
    if (nobody)
        arguments.removeFirst();
    for (QByteArray& argument : arguments) {
        if (argument.startsWith("DIR/") && !argument.endsWith("password")) {
            argument.replace("DIR/", dir);
            const QFileInfo image(QFile::decodeName(argument));
            for (QDirIterator it(image.path(),
                                 {image.fileName().section(QLatin1Char('.'), 0, 0) + QLatin1Char('*')},
                                 QDir::Files);
                 it.hasNext();) {
                const QByteArray file = QFile::encodeName(it.next());
                images.insert(file,
                              QCryptographicHash::hash(ToolRun::contents(file), QCryptographicHash::Md5));
                QCOMPARE(::utimes(file.constData(), old), 0);
            }
        }
        argument.replace("DIR/", dir);
    }
    ToolRun run(ToolRun::built("quellmark-cli"), arguments);
    run.unprivileged = nobody;
    ToolRun::Outcome outcome = run.run();
    // Sleuth Kit's VHD reader opens the image itself, and nobody cannot keep root's access
    // times: either way the user is told.
    const bool warned =
        nobody || (outcome.status != 1 && // 1: not opened at all
                   std::any_of(arguments.cbegin(), arguments.cend(),
                               [](const QByteArray& image) { return image.endsWith(".vhd"); }));
    const QRegularExpression warning(
        QStringLiteral("quellmark-cli: access times of the evidence may have changed: [^\n]*\n"));
    QCOMPARE(QString::fromUtf8(outcome.err).contains(warning), warned);
    outcome.err = QString::fromUtf8(outcome.err).remove(warning).toUtf8();
    for (const QByteArray& part : err.split('|'))
        QVERIFY2(err.isEmpty() ? outcome.err.isEmpty() : outcome.err.contains(part), outcome.err.constData());
    QCOMPARE(outcome.status, status);
    for (auto [image, digest] : images.asKeyValueRange()) {
        struct stat after;
        QVERIFY(::stat(image.constData(), &after) == 0);
        QCOMPARE(QByteArrayList({image, QByteArray::number(warned ? 1'000'000'000 : after.st_atime),
                                 QByteArray::number(after.st_mtime)}),
                 QByteArrayList({image, "1000000000", "1000000000"}));
        QCOMPARE(QCryptographicHash::hash(ToolRun::contents(image), QCryptographicHash::Md5), digest);
    }
    QCOMPARE(QDir(m_tree.root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), entries);
    // The times mcopy gives are those of the run: left out where a row expects none.
    QString out = QString::fromUtf8(outcome.out);
    if (!expected.contains("\"modified\""))
        out.remove(QRegularExpression(QStringLiteral("\"(modified|changed|accessed|born)\":\"[^\"]*\",")));
    QCOMPARE(out.toUtf8(), expected.replace("DIR/", dir));
}

QTEST_GUILESS_MAIN(TestImageCrawl)
#include "tst_imagecrawl.moc"
