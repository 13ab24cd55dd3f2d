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
const QByteArray SP = "user.DosStream.com.apple.provenance:$DATA",
                 SQ = "user.DosStream.com.apple.quarantine:$DATA";
// Samba's forms without the stream type.
const QByteArray TP = "user.DosStream.com.apple.provenance", TQ = "user.DosStream.com.apple.quarantine";

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
        const QString tag = QLatin1String(QTest::currentDataTag());
        const QString item = m_tree.file(tag);
        for (qsizetype i = 0; i + 1 < attributes.size(); i += 2)
            m_tree.setRawAttribute(QFile::encodeName(item), attributes.at(i), attributes.at(i + 1));
        QCOMPARE(::summary(item), summary);
        // A link to a link to the item reads the item.
        QCOMPARE(::summary(m_tree.symlink(m_tree.symlink(item, tag + u'1'), tag + u'2')), summary);
    }

    void unreachable()
    {
        const QString locked = m_tree.file(QStringLiteral("locked/in")),
                      secret = m_tree.file(QStringLiteral("private"));
        m_tree.setProvenance(locked, "\x01");
        m_tree.setProvenance(secret, "\x01");
        m_tree.file(QStringLiteral("file"));
        m_tree.symlink(m_tree.path(QStringLiteral("gone")), QStringLiteral("dangling"));
        QCOMPARE(::chmod(QFile::encodeName(m_tree.path(QStringLiteral("locked"))).constData(), 0700), 0);
        QCOMPARE(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
        const QStringList paths{locked, secret, m_tree.path(QStringLiteral("dangling")),
                                m_tree.path(QStringLiteral("file/x")), m_tree.path(QString(5000, u'n'))};
        bool ok = false;
        const QByteArray lines = TestTree::asUnprivileged(
            [&] {
                QStringList lines;
                for (const QString& path : paths)
                    lines << summary(path);
                return lines.join(u'\n').toUtf8();
            },
            &ok);
        QVERIFY2(ok, lines.constData());
        // As nobody. Listing the names needs no permission on the file itself; reading a value does.
        QCOMPARE(lines, QByteArray("EACCES EACCES | EACCES EACCES\nEACCES EACCES | ENODATA ENODATA\n"
                                   "ENOENT ENOENT | ENOENT ENOENT\nENOTDIR ENOTDIR | ENOTDIR ENOTDIR\n"
                                   "ENAMETOOLONG ENAMETOOLONG | ENAMETOOLONG ENAMETOOLONG"));
    }

private:
    TestTree m_tree;
};

void TestAttributeReader::items_data()
{
    QTest::addColumn<QByteArrayList>("attributes"); // name, value, name, value...
    QTest::addColumn<QString>("summary");
    QByteArray longValue; // every byte value, upper-case hex digits included
    for (int i = 0; i < 3000; ++i)
        longValue += char(i * 7 + 3);
    QByteArrayList many; // more names than the first listing buffer holds
    for (int i = 0; i < 40; ++i)
        many << "user.filler." + QByteArray(48, 'f') + QByteArray::number(i) << "v";
    // Bytes as Samba 4.17 and netatalk store what a Mac writes: the value and one NUL.
    const QByteArray provenance00 = QByteArray::fromHex("010200aabbccddeeff1100"); // the key ends in 00
#define NONE "ENODATA ENODATA"
    QTest::newRow("11 bytes, empty fields")
        << QByteArrayList{P, QByteArray::fromHex("00112233445566778899ff"), Q, ";0083;;65a1b2c3;;Browser;1F"}
        << "true 0x00112233445566778899ff | true Browser/27";
    QTest::newRow("3000 bytes, two fields")
        << QByteArrayList{P, longValue, Q, "0083;65a1b2c3;"}
        << QLatin1String("true 0x") + QString::fromLatin1(longValue.toHex()) +
               QLatin1String(" | true unknown/14");
    // A 12-byte provenance loses its last byte only where that is a NUL after the 11-byte form.
    QTest::newRow("12 bytes of another kind, multi-byte agent")
        << QByteArrayList{P, QByteArray::fromHex("010300aabbccddeeff110000"), Q,
                          "0083;1;Navigateur \xc3\xa9\xf0\x9f\xa6\x8a"}
        << "true 0x010300aabbccddeeff110000 | true Navigateur é🦊/24";
    QTest::newRow("13 bytes ending in 00 00, invalid UTF-8")
        << QByteArrayList{P, provenance00 + QByteArray(2, '\0'), Q, "0083;1;Browser;\xff"}
        << "true 0x010200aabbccddeeff11000000 | true unknown/16";
    QTest::newRow("12 bytes not ending in 00, quarantine ends at its first NUL")
        << QByteArrayList{P, provenance00 + '\x01', Q, QByteArray("0083;1;Saf\0ari;x", 17)}
        << "true 0x010200aabbccddeeff110001 | true Saf/17";
    QTest::newRow("look-alike names")
        << QByteArrayList{P + "x", "1", Q.chopped(1), "1", SP.chopped(7), "1", TQ + ":$DAT", "1"}
        << NONE " | " NONE;
    QTest::newRow("many names") << many + QByteArrayList{Q, "late"} << NONE " | true unknown/4";
    QTest::newRow("Samba, NUL removed")
        << QByteArrayList{SP, QByteArray("\1\2\0", 3), SQ, "a;b;c"} << "true 0x0102 | true c/5";
    // A value that is only the NUL Samba adds is empty, and the user form is read before Samba's.
    QTest::newRow("user form first, NUL alone")
        << QByteArrayList{SP, QByteArray("\3\0", 2), P, QByteArray(1, '\0'), SQ, QByteArray(1, '\0')}
        << "false 0x | false unknown/0";
    QTest::newRow("with type before without, an empty value")
        << QByteArrayList{TP, "\x05", SP, QByteArray("\x04\0", 2), Q, ""} << "true 0x04 | false unknown/0";
#undef NONE
}

QTEST_GUILESS_MAIN(TestAttributeReader)
#include "tst_attributereader.moc"
