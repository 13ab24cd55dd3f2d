#include "core/AttributeReader.h"
#include "core/ItemAttributes.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

// The presence test and read over scripted system calls: the races and name forms
// that a real file system cannot produce on demand.
class TestItemAttributes : public QObject
{
    Q_OBJECT

private slots:
    void formPrecedence_data();
    void formPrecedence();
    void lookalikeNamesDoNotMatch();
    void listedOncePerItem();
    void noAttributesCostsOneCall();
    void valueShrinksBeforeRead();
    void valueShrinksToNothing();
    void valueGrowsOnce();
    void valueKeepsGrowing();
    void valueVanishesBeforeRead();
    void sizeQueryFails();
    void listFails();
    void longNameList();
    void nameListKeepsGrowing();
    void sambaPresenceReadsTheValue();
};

namespace {

// What the scripted calls hold and what they were asked.
struct Script
{
    // Listed in this order.
    std::vector<std::string> names;
    // The n-th size query of an attribute sees versions[n-1], and the value changes
    // right after it: a read that follows sees versions[n] (the last one stays).
    std::map<std::string, std::vector<QByteArray>> versions;
    int listError = 0;
    int getError = 0;
    // Extra bytes the name list gains after each listing (a list that keeps growing).
    int listGrowth = 0;

    int listCalls = 0;
    int sizeQueries = 0;
    int reads = 0;
    QStringList getNames;
    std::map<std::string, int> queriesOf;

    std::string joinedNames() const
    {
        std::string joined;
        for (const auto& name : names)
            joined += name + '\0';
        joined += std::string(size_t(listGrowth * listCalls), 'g');
        if (listGrowth)
            joined += '\0';
        return joined;
    }

    QByteArray current(const std::string& name, bool reading) const
    {
        const auto& all = versions.at(name);
        const int seen = queriesOf.count(name) ? queriesOf.at(name) : 0;
        return all.at(size_t(std::clamp(reading ? seen : seen - 1, 0, int(all.size()) - 1)));
    }
};

class FakeCalls
{
public:
    explicit FakeCalls(std::shared_ptr<Script> script) : m_script(std::move(script)) {}

    ssize_t list(char* buffer, size_t size)
    {
        Script& s = *m_script;
        const std::string joined = s.joinedNames();
        ++s.listCalls;
        if (s.listError) {
            errno = s.listError;
            return -1;
        }
        if (!buffer)
            return ssize_t(joined.size());
        if (size < joined.size()) {
            errno = ERANGE;
            return -1;
        }
        std::memcpy(buffer, joined.data(), joined.size());
        return ssize_t(joined.size());
    }

    ssize_t get(const char* name, void* buffer, size_t size)
    {
        Script& s = *m_script;
        s.getNames.append(QString::fromLatin1(name));
        const bool listed = std::find(s.names.begin(), s.names.end(), name) != s.names.end();
        if (!buffer) {
            ++s.sizeQueries;
            ++s.queriesOf[name];
        } else {
            ++s.reads;
        }
        if (s.getError) {
            errno = s.getError;
            return -1;
        }
        if (!listed || s.versions.count(name) == 0) {
            errno = ENODATA;
            return -1;
        }
        const QByteArray value = s.current(name, buffer != nullptr);
        if (!buffer)
            return ssize_t(value.size());
        if (size < size_t(value.size())) {
            errno = ERANGE;
            return -1;
        }
        std::memcpy(buffer, value.constData(), size_t(value.size()));
        return ssize_t(value.size());
    }

private:
    std::shared_ptr<Script> m_script;
};

using Item = ItemAttributes<FakeCalls>;

const std::string kUser = "user.com.apple.provenance";
const std::string kOsx = "osx.com.apple.provenance";
const std::string kBare = "com.apple.provenance";
const std::string kSamba = "user.DosStream.com.apple.provenance:$DATA";

std::shared_ptr<Script> scriptWith(std::vector<std::string> names)
{
    auto script = std::make_shared<Script>();
    script->names = std::move(names);
    return script;
}

QString strerrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

void TestItemAttributes::formPrecedence_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("winner");
    const auto q = [](const std::string& s) { return QString::fromStdString(s); };
    QTest::newRow("user. alone") << QStringList{q(kUser)} << q(kUser);
    QTest::newRow("osx. alone") << QStringList{q(kOsx)} << q(kOsx);
    QTest::newRow("bare alone") << QStringList{q(kBare)} << q(kBare);
    QTest::newRow("Samba alone") << QStringList{q(kSamba)} << q(kSamba);
    QTest::newRow("all, listed last to first")
        << QStringList{q(kSamba), q(kBare), q(kOsx), q(kUser)} << q(kUser);
    QTest::newRow("all, listed first to last")
        << QStringList{q(kUser), q(kOsx), q(kBare), q(kSamba)} << q(kUser);
    QTest::newRow("osx. before bare") << QStringList{q(kBare), q(kOsx)} << q(kOsx);
    QTest::newRow("osx. before Samba") << QStringList{q(kSamba), q(kOsx)} << q(kOsx);
    QTest::newRow("bare before Samba") << QStringList{q(kSamba), q(kBare)} << q(kBare);
    QTest::newRow("among others") << QStringList{QStringLiteral("user.other"), q(kSamba),
                                                 QStringLiteral("security.selinux"), q(kBare)}
                                  << q(kBare);
}

void TestItemAttributes::formPrecedence()
{
    QFETCH(QStringList, listed);
    QFETCH(QString, winner);
    auto script = std::make_shared<Script>();
    for (const QString& name : listed) {
        const std::string n = name.toStdString();
        script->names.push_back(n);
        // Each form holds its own name, so the value tells which one was read.
        QByteArray value = name.toLatin1();
        if (n == kSamba)
            value += '\0';
        script->versions[n] = {value};
    }
    Item item{FakeCalls(script)};

    const auto present = item.hasValue(provenanceForms());
    QVERIFY(present);
    QVERIFY(*present);
    const auto value = item.read(provenanceForms());
    QVERIFY(value);
    QCOMPARE(QString::fromLatin1(*value), winner);
    // Only the winning form is asked for.
    for (const QString& asked : std::as_const(script->getNames))
        QCOMPARE(asked, winner);
}

void TestItemAttributes::lookalikeNamesDoNotMatch()
{
    auto script =
        scriptWith({"user.com.apple.provenance.old", "user.com.apple.provenanc", "xcom.apple.provenance",
                    "user.DosStream.com.apple.provenance", "user.com.apple.quarantine"});
    Item item{FakeCalls(script)};
    const auto present = item.hasValue(provenanceForms());
    QVERIFY(!present);
    QCOMPARE(present.error().code, qint64(ENODATA));
    QCOMPARE(present.error().description, strerrorText(ENODATA));
    QCOMPARE(script->sizeQueries, 0);
}

void TestItemAttributes::listedOncePerItem()
{
    auto script = scriptWith({kUser, "user.com.apple.quarantine"});
    script->versions[kUser] = {"\x01\x02"};
    script->versions["user.com.apple.quarantine"] = {"a;b;c"};
    Item item{FakeCalls(script)};

    QVERIFY(item.hasValue(provenanceForms()));
    QVERIFY(item.read(provenanceForms()));
    QVERIFY(item.hasValue(quarantineForms()));
    const auto quarantine = item.read(quarantineForms());
    QVERIFY(quarantine);
    QCOMPARE(*quarantine, QByteArray("a;b;c"));
    QCOMPARE(script->listCalls, 1);
}

void TestItemAttributes::noAttributesCostsOneCall()
{
    auto script = scriptWith({});
    Item item{FakeCalls(script)};
    const auto provenance = item.hasValue(provenanceForms());
    const auto quarantine = item.hasValue(quarantineForms());
    QVERIFY(!provenance);
    QVERIFY(!quarantine);
    QCOMPARE(provenance.error().code, qint64(ENODATA));
    QCOMPARE(quarantine.error().code, qint64(ENODATA));
    QCOMPARE(script->listCalls, 1);
    QCOMPARE(script->getNames.size(), 0);
}

void TestItemAttributes::valueShrinksBeforeRead()
{
    auto script = scriptWith({kUser});
    script->versions[kUser] = {"0123456789", "abcdef"};
    Item item{FakeCalls(script)};
    const auto value = item.read(provenanceForms());
    QVERIFY(value);
    // Only what the read returned, no zero tail from the larger size query.
    QCOMPARE(*value, QByteArray("abcdef"));
    QCOMPARE(script->sizeQueries, 1);
    QCOMPARE(script->reads, 1);
}

void TestItemAttributes::valueShrinksToNothing()
{
    auto script = scriptWith({kUser});
    script->versions[kUser] = {"0123", ""};
    Item item{FakeCalls(script)};
    const auto value = item.read(provenanceForms());
    QVERIFY(value);
    QVERIFY(value->isEmpty());
}

void TestItemAttributes::valueGrowsOnce()
{
    auto script = scriptWith({kUser});
    // The size query sees 3 bytes, the read 8: ERANGE, and the second attempt fits.
    script->versions[kUser] = {"abc", "abcdefgh"};
    Item item{FakeCalls(script)};
    const auto value = item.read(provenanceForms());
    QVERIFY(value);
    QCOMPARE(*value, QByteArray("abcdefgh"));
    QCOMPARE(script->sizeQueries, 2);
    QCOMPARE(script->reads, 2);
}

void TestItemAttributes::valueKeepsGrowing()
{
    auto script = scriptWith({kUser});
    // Every read finds four more bytes than the size query before it reported.
    for (int i = 1; i <= 50; ++i)
        script->versions[kUser].push_back(QByteArray(4 * i, 'x'));
    Item item{FakeCalls(script)};
    const auto value = item.read(provenanceForms());
    QVERIFY(!value);
    QCOMPARE(value.error().code, qint64(ERANGE));
    QCOMPARE(value.error().description, strerrorText(ERANGE));
    QCOMPARE(value.error().domain, QStringLiteral("NSPOSIXErrorDomain"));
    // A few attempts, then it gives up.
    QCOMPARE(script->sizeQueries, Item::kReadAttempts);
    QCOMPARE(script->reads, Item::kReadAttempts);
    QVERIFY(Item::kReadAttempts > 1);
    QVERIFY(Item::kReadAttempts <= 10);
}

void TestItemAttributes::valueVanishesBeforeRead()
{
    auto script = scriptWith({kUser});
    script->versions[kUser] = {"abc"};
    FakeCalls calls(script);
    struct Vanishing
    {
        FakeCalls inner;
        std::shared_ptr<Script> script;
        ssize_t list(char* b, size_t n) { return inner.list(b, n); }
        ssize_t get(const char* name, void* b, size_t n)
        {
            if (b)
                script->names.clear();
            return inner.get(name, b, n);
        }
    };
    ItemAttributes<Vanishing> item{Vanishing{calls, script}};
    const auto value = item.read(provenanceForms());
    QVERIFY(!value);
    QCOMPARE(value.error().code, qint64(ENODATA));
    // Not a size change: no second attempt.
    QCOMPARE(script->sizeQueries, 1);
}

void TestItemAttributes::sizeQueryFails()
{
    auto script = scriptWith({kUser});
    script->versions[kUser] = {"abc"};
    script->getError = EACCES;
    Item item{FakeCalls(script)};
    const auto present = item.hasValue(provenanceForms());
    QVERIFY(!present);
    QCOMPARE(present.error().code, qint64(EACCES));
    QCOMPARE(present.error().description, strerrorText(EACCES));
    const auto value = item.read(provenanceForms());
    QVERIFY(!value);
    QCOMPARE(value.error().code, qint64(EACCES));
    QCOMPARE(script->reads, 0);
}

void TestItemAttributes::listFails()
{
    auto script = scriptWith({kUser});
    script->versions[kUser] = {"abc"};
    script->listError = ELOOP;
    Item item{FakeCalls(script)};
    const auto present = item.hasValue(provenanceForms());
    QVERIFY(!present);
    QCOMPARE(present.error().code, qint64(ELOOP));
    QCOMPARE(present.error().description, strerrorText(ELOOP));
    QVERIFY(!item.read(quarantineForms()));
    QCOMPARE(script->getNames.size(), 0);
}

void TestItemAttributes::longNameList()
{
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i)
        names.push_back("user.filler." + std::string(40, char('a' + i % 26)) + std::to_string(i));
    names.push_back(kSamba);
    auto script = scriptWith(names);
    script->versions[kSamba] = {QByteArray("\x10\x20\0", 3)};
    Item item{FakeCalls(script)};
    QVERIFY(script->joinedNames().size() > 1024);
    const auto value = item.read(provenanceForms());
    QVERIFY(value);
    QCOMPARE(*value, QByteArray("\x10\x20"));
}

void TestItemAttributes::nameListKeepsGrowing()
{
    auto script = scriptWith({kUser});
    script->versions[kUser] = {"abc"};
    script->names.push_back("user.filler." + std::string(1100, 'f'));
    script->listGrowth = 64;
    Item item{FakeCalls(script)};
    const auto present = item.hasValue(provenanceForms());
    QVERIFY(!present);
    QCOMPARE(present.error().code, qint64(ERANGE));
    // Bounded: the first try, then a few size queries and retries.
    QVERIFY(script->listCalls > 2);
    QVERIFY(script->listCalls <= 2 * Item::kReadAttempts + 2);
}

void TestItemAttributes::sambaPresenceReadsTheValue()
{
    // The stored value is one byte longer than the real one, so the size query alone
    // cannot tell an empty value from a one-byte one.
    auto script = scriptWith({kSamba});
    script->versions[kSamba] = {QByteArray("\0", 1)};
    Item empty{FakeCalls(script)};
    const auto none = empty.hasValue(provenanceForms());
    QVERIFY(none);
    QCOMPARE(*none, false);

    auto other = scriptWith({kSamba});
    other->versions[kSamba] = {QByteArray("\x01\0", 2)};
    Item one{FakeCalls(other)};
    const auto some = one.hasValue(provenanceForms());
    QVERIFY(some);
    QCOMPARE(*some, true);
}

QTEST_GUILESS_MAIN(TestItemAttributes)
#include "tst_itemattributes.moc"
