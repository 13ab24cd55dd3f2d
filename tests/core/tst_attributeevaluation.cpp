#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/ItemAttributes.h"
#include "core/ProvenanceRegistry.h"
#include "core/SidecarAttributes.h"
#include "tests/support/AppleDoubleFile.h"

#include <QtTest>

#include <algorithm>
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

    ssize_t list(char* buffer, size_t) // the reader's first buffer holds this listing
    {
        static const char names[] = "user.other\0user.com.apple.provenance";
        std::memcpy(buffer, names, sizeof names);
        return sizeof names;
    }
    ssize_t get(const char*, void* buffer, size_t size)
    {
        const QByteArray value = values->first();
        if (buffer && size < size_t(value.size()))
            return errno = ERANGE, -1;
        if (buffer)
            std::memcpy(buffer, value.constData(), size_t(value.size()));
        else if (values->size() > 1)
            values->removeFirst();
        return value.size();
    }
};

// Every host form of the provenance from the `from`th on, listed in or against the order of
// preference, as no real file system can hold them (ext4 refuses "osx." and bare names).
// Each form's value is its number; the stream forms carry Samba's trailing NUL. The reader
// asks with a buffer large enough for either.
struct AllForms
{
    size_t from;
    bool preferredFirst;

    ssize_t list(char* buffer, size_t size)
    {
        std::string names;
        const auto& forms = provenanceForms();
        for (size_t i = from; i < forms.size(); ++i)
            names.insert(preferredFirst ? names.size() : 0, forms[i].name + '\0');
        std::memcpy(buffer, names.data(), std::min(size, names.size()));
        return ssize_t(names.size());
    }
    ssize_t get(const char* name, void* buffer, size_t size)
    {
        const auto& forms = provenanceForms();
        for (size_t i = from; i < forms.size(); ++i) {
            if (forms[i].name != name)
                continue;
            const QByteArray value =
                QByteArray::number(qulonglong(i + 1)) + (i >= 3 ? QByteArray(1, '\0') : "");
            if (buffer)
                std::memcpy(buffer, value.constData(), std::min(size, size_t(value.size())));
            return value.size();
        }
        return errno = ENODATA, -1;
    }
};

// An evaluation source answering 'Y' (yes / the bytes), 'N' (empty) or 'F' (fails) for
// the provenance test and read, then the quarantine test and read, noting each question.
struct Journal
{
    QString answers;
    QStringList* entries;

    QChar step(const std::vector<HostAttributeName>& forms, int read)
    {
        const bool provenance = &forms == &provenanceForms();
        *entries << QString::fromLatin1(read ? "read" : "test") + (provenance ? u'P' : u'Q');
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
};

} // namespace

// Which host form of an attribute is read, a value that changes while it is read, the
// six-step order every model follows, with and without a sidecar lent, and the registry its
// decorated values come from.
class TestAttributeEvaluation : public QObject
{
    Q_OBJECT

private slots:
    void formOrder()
    {
        const QByteArrayList names{"user.com.apple.provenance", "osx.com.apple.provenance",
                                   "com.apple.provenance", "user.DosStream.com.apple.provenance:$DATA",
                                   "user.DosStream.com.apple.provenance"};
        QByteArrayList forms;
        for (const HostAttributeName& form : provenanceForms())
            forms << QByteArray::fromStdString(form.name);
        QCOMPARE(forms, names);
        // The most preferred form there is read, whatever the order of the listing.
        for (const bool preferredFirst : {true, false}) {
            for (size_t from = 0; from < provenanceForms().size(); ++from) {
                ItemAttributes attributes{AllForms{from, preferredFirst}};
                QCOMPARE(attributes.hasValue(provenanceForms()).value(), true);
                QCOMPARE(attributes.read(provenanceForms()).value(),
                         QByteArray::number(qulonglong(from + 1)));
            }
        }
    }

    void changingValue_data()
    {
        QTest::addColumn<QByteArrayList>("values");
        QTest::addColumn<QByteArray>("outcome");
        // One more value than the reader's attempts: a further attempt would read the last.
        QByteArrayList growing;
        for (int i = 0; i <= ItemAttributes<ChangingValue>::kReadAttempts; ++i)
            growing << QByteArray(4 * (i + 1), 'x');
        QTest::newRow("shrinks") << QByteArrayList{"0123456789", "abcdef"} << QByteArray("abcdef");
        QTest::newRow("grows once") << QByteArrayList{"abc", "abcdefgh"} << QByteArray("abcdefgh");
        QTest::newRow("keeps growing") << growing << QByteArray("ERANGE");
    }

    void changingValue()
    {
        QFETCH(QByteArrayList, values);
        QFETCH(QByteArray, outcome);
        const auto read = ItemAttributes{ChangingValue{&values}}.read(provenanceForms());
        QCOMPARE(read ? *read : QByteArray(strerrorname_np(int(read.error().code))), outcome);
    }

    void order_data()
    {
        // The item's answers (a fifth letter: the quarantine is not examined) and the sidecar lent
        // ("." none lent, "-" lent but not there; "p" a provenance, "P" an empty one, "q" a quarantine):
        // the item's questions => the decorated values and how often the sidecar was loaded.
        QTest::addColumn<QString>("script");
        QTest::newRow("both read") << "YYYY .: testP readP testQ readQ => ❓ 0x0a0b|🔸 Agent|keep|0";
        QTest::newRow("provenance empty") << "NYYY .: testP testQ readQ => |🔸 Agent|keep|0";
        QTest::newRow("quarantine test fails") << "YYFY .: testP readP testQ => ❓ 0x0a0b||keep|0";
        QTest::newRow("both unreadable") << "YFYF .: testP readP testQ readQ => ||keep|0";
        QTest::newRow("neither there") << "FFNY .: testP testQ => |||0";
        QTest::newRow("quarantine not examined") << "YYYY- .: testP readP => ❓ 0x0a0b||keep|0";
        QTest::newRow("lent, own values win")
            << "YYYY pq: testP readP testQ readQ => ❓ 0x0a0b|🔸 Agent|keep|0";
        QTest::newRow("lent, one of each") << "YYFF pq: testP readP testQ => ❓ 0x0a0b|🔸 Side|keep|1";
        QTest::newRow("lent, own empty") << "NYFF pq: testP testQ => ❓ 0xfeed|🔸 Side|keep|1";
        QTest::newRow("lent, own value unreadable stays own")
            << "YFFF pq: testP readP testQ => |🔸 Side|keep|1";
        QTest::newRow("lent, sidecar value empty or absent") << "FFFF P: testP testQ => |||1";
        QTest::newRow("lent, no sidecar") << "FFFF -: testP testQ => |||1";
    }

    void order()
    {
        QFETCH(QString, script);
        const QString answers = script.section(u' ', 0, 0),
                      sidecar = script.section(u':', 0, 0).section(u' ', 1);
        QStringList entries;
        // Lookups are exact: neither a prefix nor another case of the ID matches.
        provenanceApps().set(QStringLiteral("0x0a0"), QStringLiteral("/Prefix.app"));
        provenanceApps().set(QStringLiteral("0x0A0B"), QStringLiteral("/Upper.app"));
        AppleDoubleFile file;
        if (sidecar.contains(u'p', Qt::CaseInsensitive))
            file.add("com.apple.provenance", sidecar.contains(u'p') ? "\xfe\xed" : "");
        if (sidecar.contains(u'q'))
            file.add("com.apple.quarantine", "0083;1;Side;2");
        int loads = 0;
        const auto load = [&]() -> std::optional<AppleDouble> {
            ++loads;
            if (sidecar == u'-')
                return std::nullopt;
            return AppleDouble::parse(file.bytes(), quint64(file.bytes().size()));
        };
        DecoratedValues values;
        evaluateLent(Journal{answers, &entries}, sidecar != u'.', load, values, answers.size() == 4);
        QCOMPARE(answers + u' ' + sidecar + QLatin1String(": ") + entries.join(u' ') + QLatin1String(" => ") +
                     values.provenanceID + u'|' + values.quarantineApp + u'|' +
                     QLatin1String(values.keep ? "keep" : "") + u'|' + QString::number(loads),
                 script);
    }

    void registryReadersDuringRefill()
    {
        // Without the lock a lookup meets a table that a refill is freeing or replacing, which
        // the sanitizer build reports; and a reader sees one whole load or the next, never a mix.
        ProvenanceRegistry& registry = provenanceApps();
        const auto id = [](int i) { return QStringLiteral("0x%1").arg(i); };
        const auto load = [&](int number) {
            ProvenanceRegistry::Table apps;
            for (int i = 0; i < 64; ++i)
                apps.insert(id(i), QStringLiteral("/%1.app").arg(number));
            registry.replace(std::move(apps));
        };
        load(0);
        std::atomic_bool mixed{false};
        const auto reader = [&] {
            for (int pass = 0; pass < 500; ++pass, std::this_thread::yield()) {
                const auto first = registry.lookup(id(0)), last = registry.lookup(id(63));
                // Read in this order, the last entry can only come from the same load or a later one.
                if (!first || !last || last->mid(1).toInt() < first->mid(1).toInt())
                    mixed = true;
            }
        };
        std::thread first(reader), second(reader);
        for (int number = 1; number <= 200; ++number)
            load(number);
        first.join();
        second.join();
        QVERIFY(!mixed);
        QCOMPARE(registry.size(), 64);
        QCOMPARE(registry.lookup(id(63)), QStringLiteral("/200.app"));
    }
};

QTEST_GUILESS_MAIN(TestAttributeEvaluation)
#include "tst_attributeevaluation.moc"
