#include "core/PathEncoding.h"

#include <QtTest>

class TestPathEncoding : public QObject
{
    Q_OBJECT

private slots:
    void encodePath_data();
    void encodePath();
    void encodedPathDecodesToTheSameBytes();
    void displayName_data();
    void displayName();
    void displayNameNeverMakesASlash();
};

void TestPathEncoding::encodePath_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("plain") << QByteArray("/Applications/Safari.app")
                           << QStringLiteral("/Applications/Safari.app");
    QTest::newRow("space") << QByteArray("/Users/me/My Files/a b")
                           << QStringLiteral("/Users/me/My%20Files/a%20b");
    QTest::newRow("percent") << QByteArray("/100%/x%20y") << QStringLiteral("/100%25/x%2520y");
    QTest::newRow("two-byte UTF-8") << QByteArray("/Caf\xc3\xa9") << QStringLiteral("/Caf%C3%A9");
    QTest::newRow("four-byte UTF-8") << QByteArray("/\xf0\x9f\xa6\x8a") << QStringLiteral("/%F0%9F%A6%8A");
    QTest::newRow("not UTF-8") << QByteArray("/caf\xe9/\xff\xfe") << QStringLiteral("/caf%E9/%FF%FE");
    QTest::newRow("unreserved kept") << QByteArray("/a-b_c.d~e/AZaz09")
                                     << QStringLiteral("/a-b_c.d~e/AZaz09");
    QTest::newRow("sub-delims, colon and at kept")
        << QByteArray("/!$&'()*+,;=:@") << QStringLiteral("/!$&'()*+,;=:@");
    QTest::newRow("query and fragment marks") << QByteArray("/a?b#c") << QStringLiteral("/a%3Fb%23c");
    QTest::newRow("gen-delims brackets") << QByteArray("/[x]") << QStringLiteral("/%5Bx%5D");
    QTest::newRow("other ASCII") << QByteArray("/\"<>\\^`{|}")
                                 << QStringLiteral("/%22%3C%3E%5C%5E%60%7B%7C%7D");
    QTest::newRow("control characters")
        << QByteArray("/a\tb\nc\rd\x7f") << QStringLiteral("/a%09b%0Ac%0Dd%7F");
    QTest::newRow("trailing slash kept") << QByteArray("/Applications/") << QStringLiteral("/Applications/");
    QTest::newRow("double slash kept") << QByteArray("//a//b") << QStringLiteral("//a//b");
    QTest::newRow("root") << QByteArray("/") << QStringLiteral("/");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestPathEncoding::encodePath()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, encoded);
    QCOMPARE(::encodePath(raw), encoded);
}

void TestPathEncoding::encodedPathDecodesToTheSameBytes()
{
    // Every byte value survives the round trip, and only ASCII comes out.
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = char(i);
    const QString encoded = ::encodePath(all);
    QVERIFY(std::all_of(encoded.cbegin(), encoded.cend(),
                        [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; }));
    QCOMPARE(QByteArray::fromPercentEncoding(encoded.toLatin1()), all);
    // Hex digits are uppercase.
    QVERIFY(encoded.contains(QLatin1String("%FF")));
    QVERIFY(!encoded.contains(QLatin1String("%ff")));
}

void TestPathEncoding::displayName_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("name");
    QTest::newRow("ASCII") << QByteArray("Safari.app") << QStringLiteral("Safari.app");
    QTest::newRow("UTF-8") << QByteArray("Caf\xc3\xa9 \xf0\x9f\xa6\x8a.app")
                           << QStringLiteral("Café 🦊.app");
    QTest::newRow("Latin-1 byte") << QByteArray("caf\xe9.txt") << QStringLiteral("caf\uFFFD.txt");
    QTest::newRow("stray bytes") << QByteArray("a\xff"
                                               "b")
                                 << QStringLiteral("a\uFFFDb");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestPathEncoding::displayName()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, name);
    QCOMPARE(::displayName(raw), name);
}

void TestPathEncoding::displayNameNeverMakesASlash()
{
    // Overlong and surrogate forms are replaced, never decoded into what they spell.
    for (const QByteArray& raw : {QByteArray("a\xc0\xaf"
                                             "b"),
                                  QByteArray("a\xe0\x80\xaf"
                                             "b"),
                                  QByteArray("a\xed\xa0\x80"
                                             "b")}) {
        const QString name = ::displayName(raw);
        QVERIFY2(!name.contains(QLatin1Char('/')), raw.toHex().constData());
        QVERIFY(name.contains(QChar(0xFFFD)));
        QVERIFY(name.startsWith(QLatin1Char('a')) && name.endsWith(QLatin1Char('b')));
        QVERIFY(std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.isSurrogate(); }));
    }
}

QTEST_GUILESS_MAIN(TestPathEncoding)
#include "tst_pathencoding.moc"
