#include "core/ProvenanceRegistry.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class TestProvenanceRegistry : public QObject
{
    Q_OBJECT

private slots:
    void emptyBeforeFirstLoad();
    void oneProcessWideRegistry();
    void setAndLookup();
    void lookupIsExact_data();
    void lookupIsExact();
    void lastWriterWins();
    void clearEmptiesEverything();
    void readersDuringRefillSeeWholeEntries();
    void loadsDoNotInterleave();
};

namespace {

constexpr int kEntries = 64;

QString idOf(int i)
{
    return QStringLiteral("0x%1").arg(i, 4, 16, QLatin1Char('0'));
}

// A long path made of one repeated generation letter: a torn copy would mix letters.
QString pathOf(int i, int generation)
{
    return QStringLiteral("/Applications/%1/").arg(i) + QString(300, QChar(u'a' + generation % 26));
}

bool isWhole(int i, const QString& path)
{
    const QString prefix = QStringLiteral("/Applications/%1/").arg(i);
    if (!path.startsWith(prefix) || path.size() != prefix.size() + 300)
        return false;
    const QChar letter = path.at(prefix.size());
    return std::all_of(path.cbegin() + prefix.size(), path.cend(), [letter](QChar c) { return c == letter; });
}

} // namespace

void TestProvenanceRegistry::emptyBeforeFirstLoad()
{
    // Runs first: nothing in this process has written the registry yet.
    QCOMPARE(provenanceApps().size(), 0);
    QVERIFY(!provenanceApps().lookup(QStringLiteral("0x00")).has_value());
    QVERIFY(!provenanceApps().lookup(QString()).has_value());
}

void TestProvenanceRegistry::oneProcessWideRegistry()
{
    ProvenanceRegistry* fromHere = &provenanceApps();
    ProvenanceRegistry* fromThread = nullptr;
    std::thread([&] { fromThread = &provenanceApps(); }).join();
    QCOMPARE(fromThread, fromHere);
    provenanceApps().set(QStringLiteral("0x01"), QStringLiteral("/a.app"));
    QCOMPARE(provenanceApps().lookup(QStringLiteral("0x01")).value_or(QString()), QStringLiteral("/a.app"));
    provenanceApps().clear();
}

void TestProvenanceRegistry::setAndLookup()
{
    ProvenanceRegistry registry;
    registry.set(QStringLiteral("0x0102"), QStringLiteral("/Applications/One.app"));
    registry.set(QStringLiteral("0x0304"), QStringLiteral("/Applications/Two.app"));
    QCOMPARE(registry.size(), 2);
    QCOMPARE(registry.lookup(QStringLiteral("0x0102")),
             std::optional(QStringLiteral("/Applications/One.app")));
    QCOMPARE(registry.lookup(QStringLiteral("0x0304")),
             std::optional(QStringLiteral("/Applications/Two.app")));
    QVERIFY(!registry.lookup(QStringLiteral("0x0506")).has_value());
    // A separate registry is not the process-wide one.
    QVERIFY(!provenanceApps().lookup(QStringLiteral("0x0102")).has_value());
}

void TestProvenanceRegistry::lookupIsExact_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("other case") << QStringLiteral("0xABCD");
    QTest::newRow("prefix") << QStringLiteral("0xabc");
    QTest::newRow("longer") << QStringLiteral("0xabcd00");
    QTest::newRow("without 0x") << QStringLiteral("abcd");
    QTest::newRow("trailing blank") << QStringLiteral("0xabcd ");
}

void TestProvenanceRegistry::lookupIsExact()
{
    QFETCH(QString, id);
    ProvenanceRegistry registry;
    registry.set(QStringLiteral("0xabcd"), QStringLiteral("/Applications/Exact.app"));
    QVERIFY(registry.lookup(QStringLiteral("0xabcd")).has_value());
    QVERIFY(!registry.lookup(id).has_value());
}

void TestProvenanceRegistry::lastWriterWins()
{
    ProvenanceRegistry registry;
    // The load visits paths in ascending order; the later application keeps the entry.
    registry.set(QStringLiteral("0x0a0b"), QStringLiteral("/Applications/A.app"));
    registry.set(QStringLiteral("0x0a0b"), QStringLiteral("/Applications/B.app"));
    QCOMPARE(registry.size(), 1);
    QCOMPARE(registry.lookup(QStringLiteral("0x0a0b")), std::optional(QStringLiteral("/Applications/B.app")));
    registry.set(QStringLiteral("0x0a0b"), QStringLiteral("/Applications/A.app"));
    QCOMPARE(registry.lookup(QStringLiteral("0x0a0b")), std::optional(QStringLiteral("/Applications/A.app")));
}

void TestProvenanceRegistry::clearEmptiesEverything()
{
    ProvenanceRegistry registry;
    for (int i = 0; i < kEntries; ++i)
        registry.set(idOf(i), pathOf(i, 0));
    QCOMPARE(registry.size(), kEntries);
    registry.clear();
    QCOMPARE(registry.size(), 0);
    for (int i = 0; i < kEntries; ++i)
        QVERIFY(!registry.lookup(idOf(i)).has_value());
    registry.set(idOf(1), pathOf(1, 2));
    QCOMPARE(registry.lookup(idOf(1)), std::optional(pathOf(1, 2)));
}

void TestProvenanceRegistry::readersDuringRefillSeeWholeEntries()
{
    ProvenanceRegistry& registry = provenanceApps();
    registry.clear();
    std::atomic_bool done{false};
    std::atomic<int> torn{0};
    std::atomic<long> found{0};
    std::atomic<long> missing{0};

    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r) {
        readers.emplace_back([&, r] {
            const auto pass = [&] {
                for (int i = 0; i < kEntries; ++i) {
                    const int key = (i + r * 17) % kEntries;
                    if (const auto path = registry.lookup(idOf(key))) {
                        ++found;
                        if (!isWhole(key, *path))
                            ++torn;
                    } else {
                        ++missing;
                    }
                }
                (void)registry.size();
            };
            while (!done.load())
                pass();
            pass();
        });
    }
    // Refill as a load does: empty, then one entry after the other.
    for (int generation = 0; generation < 300; ++generation) {
        std::lock_guard load(registry.loadMutex());
        registry.clear();
        for (int i = 0; i < kEntries; ++i)
            registry.set(idOf(i), pathOf(i, generation));
    }
    done = true;
    for (auto& reader : readers)
        reader.join();

    QCOMPARE(torn.load(), 0);
    QVERIFY(found.load() >= 4 * kEntries);
    QCOMPARE(registry.size(), kEntries);
    for (int i = 0; i < kEntries; ++i)
        QCOMPARE(registry.lookup(idOf(i)), std::optional(pathOf(i, 299)));
    qDebug("lookups during refills: %ld found, %ld missing", found.load(), missing.load());
    registry.clear();
}

void TestProvenanceRegistry::loadsDoNotInterleave()
{
    // Two loads holding the load lock each leave a registry made wholly by one of them.
    ProvenanceRegistry& registry = provenanceApps();
    for (int round = 0; round < 20; ++round) {
        const auto load = [&registry](int generation) {
            std::lock_guard lock(registry.loadMutex());
            registry.clear();
            for (int i = 0; i < kEntries; ++i) {
                registry.set(idOf(i), pathOf(i, generation));
                std::this_thread::yield();
            }
        };
        std::thread first(load, 1);
        std::thread second(load, 2);
        first.join();
        second.join();
        QCOMPARE(registry.size(), kEntries);
        const QString letter = registry.lookup(idOf(0)).value_or(QString()).right(1);
        QVERIFY(letter == QLatin1String("b") || letter == QLatin1String("c"));
        for (int i = 1; i < kEntries; ++i)
            QCOMPARE(registry.lookup(idOf(i)).value_or(QString()).right(1), letter);
    }
    registry.clear();
}

QTEST_GUILESS_MAIN(TestProvenanceRegistry)
#include "tst_provenanceregistry.moc"
