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
    void quarantine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("fields"); // flags, time, agent, eventID
        QTest::addColumn<QStringList>("flagNames");

        QTest::newRow("downloaded, approved")
            << "00c1;65a1b2c3;Safari;2A7B3C4D-1111-4222-8333-944455566677"_ba
            << QStringList{u"00c1"_s, u"2024-01-12T21:44:35Z"_s, u"Safari"_s,
                           u"2A7B3C4D-1111-4222-8333-944455566677"_s}
            << QStringList{u"0x0001"_s, u"userApproved"_s, u"0x0080"_s};
        QTest::newRow("lower-case id kept, ends at NUL")
            << QByteArray("0083;65a1b2c3;Chrome;2a7b3c4d-aaaa\0;junk", 40)
            << QStringList{u"0083"_s, u"2024-01-12T21:44:35Z"_s, u"Chrome"_s, u"2a7b3c4d-aaaa"_s}
            << QStringList{u"0x0001"_s, u"0x0002"_s, u"0x0080"_s};
        QTest::newRow("trailing NUL of a share")
            << QByteArray("0002;00000000;;\0", 16)
            << QStringList{u"0002"_s, u"1970-01-01T00:00:00Z"_s, {}, {}} << QStringList{u"0x0002"_s};
        QTest::newRow("not hex") << "zz;later;Mail"_ba << QStringList{u"zz"_s, {}, u"Mail"_s, {}}
                                 << QStringList{};
        QTest::newRow("flags only") << "0000"_ba << QStringList{u"0000"_s, {}, {}, {}} << QStringList{};
        QTest::newRow("empty: nothing") << QByteArray() << QStringList() << QStringList();
        QTest::newRow("NUL first: nothing") << QByteArray("\0;x;y", 5) << QStringList() << QStringList();
    }

    void quarantine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, flagNames);
        const auto value = QuarantineValue::decode(bytes);
        QCOMPARE(bool(value), !fields.isEmpty());
        if (value)
            QCOMPARE((QStringList{value->flags, value->time, value->agent, value->eventID}), fields);
        QCOMPARE(value ? value->flagNames : QStringList(), flagNames);
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
        QCOMPARE(UtcTime::fromMacAbsolute(0), u"2001-01-01T00:00:00Z"_s);
        QCOMPARE(UtcTime::fromMacAbsolute(-0.5), u"2000-12-31T23:59:59.5Z"_s);
        QCOMPARE(UtcTime::fromMacAbsolute(1e300), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(1699999999), u"2023-11-14T22:13:19Z"_s);
        QCOMPARE(UtcTime::fromUnixSeconds(0x7fffffffffffffff), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(-62135596800), u"0001-01-01T00:00:00Z"_s);
        QCOMPARE(UtcTime::fromUnixSeconds(-62135596801), QString());
        QCOMPARE(UtcTime::fromUnixSeconds(253402300799), u"9999-12-31T23:59:59Z"_s);
        // Every day from 1600 to 2400 (each leap rule), at its first or last second, as QDateTime writes them.
        for (qint64 day = -135140; day < 157054; ++day) {
            const qint64 second = day * 86400 + (day % 2 != 0 ? 86399 : 0);
            QCOMPARE(UtcTime::fromUnixSeconds(second), QDateTime::fromSecsSinceEpoch(second, Qt::UTC).toString(Qt::ISODate));
        }
    }
};

QTEST_GUILESS_MAIN(TestOriginValues)
#include "tst_originvalues.moc"
