// An APFS volume superblock's role, name and encryption read from its bytes, as `volumes`
// shows them; bytes that are no superblock give none.
#include "image/ApfsVolumeSuperblock.h"

#include <QTest>
#include <QtEndian>

namespace {

QByteArray superblock(const QByteArray& name, quint16 role, quint64 flags, qsizetype size = 4096,
                      const QByteArray& magic = "APSB")
{
    QByteArray bytes(size, '\0');
    bytes.replace(32, 4, magic);
    qToLittleEndian(flags, bytes.data() + 264);
    bytes.replace(704, name.size(), name);
    if (size >= 966)
        qToLittleEndian(role, bytes.data() + 964);
    return bytes.left(size);
}

} // namespace

class TestApfsVolumeSuperblock : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("expected"); // "role|name|encrypted" in UTF-8, or "none"
        const QByteArray full(256, 'n');
        QTest::newRow("data") << superblock("Data", 0x40, 1) << QByteArray("Data|Data|no");
        QTest::newRow("system, encrypted") << superblock("Macintosh HD", 0x01, 0) << QByteArray("System|Macintosh HD|yes");
        QTest::newRow("other flags, unencrypted") << superblock("VM", 0x08, 0x41) << QByteArray("VM|VM|no");
        QTest::newRow("other flags, encrypted") << superblock("VM", 0x08, 0x40) << QByteArray("VM|VM|yes");
        QTest::newRow("no role") << superblock("Untitled", 0, 1) << QByteArray("|Untitled|no");
        QTest::newRow("numbered role") << superblock("Prelogin", 0x280, 1) << QByteArray("Prelogin|Prelogin|no");
        QTest::newRow("unknown role") << superblock("X", 0x1234, 1) << QByteArray("0x1234|X|no");
        QTest::newRow("name fills its field") << superblock(full + "role", 0x40, 1) << "Data|" + full + "|no";
        QTest::newRow("name not UTF-8") << superblock("caf\xe9", 0x40, 1) << QByteArray("Data|caf\xEF\xBF\xBD|no");
        QTest::newRow("just long enough") << superblock("D", 0x40, 1, 966) << QByteArray("Data|D|no");
        QTest::newRow("one byte short") << superblock("D", 0x40, 1, 965) << QByteArray("none");
        QTest::newRow("container, not volume") << superblock("D", 0x40, 1, 4096, "NXSB") << QByteArray("none");
        QTest::newRow("empty") << QByteArray() << QByteArray("none");
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        const auto parsed = ApfsVolumeSuperblock::parse(bytes);
        QTEST(parsed ? parsed->role.toUtf8() + '|' + parsed->name.toUtf8() + (parsed->encrypted ? "|yes" : "|no")
                     : QByteArray("none"),
              "expected");
    }
};

QTEST_GUILESS_MAIN(TestApfsVolumeSuperblock)
#include "tst_apfsvolumesuperblock.moc"
