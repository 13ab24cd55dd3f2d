#include "core/ProvenanceRegistry.h"
#include "inventory/ApplicationInventory.h"
#include "inventory/Provener.h"
#include "tests/support/TestTree.h"

#include <QAbstractItemModelTester>
#include <QtTest>

#include <cerrno>

namespace {

// Attribute calls that list a provenance value but fail to read it.
struct UnreadableProvenanceCalls
{
    ssize_t list(char* buffer, size_t size)
    {
        static const char names[] = "user.com.apple.provenance";
        if (!buffer)
            return sizeof names;
        memcpy(buffer, names, std::min(size, sizeof names));
        return sizeof names;
    }
    ssize_t get(const char*, void* buffer, size_t)
    {
        if (!buffer)
            return 4;
        errno = EIO;
        return -1;
    }
};

} // namespace

class TestProvener : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void loadKeepsApplicationsWithEitherAttribute();
    void presentButUnreadableProvenance();
    void secondLoadWhileLoadingIsIgnored();
    void loadsFromTwoModelsNeverMixTheRegistry();
    void modelDestroyedDuringLoad();
    void failedSearchIsSignalled();
    void csv();

private:
    // A discovery tool that prints the given lines.
    ApplicationDiscovery fakeDiscovery(TestTree& tree, const QStringList& lines, const QString& name = {});
    void load(Provener& model);

    std::unique_ptr<TestTree> m_tree;
    QString m_toolApp, m_downloaded, m_both, m_neither, m_empty, m_twin;
};

ApplicationDiscovery TestProvener::fakeDiscovery(TestTree& tree, const QStringList& lines,
                                                 const QString& name)
{
    const QString list = tree.file(name.isEmpty() ? QStringLiteral("discovery.txt") : name,
                                   (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    return ApplicationDiscovery(QStringLiteral("/bin/cat"), {list});
}

void TestProvener::load(Provener& model)
{
    QSignalSpy finished(&model, &Provener::loadFinished);
    model.loadApps();
    QVERIFY(model.isLoading());
    QVERIFY(finished.wait(10000));
    QVERIFY(!model.isLoading());
}

void TestProvener::init()
{
    m_tree = std::make_unique<TestTree>();
    QVERIFY2(m_tree->isValid(), m_tree->problem());
    TestTree& t = *m_tree;
    m_toolApp = t.folder(QStringLiteral("Applications/Tool.app"));
    t.setProvenance(m_toolApp, QByteArray::fromHex("0102"));
    m_downloaded = t.folder(QStringLiteral("Applications/Down, loaded.app"));
    t.setQuarantine(m_downloaded, "0083;65a1b2c3;Navigateur Web \xc3\xa9;1F2E3D4C");
    m_both = t.folder(QStringLiteral("Applications/Both.app"));
    t.setProvenance(m_both, QByteArray::fromHex("a0b1c2d3e4f5060708090a"));
    t.setQuarantine(m_both, "0083;65a1b2c3;Browser;1F2E3D4C");
    m_neither = t.folder(QStringLiteral("Applications/Neither.app"));
    m_empty = t.folder(QStringLiteral("Applications/Empty.app"));
    t.setProvenance(m_empty, "");
    t.setQuarantine(m_empty, "");
    m_twin = t.folder(QStringLiteral("Applications/Twin.app"));
    t.setProvenance(m_twin, QByteArray::fromHex("0102"));
    provenanceApps().clear();
}

void TestProvener::loadKeepsApplicationsWithEitherAttribute()
{
    Provener model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QString vanished = m_tree->path(QStringLiteral("Applications/Gone.app"));
    model.setDiscovery(
        fakeDiscovery(*m_tree, {m_twin, m_neither, vanished, m_toolApp, m_empty, m_downloaded, m_both}));
    load(model);

    // Ascending path order; each record with whether it has each attribute, whatever its value shows.
    QStringList records;
    for (const Prover& app : model.proverList())
        records << app.exportText() +
                       QStringLiteral(" %1%2").arg(int(app.hasProvenance)).arg(int(app.hasQuarantine));
    QCOMPARE(records, (QStringList{m_both + QStringLiteral(" | 0xa0b1c2d3e4f5060708090a | Browser 11"),
                                   m_downloaded + QStringLiteral(" | no ID | Navigateur Web é 01"),
                                   m_toolApp + QStringLiteral(" | 0x0102 | no app 10"),
                                   m_twin + QStringLiteral(" | 0x0102 | no app 10")}));

    // Tool.app and Twin.app carry the same value; Twin.app comes later in path order.
    QCOMPARE(provenanceApps().size(), 2);
    QCOMPARE(provenanceApps().lookup(QStringLiteral("0x0102")), std::optional(m_twin));

    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.index(1).data(ExportTextRole).toString(),
             m_downloaded + QStringLiteral(" | no ID | Navigateur Web é"));
    QCOMPARE(model.index(0).data(IdRole).toUuid(), model.proverList().at(0).id);

    // Loading again replaces the list in one reset: the same records under new identities.
    const QList<Prover> first = model.proverList();
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    load(model);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.proverList().size(), first.size());
    for (qsizetype i = 0; i < first.size(); ++i) {
        QCOMPARE(model.proverList().at(i).exportText(), first.at(i).exportText());
        QVERIFY(model.proverList().at(i).id != first.at(i).id);
    }
}

void TestProvener::presentButUnreadableProvenance()
{
    provenanceApps().set(QStringLiteral("0xstale"), QStringLiteral("/Applications/Old.app"));
    const QList<Prover> list =
        ApplicationInventory::load({QStringLiteral("/Applications/Locked.app")}, [](const QString&) {
            return UnreadableProvenanceCalls{};
        }).list;
    QCOMPARE(list.size(), 1);
    QVERIFY(list.at(0).hasProvenance);
    QCOMPARE(list.at(0).provenanceID, QStringLiteral("no ID"));
    QVERIFY(!list.at(0).hasQuarantine);
    // The load replaced the registry with what it read: nothing.
    QCOMPARE(provenanceApps().size(), 0);
}

void TestProvener::secondLoadWhileLoadingIsIgnored()
{
    // A tool slow enough that the second press lands while the first load runs.
    const QString script = m_tree->file(QStringLiteral("slow.sh"), "sleep 0.3; echo \"$1\"\n");
    Provener model;
    model.setDiscovery(ApplicationDiscovery(QStringLiteral("/bin/sh"), {script, m_toolApp}));
    QSignalSpy loading(&model, &Provener::loadingChanged);
    QSignalSpy finished(&model, &Provener::loadFinished);
    model.loadApps();
    model.loadApps();
    QVERIFY(finished.wait(10000));
    QCOMPARE(loading.count(), 2); // on, then off: one load only
    QCOMPARE(model.proverList().size(), 1);
    QVERIFY(!finished.wait(500));
    QCOMPARE(finished.count(), 1);
}

void TestProvener::loadsFromTwoModelsNeverMixTheRegistry()
{
    // Window A sees Tool.app, window B sees Both.app; whichever load runs last owns the
    // whole registry, never a mixture of the two.
    for (int round = 0; round < 5; ++round) {
        Provener a, b;
        a.setDiscovery(fakeDiscovery(*m_tree, {m_toolApp}, QStringLiteral("a.txt")));
        b.setDiscovery(fakeDiscovery(*m_tree, {m_both}, QStringLiteral("b.txt")));
        QSignalSpy doneA(&a, &Provener::loadFinished), doneB(&b, &Provener::loadFinished);
        a.loadApps();
        b.loadApps();
        QTRY_VERIFY_WITH_TIMEOUT(doneA.count() == 1 && doneB.count() == 1, 10000);
        QCOMPARE(provenanceApps().size(), 1);
        const bool aLast = provenanceApps().lookup(QStringLiteral("0x0102")).has_value();
        const bool bLast = provenanceApps().lookup(QStringLiteral("0xa0b1c2d3e4f5060708090a")).has_value();
        QVERIFY(aLast != bLast);
    }
}

void TestProvener::modelDestroyedDuringLoad()
{
    // An earlier whole load, then a window closed while its own load runs.
    ApplicationInventory::load(QStringList{m_toolApp});
    const QString script = m_tree->file(QStringLiteral("slow.sh"), "echo \"$1\"; sleep 5\n");
    auto model = std::make_unique<Provener>();
    model->setDiscovery(ApplicationDiscovery(QStringLiteral("/bin/sh"), {script, m_both}));
    model->loadApps();
    model.reset();
    // The cancelled load kills its tool at once instead of waiting five seconds.
    QElapsedTimer timer;
    timer.start();
    QThreadPool::globalInstance()->waitForDone();
    QVERIFY(timer.elapsed() < 4000);
    QCoreApplication::processEvents();
    // The registry still holds the earlier load, whole.
    QCOMPARE(provenanceApps().size(), 1);
    QCOMPARE(provenanceApps().lookup(QStringLiteral("0x0102")), std::optional(m_toolApp));
}

void TestProvener::failedSearchIsSignalled()
{
    // What the window's status line then says is checked with the window.
    const QString script = m_tree->file(QStringLiteral("failing.sh"), "echo \"$1\"; exit 5\n");
    Provener model;
    QSignalSpy problem(&model, &Provener::searchProblemChanged);
    model.setDiscovery(ApplicationDiscovery(QStringLiteral("/bin/sh"), {script, m_toolApp}));
    load(model);
    QCOMPARE(problem.count(), 1);
}

void TestProvener::csv()
{
    Provener model;
    const QString destination = m_tree->path(QStringLiteral("apps.csv"));
    QCOMPARE(model.writeCSV(destination).status, CsvWriteResult::NothingToWrite);
    QVERIFY(!QFile::exists(destination));

    model.setDiscovery(fakeDiscovery(*m_tree, {m_toolApp, m_downloaded, m_both}));
    load(model);
    QCOMPARE(model.writeCSV(destination).status, CsvWriteResult::Written);
    QFile file(destination);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray expected = "Filepath,Provenance ID,Quarantine App\n" + m_both.toUtf8() +
                                ",0xa0b1c2d3e4f5060708090a,Browser\n\"" + m_downloaded.toUtf8() +
                                "\",no ID,Navigateur Web \xc3\xa9\n" + m_toolApp.toUtf8() +
                                ",0x0102,no app\n";
    QCOMPARE(file.readAll(), expected);

    // The writer's own failures (full disk, locked folder) are covered with it; here the model must
    // pass the failure and its reason on instead of reporting success.
    const CsvWriteResult result = model.writeCSV(m_tree->path(QStringLiteral("missing/apps.csv")));
    QCOMPARE(result.status, CsvWriteResult::Failed);
    QVERIFY(!result.reason.isEmpty());
}

QTEST_GUILESS_MAIN(TestProvener)
#include "tst_provener.moc"
