#include "core/Utf8Text.h"

#include <QtTest>

class TestUtf8Text : public QObject
{
    Q_OBJECT

private slots:
    void valid_data();
    void valid();
    void invalid_data();
    void invalid();
    void noStateBetweenCalls();
};

void TestUtf8Text::valid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("ASCII") << QByteArray("/Applications/Safari.app")
                           << QStringLiteral("/Applications/Safari.app");
    QTest::newRow("two-byte") << QByteArray("caf\xc3\xa9") << QStringLiteral("café");
    QTest::newRow("three-byte") << QByteArray("\xe2\x82\xac") << QStringLiteral("€");
    QTest::newRow("four-byte") << QByteArray("\xf0\x9f\xa6\x8a") << QStringLiteral("🦊");
    QTest::newRow("highest code point")
        << QByteArray("\xf4\x8f\xbf\xbf") << QString::fromUcs4(U"\U0010FFFF", 1);
    QTest::newRow("U+FFFD itself") << QByteArray("\xef\xbf\xbd") << QString(QChar(0xFFFD));
    QTest::newRow("NUL") << QByteArray("a\0b", 3)
                         << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    QTest::newRow("carriage return") << QByteArray("/a\r") << QStringLiteral("/a\r");
    QTest::newRow("byte order mark kept")
        << QByteArray("\xef\xbb\xbf/x") << QString(QChar(0xFEFF) + QStringLiteral("/x"));
    QTest::newRow("byte order mark alone") << QByteArray("\xef\xbb\xbf") << QString(QChar(0xFEFF));
}

void TestUtf8Text::valid()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const auto decoded = decodeUtf8Strictly(bytes);
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, text);
    QCOMPARE(decoded->size(), text.size());
}

void TestUtf8Text::invalid_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("lone continuation byte") << QByteArray("a\x80z");
    QTest::newRow("0xff") << QByteArray("\xff");
    QTest::newRow("0xfe") << QByteArray("ab\xfe");
    QTest::newRow("Latin-1 e acute") << QByteArray("caf\xe9");
    QTest::newRow("overlong slash, two bytes") << QByteArray("\xc0\xaf");
    QTest::newRow("overlong slash, three bytes") << QByteArray("\xe0\x80\xaf");
    QTest::newRow("overlong NUL") << QByteArray("\xc0\x80");
    QTest::newRow("overlong, four bytes") << QByteArray("\xf0\x82\x82\xac");
    QTest::newRow("high surrogate") << QByteArray("\xed\xa0\x80");
    QTest::newRow("low surrogate") << QByteArray("\xed\xbf\xbf");
    QTest::newRow("surrogate pair as CESU-8") << QByteArray("\xed\xa0\xbd\xed\xb8\x80");
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80");
    QTest::newRow("truncated at the end") << QByteArray("abc\xe2\x82");
    QTest::newRow("truncated four-byte at the end") << QByteArray("\xf0\x9f\xa6");
    QTest::newRow("truncated in the middle") << QByteArray("\xe2\x82z");
    QTest::newRow("lead byte alone at the end") << QByteArray("x\xc3");
}

void TestUtf8Text::invalid()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!decodeUtf8Strictly(bytes).has_value());
}

void TestUtf8Text::noStateBetweenCalls()
{
    // A sequence split over two calls is two errors, not one character.
    QVERIFY(!decodeUtf8Strictly(QByteArray("\xe2\x82")).has_value());
    QVERIFY(!decodeUtf8Strictly(QByteArray("\xac")).has_value());
    // A failure leaves nothing behind for the next call.
    const auto after = decodeUtf8Strictly(QByteArray("ok"));
    QVERIFY(after.has_value());
    QCOMPARE(*after, QStringLiteral("ok"));
}

QTEST_GUILESS_MAIN(TestUtf8Text)
#include "tst_utf8text.moc"
