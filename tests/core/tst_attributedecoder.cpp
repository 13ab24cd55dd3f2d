#include "core/AttributeDecoder.h"

#include <QtTest>

class TestAttributeDecoder : public QObject
{
    Q_OBJECT

private slots:
    void provenanceID_data();
    void provenanceID();
    void provenanceIDOfLongValues();
    void quarantineApp_data();
    void quarantineApp();
};

namespace {

QByteArray counting(qsizetype length)
{
    QByteArray bytes(length, '\0');
    for (qsizetype i = 0; i < length; ++i)
        bytes[i] = char(i & 0xff);
    return bytes;
}

} // namespace

void TestAttributeDecoder::provenanceID_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("id");
    QTest::newRow("three bytes") << QByteArray::fromHex("010203") << QStringLiteral("0x010203");
    QTest::newRow("one byte") << QByteArray("\x01") << QStringLiteral("0x01");
    QTest::newRow("zero byte") << QByteArray("\0", 1) << QStringLiteral("0x00");
    QTest::newRow("lowercase digits") << QByteArray::fromHex("ABCDEF") << QStringLiteral("0xabcdef");
    QTest::newRow("high bytes") << QByteArray("\xff\x80\x7f") << QStringLiteral("0xff807f");
    QTest::newRow("eleven bytes") << QByteArray::fromHex("0011223344556677889900")
                                  << QStringLiteral("0x0011223344556677889900");
    QTest::newRow("sixteen bytes") << counting(16) << QStringLiteral("0x000102030405060708090a0b0c0d0e0f");
    QTest::newRow("seventeen bytes, not abbreviated")
        << counting(17) << QStringLiteral("0x000102030405060708090a0b0c0d0e0f10");
    QTest::newRow("text is not interpreted") << QByteArray("=}{ ,") << QStringLiteral("0x3d7d7b202c");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("0x");
}

void TestAttributeDecoder::provenanceID()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, id);
    QCOMPARE(decodeProvenanceID(bytes), id);
}

void TestAttributeDecoder::provenanceIDOfLongValues()
{
    for (const qsizetype length : {qsizetype(11), qsizetype(255), qsizetype(3000), qsizetype(70000)}) {
        const QByteArray bytes = counting(length);
        const QString id = decodeProvenanceID(bytes);
        QCOMPARE(id.size(), 2 + 2 * length);
        QVERIFY(id.startsWith(QLatin1String("0x")));
        QCOMPARE(QByteArray::fromHex(id.mid(2).toLatin1()), bytes);
        QCOMPARE(id, id.toLower().replace(QLatin1String("0X"), QLatin1String("0x")));
    }
    // Values that differ only past the first sixteen bytes keep distinct IDs.
    QByteArray other = counting(3000);
    other[2999] = '\x7e';
    QVERIFY(decodeProvenanceID(other) != decodeProvenanceID(counting(3000)));
    QVERIFY(decodeProvenanceID(counting(20)) != decodeProvenanceID(counting(21)));
}

void TestAttributeDecoder::quarantineApp_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("app");
    QTest::newRow("typical") << QByteArray("0083;65a1b2c3;Browser;1F2E3D4C") << QStringLiteral("Browser");
    QTest::newRow("empty third field") << QByteArray("0083;65a1b2c3;;1F2E3D4C") << QStringLiteral("1F2E3D4C");
    QTest::newRow("empty third, nothing after") << QByteArray("0083;65a1b2c3;;") << QStringLiteral("unknown");
    QTest::newRow("empty second field") << QByteArray("0083;;Browser;1F2E3D4C") << QStringLiteral("1F2E3D4C");
    QTest::newRow("leading separators")
        << QByteArray(";;;0083;65a1b2c3;Browser") << QStringLiteral("Browser");
    QTest::newRow("two fields") << QByteArray("0083;65a1b2c3;") << QStringLiteral("unknown");
    QTest::newRow("two fields, no separator at end")
        << QByteArray("0083;65a1b2c3") << QStringLiteral("unknown");
    QTest::newRow("three fields exactly") << QByteArray("a;b;c") << QStringLiteral("c");
    QTest::newRow("later fields ignored") << QByteArray("a;b;c;d;e") << QStringLiteral("c");
    QTest::newRow("one field") << QByteArray("0083") << QStringLiteral("unknown");
    QTest::newRow("only separators") << QByteArray(";;;;") << QStringLiteral("unknown");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("unknown");
    QTest::newRow("blanks kept") << QByteArray("0083;1; My Agent ;2") << QStringLiteral(" My Agent ");
    QTest::newRow("multi-byte agent") << QByteArray("0083;65a1b2c3;Navigateur \xc3\xa9l\xc3\xa9gant;X")
                                      << QStringLiteral("Navigateur élégant");
    QTest::newRow("agent beyond U+FFFF")
        << QByteArray("0083;1;\xf0\x9f\xa6\x8a Fox;2") << QStringLiteral("🦊 Fox");
    QTest::newRow("CJK agent") << QByteArray("0083;1;\xe6\xb5\x8f\xe8\xa7\x88\xe5\x99\xa8")
                               << QStringLiteral("浏览器");
    QTest::newRow("invalid UTF-8 in agent")
        << QByteArray("0083;65a1b2c3;Bad\xff;X") << QStringLiteral("unknown");
    QTest::newRow("invalid UTF-8 elsewhere")
        << QByteArray("\xc0\xaf;65a1b2c3;Browser") << QStringLiteral("unknown");
    QTest::newRow("truncated sequence") << QByteArray("0083;1;Agent\xe2\x82") << QStringLiteral("unknown");
    QTest::newRow("NUL inside the agent")
        << QByteArray("0083;1;A\0B;2", 12) << QString(QStringLiteral("A") + QChar(0) + QStringLiteral("B"));
}

void TestAttributeDecoder::quarantineApp()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, app);
    QCOMPARE(decodeQuarantineApp(bytes), app);
}

QTEST_GUILESS_MAIN(TestAttributeDecoder)
#include "tst_attributedecoder.moc"
