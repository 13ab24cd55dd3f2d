#include "core/PathEncoding.h"
#include "core/Utf8Text.h"

#include <QtTest>

// Strict UTF-8 decoding, and the encoded paths shown in lists and CSV files.
class TestTextEncoding : public QObject
{
    Q_OBJECT

private slots:
    void strictUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text"); // "-" when the bytes are not UTF-8
        QTest::newRow("multi-byte") << QByteArray("caf\xc3\xa9 \xf0\x9f\xa6\x8a \xf4\x8f\xbf\xbf")
                                    << "café 🦊 \U0010FFFF";
        QTest::newRow("byte order mark kept")
            << QByteArray("\xef\xbb\xbf/x") << QString(QChar(0xFEFF) + QStringLiteral("/x"));
        QTest::newRow("Latin-1") << QByteArray("caf\xe9") << "-";
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << "-";
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << "-";
        QTest::newRow("truncated at the end") << QByteArray("abc\xe2\x82") << "-";
    }

    void strictUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(decodeUtf8Strictly(bytes).value_or(QStringLiteral("-")), text);
    }

    void encodePath_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("kept") << QByteArray("/Apps/a-b_c.d~e/!$&'()*+,;=:@")
                              << "/Apps/a-b_c.d~e/!$&'()*+,;=:@";
        QTest::newRow("space and percent") << QByteArray("/My Files/100%") << "/My%20Files/100%25";
        QTest::newRow("UTF-8 and not") << QByteArray("/Caf\xc3\xa9/caf\xe9") << "/Caf%C3%A9/caf%E9";
        QTest::newRow("other ASCII") << QByteArray("/?#[]\"<>\\^`{|}\t\x7f")
                                     << "/%3F%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D%09%7F";
    }

    void encodePath()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, encoded);
        QCOMPARE(::encodePath(raw), encoded);
        // Every byte survives the round trip.
        QCOMPARE(QByteArray::fromPercentEncoding(encoded.toLatin1()), raw);
    }
};

QTEST_GUILESS_MAIN(TestTextEncoding)
#include "tst_textencoding.moc"
