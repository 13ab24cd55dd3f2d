#include "core/AttributeDecoder.h"
#include "core/AttributeReader.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

const QString kProvenance = QLatin1String(kProvenanceAttribute);
const QString kQuarantine = QLatin1String(kQuarantineAttribute);
const QByteArray P = "user.com.apple.provenance", Q = "user.com.apple.quarantine";
const QByteArray SP = "user.DosStream.com.apple.provenance:$DATA";

// The errno's name, once the domain and the strerror text are checked.
QString errorName(const PosixError& e)
{
    const bool exact = e.domain == QLatin1String("NSPOSIXErrorDomain") &&
                       e.description == QString::fromLocal8Bit(std::strerror(int(e.code)));
    return QString::fromLatin1(exact ? strerrorname_np(int(e.code)) : "inexact error");
}

// "<provenance present> <ID> | <quarantine present> <app>/<length of the value>"
QString summary(const QString& path)
{
    const auto present = [](const PosixResult<bool>& r) {
        return r ? QString::fromLatin1(*r ? "true " : "false ") : errorName(r.error()) + u' ';
    };
    const auto provenance = readAttribute(path, kProvenance), quarantine = readAttribute(path, kQuarantine);
    return present(provenancePresent(path)) +
           (provenance ? decodeProvenanceID(*provenance) : errorName(provenance.error())) +
           QLatin1String(" | ") + present(quarantinePresent(path)) +
           (quarantine ? decodeQuarantineApp(*quarantine) + u'/' + QString::number(quarantine->size())
                       : errorName(quarantine.error()));
}

} // namespace

// The reader and decoders against real files with real extended attributes.
class TestAttributeReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_tree.isValid(), m_tree.problem().constData());
        m_tree.openToOthers();
    }

    void items_data();

    void items()
    {
        QFETCH(QByteArrayList, attributes);
        QFETCH(QString, summary);
        const QString tag = QLatin1String(QTest::currentDataTag()), item = m_tree.file(tag);
        for (qsizetype i = 0; i + 1 < attributes.size(); i += 2)
            m_tree.setRawAttribute(QFile::encodeName(item), attributes.at(i), attributes.at(i + 1));
        QCOMPARE(::summary(item), summary);
        // A link to a link to the item reads the item.
        QCOMPARE(::summary(m_tree.symlink(m_tree.symlink(item, tag + u'1'), tag + u'2')), summary);
    }

    void paths()
    {
        // A name that is not UTF-8 is read by its bytes.
        const QByteArray raw = m_tree.rawFile("caf\xe9 \xff.app");
        m_tree.setRawAttribute(raw, P, "\x42");
        QVERIFY(attributeHasValue(raw, kProvenance).value());
        QCOMPARE(readAttribute(raw, kProvenance).value(), QByteArray("\x42"));
        m_tree.file(QStringLiteral("file"));
        m_tree.symlink(m_tree.path(QStringLiteral("gone")), QStringLiteral("dangling"));
        for (const auto& [relative, error] : {std::pair(QStringLiteral("missing"), "ENOENT"),
                                              {QStringLiteral("dangling"), "ENOENT"},
                                              {QStringLiteral("file/x"), "ENOTDIR"},
                                              {QString(5000, u'n'), "ENAMETOOLONG"}})
            QCOMPARE(summary(m_tree.path(relative)),
                     QStringLiteral("%1 %1 | %1 %1").arg(QLatin1String(error)));
    }

    void unreadableAsNobody()
    {
        const QStringList files{m_tree.file(QStringLiteral("locked/in")),
                                m_tree.file(QStringLiteral("private")),
                                m_tree.file(QStringLiteral("readable"))};
        for (const QString& file : files)
            m_tree.setProvenance(file, "\x01");
        QCOMPARE(::chmod(QFile::encodeName(m_tree.path(QStringLiteral("locked"))).constData(), 0700), 0);
        QCOMPARE(::chmod(QFile::encodeName(files[1]).constData(), 0600), 0);
        bool ok = false;
        const QByteArray lines = TestTree::asUnprivileged(
            [&] {
                return QStringList{summary(files[0]), summary(files[1]), summary(files[2])}
                    .join(u'\n')
                    .toUtf8();
            },
            &ok);
        QVERIFY2(ok, lines.constData());
        // Listing the names needs no permission on the file itself; reading a value does.
        QCOMPARE(lines, QByteArray("EACCES EACCES | EACCES EACCES\nEACCES EACCES | ENODATA ENODATA\n"
                                   "true 0x01 | ENODATA ENODATA"));
    }

private:
    TestTree m_tree;
};

void TestAttributeReader::items_data()
{
    QTest::addColumn<QByteArrayList>("attributes"); // name, value, name, value...
    QTest::addColumn<QString>("summary");
    QByteArray longValue(3000, '\0');
    for (qsizetype i = 0; i < longValue.size(); ++i)
        longValue[i] = char(i * 7 + 3);
    QByteArrayList many; // more names than the first listing buffer holds
    for (int i = 0; i < 40; ++i)
        many << "user.filler." + QByteArray(48, 'f') + QByteArray::number(i) << "v";
    const QString longSummary = QLatin1String("true 0x") + QString::fromLatin1(longValue.toHex());
#define NONE "ENODATA ENODATA"
    QTest::newRow("absent") << QByteArrayList{} << NONE " | " NONE;
    QTest::newRow("empty") << QByteArrayList{P, "", Q, ""} << "false 0x | false unknown/0";
    QTest::newRow("11 bytes") << QByteArrayList{P, QByteArray::fromHex("00112233445566778899ff")}
                              << "true 0x00112233445566778899ff | " NONE;
    QTest::newRow("17 bytes") << QByteArrayList{P, QByteArray::fromHex("000102030405060708090a0b0c0d0e0fAB")}
                              << "true 0x000102030405060708090a0b0c0d0e0fab | " NONE;
    QTest::newRow("3000 bytes") << QByteArrayList{P, longValue} << longSummary + QLatin1String(" | " NONE);
    QTest::newRow("empty fields") << QByteArrayList{Q, ";0083;;65a1b2c3;;Browser;1F"}
                                  << NONE " | true Browser/27";
    QTest::newRow("two fields") << QByteArrayList{Q, "0083;65a1b2c3;"} << NONE " | true unknown/14";
    QTest::newRow("multi-byte agent") << QByteArrayList{Q, "0083;1;Navigateur \xc3\xa9\xf0\x9f\xa6\x8a"}
                                      << NONE " | true Navigateur é🦊/24";
    QTest::newRow("invalid UTF-8") << QByteArrayList{Q, "0083;1;Browser;\xff"} << NONE " | true unknown/16";
    QTest::newRow("look-alike names")
        << QByteArrayList{P + "x", "1", Q.chopped(1), "1", SP.chopped(6), "1"} << NONE " | " NONE;
    QTest::newRow("many names") << many + QByteArrayList{Q, "late"} << NONE " | true unknown/4";
    QTest::newRow("Samba, NUL removed")
        << QByteArrayList{SP, QByteArray("\1\2\0", 3), "user.DosStream.com.apple.quarantine:$DATA", "a;b;c"}
        << "true 0x0102 | true c/5";
    QTest::newRow("Samba, only the NUL") << QByteArrayList{SP, QByteArray(1, '\0')} << "false 0x | " NONE;
    QTest::newRow("user form first") << QByteArrayList{SP, QByteArray("\3\0", 2), P, ""}
                                     << "false 0x | " NONE;
#undef NONE
}

QTEST_GUILESS_MAIN(TestAttributeReader)
#include "tst_attributereader.moc"
