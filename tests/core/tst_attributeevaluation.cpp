#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/ItemAttributes.h"
#include "core/ProvenanceRegistry.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

// One provenance attribute whose value changes under the reader: each size query sees
// the first value and then drops it while another follows, so the read sees the next.
struct ChangingValue
{
    QByteArrayList* values;
    int* queries;

    ssize_t list(char* buffer, size_t size)
    {
        static const char names[] = "user.other\0user.com.apple.provenance";
        if (buffer && size >= sizeof names)
            std::memcpy(buffer, names, sizeof names);
        return sizeof names;
    }
    ssize_t get(const char*, void* buffer, size_t size)
    {
        const QByteArray value = values->first();
        if (!buffer) {
            ++*queries;
            if (values->size() > 1)
                values->removeFirst();
        } else if (size < size_t(value.size())) {
            errno = ERANGE;
            return -1;
        } else {
            std::memcpy(buffer, value.constData(), size_t(value.size()));
        }
        return value.size();
    }
};

// An evaluation source answering 'Y' (yes / the bytes), 'N' (empty) or 'F' (fails) for
// the provenance test and read, then the quarantine test and read; and a sink. Both
// note what they are asked and told in one journal.
struct Journal
{
    QString answers;
    QStringList entries;

    QChar step(const std::vector<HostAttributeName>& forms, int read)
    {
        const bool provenance = &forms == &provenanceForms();
        entries << QString::fromLatin1(read ? "read" : "test") + (provenance ? u'P' : u'Q');
        return answers.at((provenance ? 0 : 2) + read);
    }
    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms)
    {
        const QChar answer = step(forms, 0);
        return answer == u'F' ? PosixResult<bool>(posixError(ENODATA)) : PosixResult<bool>(answer == u'Y');
    }
    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms)
    {
        if (step(forms, 1) != u'Y')
            return posixError(EACCES);
        return &forms == &provenanceForms() ? QByteArray::fromHex("0a0b") : QByteArray("0083;1;Agent;2");
    }
    void onProvenancePresent() { entries << QStringLiteral("P"); }
    void onProvenanceID(const QString& id) { entries << id; }
    void onQuarantinePresent() { entries << QStringLiteral("Q"); }
    void onQuarantineApp(const QString& app) { entries << app; }
};

QString decorated(const DecoratedValues& values)
{
    return values.provenanceID + u'|' + values.quarantineApp + QLatin1String(values.keep ? "|keep" : "");
}

} // namespace

// Which host form of an attribute is read, a value that changes while it is read, the
// six-step order every model follows, and the registry its decorated values come from.
class TestAttributeEvaluation : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { provenanceApps().clear(); }

    void formPrecedence()
    {
        // The first form in a fixed order wins, whatever the order of the listing ("%" stands
        // for com.apple.provenance, blanks for the NULs between names).
        const auto winner = [](QByteArray listed) {
            listed.replace('%', "com.apple.provenance").replace(' ', '\0');
            const auto* form = HostAttributeName::firstListed(provenanceForms(), listed.toStdString());
            return form ? QByteArray::fromStdString(form->name).replace("com.apple.provenance", "%") +
                              (form->trailingNul ? "+NUL" : "")
                        : QByteArray("none");
        };
        QCOMPARE(winner("user.DosStream.%:$DATA % osx.% user.%"), QByteArray("user.%"));
        QCOMPARE(winner("user.DosStream.%:$DATA user.x % osx.%"), QByteArray("osx.%"));
        QCOMPARE(winner("user.DosStream.%:$DATA %"), QByteArray("%"));
        QCOMPARE(winner("user.DosStream.%:$DATA"), QByteArray("user.DosStream.%:$DATA+NUL"));
        QCOMPARE(winner("user.%2 x% user.DosStream.%"), QByteArray("none"));
    }

    void changingValue_data()
    {
        QTest::addColumn<QByteArrayList>("values");
        QTest::addColumn<QByteArray>("outcome");
        QTest::addColumn<int>("queries");
        QByteArrayList growing;
        for (int i = 1; i <= 50; ++i)
            growing << QByteArray(4 * i, 'x');
        QTest::newRow("shrinks") << QByteArrayList{"0123456789", "abcdef"} << QByteArray("abcdef") << 1;
        QTest::newRow("grows once") << QByteArrayList{"abc", "abcdefgh"} << QByteArray("abcdefgh") << 2;
        QTest::newRow("keeps growing")
            << growing << QByteArray("ERANGE") << ItemAttributes<ChangingValue>::kReadAttempts;
    }

    void changingValue()
    {
        QFETCH(QByteArrayList, values);
        QFETCH(QByteArray, outcome);
        QFETCH(int, queries);
        int sizeQueries = 0;
        const auto read = ItemAttributes{ChangingValue{&values, &sizeQueries}}.read(provenanceForms());
        QCOMPARE(read ? *read : QByteArray(strerrorname_np(int(read.error().code))), outcome);
        QCOMPARE(sizeQueries, queries);
    }

    void order_data()
    {
        // Answers (a fifth letter: the quarantine is not examined): journal => decorated values
        QTest::addColumn<QString>("script");
        QTest::newRow("both read")
            << "YYYY: testP P readP 0x0a0b testQ Q readQ Agent => ❓ 0x0a0b|🔸 Agent|keep";
        QTest::newRow("provenance empty") << "NYYY: testP testQ Q readQ Agent => |🔸 Agent|keep";
        QTest::newRow("provenance test fails") << "FYYY: testP testQ Q readQ Agent => |🔸 Agent|keep";
        QTest::newRow("provenance read fails") << "YFYY: testP P readP testQ Q readQ Agent => |🔸 Agent|keep";
        QTest::newRow("quarantine test fails") << "YYFY: testP P readP 0x0a0b testQ => ❓ 0x0a0b||keep";
        QTest::newRow("both unreadable") << "YFYF: testP P readP testQ Q readQ => ||keep";
        QTest::newRow("neither there") << "FFNY: testP testQ => |";
        QTest::newRow("quarantine not examined") << "YYYY-: testP P readP 0x0a0b => ❓ 0x0a0b||keep";
    }

    void order()
    {
        QFETCH(QString, script);
        const QString answers = script.section(u':', 0, 0);
        Journal recorder{answers, {}}, source{answers, {}};
        evaluateAttributes(recorder, recorder, answers.size() == 4);
        // Lookups are exact: neither a prefix nor another case of the ID matches.
        provenanceApps().set(QStringLiteral("0x0a0"), QStringLiteral("/Prefix.app"));
        provenanceApps().set(QStringLiteral("0x0A0B"), QStringLiteral("/Upper.app"));
        DecoratedValues values;
        evaluateAttributes(source, values, answers.size() == 4);
        const QString journal = recorder.entries.join(u' ');
        QCOMPARE(answers + QLatin1String(": ") + journal + QLatin1String(" => ") + decorated(values), script);
    }

    void registryReadersDuringRefill()
    {
        // Without the lock a lookup meets a table that a refill is freeing or growing, which
        // the sanitizer build reports. Bounded on both sides: glibc's shared mutex prefers
        // readers, and endless readers would hold a refill back for minutes.
        ProvenanceRegistry& registry = provenanceApps();
        const auto id = [](int i) { return QStringLiteral("0x%1").arg(i, 4, 16, QLatin1Char('0')); };
        const auto fill = [&](int load) {
            for (int i = 0; i < 64; ++i) {
                // Two applications with one ID: the later one keeps the entry.
                registry.set(id(i), QStringLiteral("/Earlier.app"));
                registry.set(id(i), QStringLiteral("/%1/%2.app").arg(i).arg(load));
            }
        };
        fill(0);
        std::atomic_int found{0};
        const auto reader = [&] {
            for (int pass = 0; pass < 500; ++pass) {
                for (int i = 0; i < 64; ++i)
                    found += registry.lookup(id(i)).has_value();
                std::this_thread::yield();
            }
        };
        std::thread first(reader), second(reader);
        for (int load = 1; load <= 200; ++load) {
            std::lock_guard lock(registry.loadMutex());
            registry.clear();
            fill(load);
        }
        first.join();
        second.join();
        QVERIFY(found.load() > 0);
        QCOMPARE(registry.size(), 64);
        for (int i = 0; i < 64; ++i) {
            DecoratedValues values;
            values.onProvenanceID(id(i));
            QCOMPARE(values.provenanceID, QStringLiteral("✅ /%1/200.app").arg(i));
        }
    }
};

QTEST_GUILESS_MAIN(TestAttributeEvaluation)
#include "tst_attributeevaluation.moc"
