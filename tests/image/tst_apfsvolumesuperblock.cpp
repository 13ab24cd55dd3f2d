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
    void parse_data();
    void parse();
};

void TestApfsVolumeSuperblock::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("role"); // as UTF-8
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("encrypted");
    const QByteArray full(256, 'n');
    QTest::newRow("data") << superblock("Data", 0x40, 1) << true << QByteArray("Data") << QByteArray("Data")
                          << false;
    QTest::newRow("system, encrypted") << superblock("Macintosh HD", 0x01, 0) << true << QByteArray("System")
                                       << QByteArray("Macintosh HD") << true;
    QTest::newRow("other flags, unencrypted")
        << superblock("VM", 0x08, 0x41) << true << QByteArray("VM") << QByteArray("VM") << false;
    QTest::newRow("other flags, encrypted")
        << superblock("VM", 0x08, 0x40) << true << QByteArray("VM") << QByteArray("VM") << true;
    QTest::newRow("no role") << superblock("Untitled", 0, 1) << true << QByteArray("")
                             << QByteArray("Untitled") << false;
    QTest::newRow("numbered role") << superblock("Prelogin", 0x280, 1) << true << QByteArray("Prelogin")
                                   << QByteArray("Prelogin") << false;
    QTest::newRow("unknown role") << superblock("X", 0x1234, 1) << true << QByteArray("0x1234")
                                  << QByteArray("X") << false;
    QTest::newRow("name fills its field")
        << superblock(full + "role", 0x40, 1) << true << QByteArray("Data") << full << false;
    QTest::newRow("name not UTF-8") << superblock("caf\xe9", 0x40, 1) << true << QByteArray("Data")
                                    << QByteArray("caf\xEF\xBF\xBD") << false;
    QTest::newRow("just long enough")
        << superblock("D", 0x40, 1, 966) << true << QByteArray("Data") << QByteArray("D") << false;
    QTest::newRow("one byte short") << superblock("D", 0x40, 1, 965) << false << QByteArray("")
                                    << QByteArray("") << false;
    QTest::newRow("container, not volume")
        << superblock("D", 0x40, 1, 4096, "NXSB") << false << QByteArray("") << QByteArray("") << false;
    QTest::newRow("empty") << QByteArray() << false << QByteArray("") << QByteArray("") << false;
}

void TestApfsVolumeSuperblock::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    const auto parsed = ApfsVolumeSuperblock::parse(bytes);
    QCOMPARE(parsed.has_value(), valid);
    if (!parsed)
        return;
    QTEST(parsed->role.toUtf8(), "role");
    QTEST(parsed->name.toUtf8(), "name");
    QTEST(parsed->encrypted, "encrypted");
}

QTEST_GUILESS_MAIN(TestApfsVolumeSuperblock)
#include "tst_apfsvolumesuperblock.moc"
