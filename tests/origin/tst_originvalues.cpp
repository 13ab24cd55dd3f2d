// The decoders of outside bytes: the quarantine value, the provenance key and the two time bases.
#include "origin/ProvenanceRecord.h"
#include "origin/QuarantineValue.h"
#include "origin/UtcTime.h"
#include "tests/origin/MacVolumeFixture.h"

#include <QDateTime>
#include <QTest>

using namespace Qt::StringLiterals;

class TestOriginValues : public QObject
{
    Q_OBJECT

private slots:
    // The common values are compared whole at the command line (tst_origincli): here, the odd ones.
    void quarantine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // flags|time|agent|eventID|flag names, or "none"
        QTest::newRow("lower-case id kept, ends at NUL")
            << QByteArray("0083;65a1b2c3;Chrome;2a7b3c4d-aaaa\0;junk", 40)
            << u"0083|2024-01-12T21:44:35Z|Chrome|2a7b3c4d-aaaa|0x0001,0x0002,0x0080"_s;
        QTest::newRow("trailing NUL of a share")
            << QByteArray("0040;00000000;;\0", 16) << u"0040|1970-01-01T00:00:00Z|||userApproved"_s;
        QTest::newRow("not hex") << "zz;later;Mail"_ba << u"zz||Mail||"_s;
        QTest::newRow("too many digits") << "000000001;1000000000000000"_ba << u"000000001||||"_s;
        QTest::newRow("flags only") << "0000"_ba << u"0000||||"_s;
        QTest::newRow("empty: nothing") << QByteArray() << u"none"_s;
        QTest::newRow("NUL first: nothing") << QByteArray("\0;x;y", 5) << u"none"_s;
    }

    void quarantine()
    {
        QFETCH(QByteArray, bytes);
        const auto decoded = QuarantineValue::decode(bytes);
        const QuarantineValue v = decoded.value_or(QuarantineValue());
        const QString fields =
            QStringList{v.flags, v.time, v.agent, v.eventID, v.flagNames.join(u',')}.join(u'|');
        QTEST(decoded ? fields : u"none"_s, "expected");
    }

    void provenanceKeys()
    {
        const QByteArray little = MacVolumeFixture::provenanceValue(0x0102030405060708);
        const auto keys = ProvenanceRecord::keysOf(little);
        QCOMPARE(keys.size(), 2);
        QCOMPARE(keys.at(0), std::pair(qint64(0x0102030405060708), u"little-endian"_s));
        QCOMPARE(keys.at(1), std::pair(qint64(0x0807060504030201), u"big-endian"_s));
        QCOMPARE(ProvenanceRecord::keysOf(MacVolumeFixture::provenanceValue(-2)).at(0).first, -2);
        QCOMPARE(ProvenanceRecord::keysOf(little + '\0'), keys);
        QVERIFY(ProvenanceRecord::keysOf(little.left(10)).isEmpty());
        QVERIFY(ProvenanceRecord::keysOf(little + 'x').isEmpty());
    }

    void times()
    {
        QCOMPARE(UtcTime::fromMacAbsolute(726842767.25), u"2024-01-13T12:46:07.25Z"_s);
        QCOMPARE(UtcTime::fromMacAbsolute(-0.5), u"2000-12-31T23:59:59.5Z"_s);
        QCOMPARE(UtcTime::fromMacAbsolute(1e300), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(0x7fffffffffffffff), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(-62135596800), u"0001-01-01T00:00:00Z"_s);
        QCOMPARE(UtcTime::fromUnixSeconds(-62135596801), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(253402300799), u"9999-12-31T23:59:59Z"_s);
        // Every day from 1600 to 2400 (each leap rule), at its first or last second, as QDateTime writes
        // them.
        for (qint64 day = -135140; day < 157054; ++day) {
            const qint64 second = day * 86400 + (day % 2 != 0 ? 86399 : 0);
            QCOMPARE(UtcTime::fromUnixSeconds(second),
                     QDateTime::fromSecsSinceEpoch(second, Qt::UTC).toString(Qt::ISODate));
        }
    }
};

QTEST_GUILESS_MAIN(TestOriginValues)
#include "tst_originvalues.moc"
