#include "core/AttributeDecoder.h"
#include "core/AttributeReader.h"
#include "core/PosixError.h"
#include "tests/support/TestTree.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

// The reader against real files with real extended attributes.
class TestAttributeReader : public QObject
{
    Q_OBJECT

private slots:
    void posixErrorCarriesCodeAndText_data();
    void posixErrorCarriesCodeAndText();

    void presentValue();
    void emptyValue();
    void absentAttribute();
    void otherAttributesOnly();
    void failingPaths_data();
    void failingPaths();
    void unsearchableFolderAsNobody();
    void unreadableFileAsNobody();
    void symbolicLinkIsFollowed();
    void danglingSymbolicLink();
    void elevenByteValue();
    void longValue();
    void manyAttributeNames();
    void sambaForm_data();
    void sambaForm();
    void userFormWinsOverSamba();
    void firstExistingFormWinsEvenWhenEmpty();
    void nonUtf8FileName();
    void arbitraryAttributeName();
    void quarantineTexts_data();
    void quarantineTexts();
};

namespace {

const QString kProvenance = QLatin1String(kProvenanceAttribute);
const QString kQuarantine = QLatin1String(kQuarantineAttribute);
const QByteArray kSambaProvenance = QByteArrayLiteral("user.DosStream.com.apple.provenance:$DATA");
const QByteArray kSambaQuarantine = QByteArrayLiteral("user.DosStream.com.apple.quarantine:$DATA");

QString strerrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// One line for an unprivileged child to send back: "value:<0|1|hex>" or "error:<code>:<text>".
template<typename T> QByteArray describe(const PosixResult<T>& result)
{
    if (result) {
        if constexpr (std::is_same_v<T, bool>)
            return "value:" + QByteArray::number(int(*result));
        else
            return "value:" + result->toHex();
    }
    return "error:" + QByteArray::number(result.error().code) + ':' + result.error().description.toUtf8();
}

QByteArray describeError(int code)
{
    return "error:" + QByteArray::number(code) + ':' + QByteArray(std::strerror(code));
}

} // namespace

#define VERIFY_TREE(tree) QVERIFY2((tree).isValid(), (tree).problem().constData())

#define VERIFY_ERROR(result, expectedCode)                                                                   \
    do {                                                                                                     \
        QVERIFY2(!(result), "expected a failure, got a value");                                              \
        QCOMPARE((result).error().domain, QStringLiteral("NSPOSIXErrorDomain"));                             \
        QCOMPARE((result).error().code, qint64(expectedCode));                                               \
        QCOMPARE((result).error().description, strerrorText(expectedCode));                                  \
    } while (false)

void TestAttributeReader::posixErrorCarriesCodeAndText_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("ENODATA") << int(ENODATA);
    QTest::newRow("ENOENT") << int(ENOENT);
    QTest::newRow("EACCES") << int(EACCES);
    QTest::newRow("ERANGE") << int(ERANGE);
    QTest::newRow("unknown code") << 99999;
}

void TestAttributeReader::posixErrorCarriesCodeAndText()
{
    QFETCH(int, code);
    const PosixError error = posixError(code);
    QCOMPARE(error.domain, QStringLiteral("NSPOSIXErrorDomain"));
    QCOMPARE(posixErrorDomain(), error.domain);
    QCOMPARE(error.code, qint64(code));
    QCOMPARE(error.description, strerrorText(code));
    QVERIFY(!error.description.isEmpty());
    QCOMPARE(posixError(code), error);
    QVERIFY(!(posixError(code) == posixError(code + 1)));
}

void TestAttributeReader::presentValue()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Present.app"));
    const QByteArray provenance = QByteArray::fromHex("0102030405");
    const QByteArray quarantine = QByteArrayLiteral("0083;65a1b2c3;Browser;1F2E3D4C");
    tree.setProvenance(file, provenance);
    tree.setQuarantine(file, quarantine);

    const auto hasProvenance = provenancePresent(file);
    QVERIFY(hasProvenance);
    QCOMPARE(*hasProvenance, true);
    const auto hasQuarantine = quarantinePresent(file);
    QVERIFY(hasQuarantine);
    QCOMPARE(*hasQuarantine, true);
    const auto generic = attributeHasValue(file, kProvenance);
    QVERIFY(generic);
    QCOMPARE(*generic, true);

    const auto provenanceBytes = readAttribute(file, kProvenance);
    QVERIFY(provenanceBytes);
    QCOMPARE(*provenanceBytes, provenance);
    const auto quarantineBytes = readAttribute(file, kQuarantine);
    QVERIFY(quarantineBytes);
    QCOMPARE(*quarantineBytes, quarantine);
}

void TestAttributeReader::emptyValue()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Empty"));
    tree.setProvenance(file, QByteArray());
    tree.setQuarantine(file, QByteArray());

    // Exists but empty: a plain "no", not a failure.
    const auto hasProvenance = provenancePresent(file);
    QVERIFY(hasProvenance);
    QCOMPARE(*hasProvenance, false);
    const auto hasQuarantine = quarantinePresent(file);
    QVERIFY(hasQuarantine);
    QCOMPARE(*hasQuarantine, false);

    const auto bytes = readAttribute(file, kProvenance);
    QVERIFY(bytes);
    QVERIFY(bytes->isEmpty());
}

void TestAttributeReader::absentAttribute()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Plain.txt"), "content");

    const auto hasProvenance = provenancePresent(file);
    VERIFY_ERROR(hasProvenance, ENODATA);
    QCOMPARE(hasProvenance.error().description, QStringLiteral("No data available"));
    VERIFY_ERROR(quarantinePresent(file), ENODATA);
    VERIFY_ERROR(readAttribute(file, kProvenance), ENODATA);
    VERIFY_ERROR(readAttribute(file, kQuarantine), ENODATA);
}

void TestAttributeReader::otherAttributesOnly()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Other"));
    const QByteArray raw = QFile::encodeName(file);
    tree.setRawAttribute(raw, "user.com.apple.provenance.backup", "x");
    tree.setRawAttribute(raw, "user.com.apple.provenanc", "x");
    tree.setRawAttribute(raw, "user.something", "x");
    // Only the quarantine is there: the provenance is absent, not confused with it.
    tree.setQuarantine(file, "q;w;e");

    VERIFY_ERROR(provenancePresent(file), ENODATA);
    VERIFY_ERROR(readAttribute(file, kProvenance), ENODATA);
    const auto hasQuarantine = quarantinePresent(file);
    QVERIFY(hasQuarantine);
    QVERIFY(*hasQuarantine);
}

void TestAttributeReader::failingPaths_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<int>("code");
    QTest::newRow("does not exist") << QStringLiteral("missing.app") << int(ENOENT);
    QTest::newRow("missing folder") << QStringLiteral("nowhere/inner.app") << int(ENOENT);
    QTest::newRow("file used as folder") << QStringLiteral("plain/inner") << int(ENOTDIR);
    QTest::newRow("longer than PATH_MAX") << QString(5000, QLatin1Char('n')) << int(ENAMETOOLONG);
}

void TestAttributeReader::failingPaths()
{
    QFETCH(QString, relative);
    QFETCH(int, code);
    TestTree tree;
    VERIFY_TREE(tree);
    tree.file(QStringLiteral("plain"));
    const QString path = tree.path(relative);

    VERIFY_ERROR(provenancePresent(path), code);
    VERIFY_ERROR(quarantinePresent(path), code);
    VERIFY_ERROR(readAttribute(path, kProvenance), code);
    VERIFY_ERROR(readAttribute(QFile::encodeName(path), kQuarantine), code);
}

void TestAttributeReader::unsearchableFolderAsNobody()
{
    TestTree tree;
    VERIFY_TREE(tree);
    tree.openToOthers();
    const QString inside = tree.file(QStringLiteral("locked/Inside.app"));
    const QString open = tree.file(QStringLiteral("open/Outside.app"));
    tree.setProvenance(inside, "\x01");
    tree.setProvenance(open, "\x02");
    QCOMPARE(::chmod(QFile::encodeName(tree.path(QStringLiteral("locked"))).constData(), 0700), 0);
    QCOMPARE(::chmod(QFile::encodeName(tree.path(QStringLiteral("open"))).constData(), 0755), 0);

    bool ok = false;
    const QByteArray lines = TestTree::asUnprivileged(
        [&] {
            return describe(provenancePresent(inside)) + '\n' + describe(readAttribute(inside, kProvenance)) +
                   '\n' + describe(provenancePresent(open));
        },
        &ok);
    QVERIFY2(ok, lines.constData());
    const QList<QByteArray> results = lines.split('\n');
    QCOMPARE(results.size(), 3);
    QCOMPARE(results.at(0), describeError(EACCES));
    QCOMPARE(results.at(1), describeError(EACCES));
    // The same user can read the attribute of a file whose folder it may search.
    QCOMPARE(results.at(2), QByteArray("value:1"));
}

void TestAttributeReader::unreadableFileAsNobody()
{
    TestTree tree;
    VERIFY_TREE(tree);
    tree.openToOthers();
    const QString file = tree.file(QStringLiteral("Private.app"));
    tree.setProvenance(file, "\x01\x02");
    QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0600), 0);

    bool ok = false;
    const QByteArray lines = TestTree::asUnprivileged(
        [&] { return describe(provenancePresent(file)) + '\n' + describe(readAttribute(file, kProvenance)); },
        &ok);
    QVERIFY2(ok, lines.constData());
    QCOMPARE(lines, describeError(EACCES) + '\n' + describeError(EACCES));
}

void TestAttributeReader::symbolicLinkIsFollowed()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString bundle = tree.folder(QStringLiteral("Applications/Real.app"));
    tree.setProvenance(bundle, QByteArray::fromHex("aabbcc"));
    tree.setQuarantine(bundle, "0083;1;Agent;2");
    const QString link = tree.symlink(bundle, QStringLiteral("Link.app"));
    QVERIFY(QFileInfo(link).isSymLink());

    const auto hasProvenance = provenancePresent(link);
    QVERIFY(hasProvenance);
    QVERIFY(*hasProvenance);
    const auto provenance = readAttribute(link, kProvenance);
    QVERIFY(provenance);
    QCOMPARE(*provenance, QByteArray::fromHex("aabbcc"));
    const auto quarantine = readAttribute(link, kQuarantine);
    QVERIFY(quarantine);
    QCOMPARE(decodeQuarantineApp(*quarantine), QStringLiteral("Agent"));

    // A link to a link ends at the same bundle.
    const QString second = tree.symlink(link, QStringLiteral("Second.app"));
    const auto again = readAttribute(second, kProvenance);
    QVERIFY(again);
    QCOMPARE(*again, QByteArray::fromHex("aabbcc"));
}

void TestAttributeReader::danglingSymbolicLink()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString link = tree.symlink(tree.path(QStringLiteral("gone.app")), QStringLiteral("Dangling.app"));
    VERIFY_ERROR(provenancePresent(link), ENOENT);
    VERIFY_ERROR(readAttribute(link, kQuarantine), ENOENT);
}

void TestAttributeReader::elevenByteValue()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Eleven"));
    const QByteArray value = QByteArray::fromHex("00112233445566778899ff");
    QCOMPARE(value.size(), 11);
    tree.setProvenance(file, value);

    const auto bytes = readAttribute(file, kProvenance);
    QVERIFY(bytes);
    QCOMPARE(bytes->size(), 11);
    QCOMPARE(*bytes, value);
    QCOMPARE(decodeProvenanceID(*bytes), QStringLiteral("0x00112233445566778899ff"));
}

void TestAttributeReader::longValue()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Long"));
    QByteArray value(3000, '\0');
    for (qsizetype i = 0; i < value.size(); ++i)
        value[i] = char((i * 7 + 3) & 0xff);
    tree.setProvenance(file, value);

    const auto bytes = readAttribute(file, kProvenance);
    QVERIFY(bytes);
    QCOMPARE(bytes->size(), 3000);
    QCOMPARE(*bytes, value);
    const QString id = decodeProvenanceID(*bytes);
    QCOMPARE(id.size(), 2 + 6000);
    QCOMPARE(id, QStringLiteral("0x") + QString::fromLatin1(value.toHex()));
}

void TestAttributeReader::manyAttributeNames()
{
    // More names than fit the first listing buffer: the list is fetched again, larger.
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Crowded"));
    const QByteArray raw = QFile::encodeName(file);
    qsizetype listed = 0;
    for (int i = 0; i < 40; ++i) {
        const QByteArray name = "user.filler." + QByteArray(48, char('a' + i % 26)) + QByteArray::number(i);
        tree.setRawAttribute(raw, name, "v");
        listed += name.size() + 1;
    }
    tree.setQuarantine(file, "0081;2;Late Agent;3");
    QVERIFY(listed > 1024);

    const auto quarantine = readAttribute(file, kQuarantine);
    QVERIFY(quarantine);
    QCOMPARE(decodeQuarantineApp(*quarantine), QStringLiteral("Late Agent"));
    VERIFY_ERROR(provenancePresent(file), ENODATA);
}

void TestAttributeReader::sambaForm_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("value and NUL") << QByteArray("\x01\x02\x03\0", 4) << true << QByteArray("\x01\x02\x03");
    QTest::newRow("only the NUL") << QByteArray("\0", 1) << false << QByteArray();
    QTest::newRow("value ending in a NUL byte")
        << QByteArray("\x05\0\0", 3) << true << QByteArray("\x05\0", 2);
    QTest::newRow("NUL missing") << QByteArray("\x07\x08") << true << QByteArray("\x07\x08");
}

void TestAttributeReader::sambaForm()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, present);
    QFETCH(QByteArray, expected);
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("FromMac.app"));
    tree.setRawAttribute(QFile::encodeName(file), kSambaProvenance, stored);
    tree.setRawAttribute(QFile::encodeName(file), kSambaQuarantine, QByteArray("0083;1;Samba Agent;2\0", 21));

    const auto hasProvenance = provenancePresent(file);
    QVERIFY(hasProvenance);
    QCOMPARE(*hasProvenance, present);
    const auto bytes = readAttribute(file, kProvenance);
    QVERIFY(bytes);
    QCOMPARE(*bytes, expected);

    const auto quarantine = readAttribute(file, kQuarantine);
    QVERIFY(quarantine);
    QCOMPARE(*quarantine, QByteArray("0083;1;Samba Agent;2"));
    QCOMPARE(decodeQuarantineApp(*quarantine), QStringLiteral("Samba Agent"));
}

void TestAttributeReader::userFormWinsOverSamba()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Both.app"));
    tree.setRawAttribute(QFile::encodeName(file), kSambaProvenance, QByteArray("\x0d\x0e\0", 3));
    tree.setProvenance(file, "\x0a\x0b");

    const auto bytes = readAttribute(file, kProvenance);
    QVERIFY(bytes);
    QCOMPARE(*bytes, QByteArray("\x0a\x0b"));
}

void TestAttributeReader::firstExistingFormWinsEvenWhenEmpty()
{
    // The first form present decides, even when it is empty and a later one is not.
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Shadowed.app"));
    tree.setRawAttribute(QFile::encodeName(file), kSambaProvenance, QByteArray("\x0d\0", 2));
    tree.setProvenance(file, QByteArray());

    const auto hasProvenance = provenancePresent(file);
    QVERIFY(hasProvenance);
    QCOMPARE(*hasProvenance, false);
    const auto bytes = readAttribute(file, kProvenance);
    QVERIFY(bytes);
    QVERIFY(bytes->isEmpty());
}

void TestAttributeReader::nonUtf8FileName()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QByteArray raw = tree.rawFile("caf\xe9 \xff.app");
    QVERIFY(!QUtf8StringView(raw).isValidUtf8());
    tree.setRawAttribute(raw, "user.com.apple.provenance", "\x42");
    tree.setRawAttribute(raw, "user.com.apple.quarantine", "0083;1;Raw;2");

    const auto hasProvenance = attributeHasValue(raw, kProvenance);
    QVERIFY(hasProvenance);
    QVERIFY(*hasProvenance);
    const auto provenance = readAttribute(raw, kProvenance);
    QVERIFY(provenance);
    QCOMPARE(*provenance, QByteArray("\x42"));
    const auto quarantine = readAttribute(raw, kQuarantine);
    QVERIFY(quarantine);
    QCOMPARE(*quarantine, QByteArray("0083;1;Raw;2"));

    // Through text the bad bytes become U+FFFD, which names a file that does not exist.
    VERIFY_ERROR(attributeHasValue(QFile::decodeName(raw), kProvenance), ENOENT);
}

void TestAttributeReader::arbitraryAttributeName()
{
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Named"));
    tree.setRawAttribute(QFile::encodeName(file), "user.com.example.tag", "tagged");
    const auto has = attributeHasValue(file, QStringLiteral("com.example.tag"));
    QVERIFY(has);
    QVERIFY(*has);
    const auto bytes = readAttribute(file, QStringLiteral("com.example.tag"));
    QVERIFY(bytes);
    QCOMPARE(*bytes, QByteArray("tagged"));
    VERIFY_ERROR(attributeHasValue(file, QStringLiteral("com.example.other")), ENODATA);
}

void TestAttributeReader::quarantineTexts_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("app");
    QTest::newRow("four fields") << QByteArray("0083;65a1b2c3;Browser;1F2E3D4C") << QStringLiteral("Browser");
    QTest::newRow("empty third field") << QByteArray("0083;65a1b2c3;;1F2E3D4C") << QStringLiteral("1F2E3D4C");
    QTest::newRow("empty first field")
        << QByteArray(";65a1b2c3;Browser;1F2E3D4C") << QStringLiteral("1F2E3D4C");
    QTest::newRow("two fields") << QByteArray("0083;65a1b2c3;") << QStringLiteral("unknown");
    QTest::newRow("multi-byte agent") << QByteArray("0083;65a1b2c3;Navigateur \xc3\xa9\xf0\x9f\xa6\x8a;X")
                                      << QStringLiteral("Navigateur é🦊");
    QTest::newRow("invalid UTF-8") << QByteArray("0083;65a1b2c3;Bad\xff;X") << QStringLiteral("unknown");
}

void TestAttributeReader::quarantineTexts()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, app);
    TestTree tree;
    VERIFY_TREE(tree);
    const QString file = tree.file(QStringLiteral("Downloaded.dmg"));
    tree.setQuarantine(file, value);

    const auto present = quarantinePresent(file);
    QVERIFY(present);
    QVERIFY(*present);
    const auto bytes = readAttribute(file, kQuarantine);
    QVERIFY(bytes);
    QCOMPARE(*bytes, value);
    QCOMPARE(decodeQuarantineApp(*bytes), app);
}

QTEST_GUILESS_MAIN(TestAttributeReader)
#include "tst_attributereader.moc"
