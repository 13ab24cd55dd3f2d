#include "core/PathEncoding.h"
#include "core/Utf8Text.h"

#include <QtTest>

// The encoded paths shown in lists and CSV files, and strict UTF-8 decoding.
class TestTextEncoding : public QObject
{
    Q_OBJECT

private slots:
    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("texts"); // encoded path | strict UTF-8 text, "-" when not UTF-8
        QTest::newRow("kept") << QByteArray("/a-b_c.d~e/!$&'()*+,;=:@")
                              << "/a-b_c.d~e/!$&'()*+,;=:@ | /a-b_c.d~e/!$&'()*+,;=:@";
        QTest::newRow("space and percent")
            << QByteArray("/My Files/100%") << "/My%20Files/100%25 | /My Files/100%";
        QTest::newRow("other ASCII")
            << QByteArray("/?#[]\"<>\\^`{|}\t\x7f")
            << "/%3F%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D%09%7F | /?#[]\"<>\\^`{|}\t\x7f";
        QTest::newRow("multi-byte") << QByteArray("/Caf\xc3\xa9 \xf0\x9f\xa6\x8a\xf4\x8f\xbf\xbf")
                                    << "/Caf%C3%A9%20%F0%9F%A6%8A%F4%8F%BF%BF | /Café 🦊\U0010FFFF";
        QTest::newRow("byte order mark kept") << QByteArray("\xef\xbb\xbf/x") << "%EF%BB%BF/x | \uFEFF/x";
        QTest::newRow("Latin-1") << QByteArray("/caf\xe9") << "/caf%E9 | -";
        QTest::newRow("truncated at the end") << QByteArray("/\xe2\x82") << "/%E2%82 | -";
    }

    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, texts);
        QCOMPARE(encodePath(bytes) + QLatin1String(" | ") +
                     decodeUtf8Strictly(bytes).value_or(QStringLiteral("-")),
                 texts);
        // Every byte survives the round trip.
        QCOMPARE(QByteArray::fromPercentEncoding(encodePath(bytes).toLatin1()), bytes);
    }
};

QTEST_GUILESS_MAIN(TestTextEncoding)
#include "tst_textencoding.moc"
