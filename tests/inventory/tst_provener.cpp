#include "core/ProvenanceRegistry.h"
#include "inventory/ApplicationInventory.h"
#include "inventory/Provener.h"
#include "tests/support/TestTree.h"
#include "tests/support/ToolRun.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestProvener : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestTree> m_tree;
    QString m_toolApp, m_downloaded, m_both, m_neither, m_empty, m_twin;

    // A discovery tool: sh running `script` with `app` as its argument.
    ApplicationDiscovery tool(const QByteArray& script, const QString& app)
    {
        return ApplicationDiscovery(u"/bin/sh"_s, {m_tree->file(u"tool.sh"_s, script), app});
    }

    // A discovery tool that prints the given lines.
    ApplicationDiscovery printing(const QStringList& lines, const QString& name = u"discovery.txt"_s)
    {
        return ApplicationDiscovery(u"/bin/cat"_s,
                                    {m_tree->file(name, (lines.join(u'\n') + u'\n').toUtf8())});
    }

    static void load(Provener& model)
    {
        QSignalSpy finished(&model, &Provener::loadFinished);
        model.loadApps();
        QVERIFY(model.isLoading());
        QVERIFY(finished.wait(10000));
        QVERIFY(!model.isLoading());
    }

private slots:
    void init()
    {
        m_tree = std::make_unique<TestTree>();
        QVERIFY2(m_tree->isValid(), m_tree->problem());
        TestTree& t = *m_tree;
        m_toolApp = t.folder(u"Applications/Tool.app"_s);
        t.setProvenance(m_toolApp, QByteArray::fromHex("0102"));
        m_downloaded = t.folder(u"Applications/Down, loaded.app"_s);
        t.setQuarantine(m_downloaded, "0083;65a1b2c3;Navigateur Web \xc3\xa9;1F2E3D4C");
        m_both = t.folder(u"Applications/Both.app"_s);
        t.setProvenance(m_both, QByteArray::fromHex("a0b1c2d3e4f5060708090a"));
        t.setQuarantine(m_both, "0083;65a1b2c3;Browser;1F2E3D4C");
        m_neither = t.folder(u"Applications/Neither.app"_s);
        m_empty = t.folder(u"Applications/Empty.app"_s);
        t.setProvenance(m_empty, "");
        t.setQuarantine(m_empty, "");
        m_twin = t.folder(u"Applications/Twin.app"_s);
        t.setProvenance(m_twin, QByteArray::fromHex("0102"));
        provenanceApps().clear();
    }

    void loadKeepsApplicationsWithEitherAttribute()
    {
        Provener model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QString destination = m_tree->path(u"apps.csv"_s);
        QCOMPARE(model.writeCSV(destination).status, CsvWriteResult::NothingToWrite);
        QVERIFY(!QFile::exists(destination));
        const QString vanished = m_tree->path(u"Applications/Gone.app"_s);
        model.setDiscovery(printing({m_twin, m_neither, vanished, m_toolApp, m_empty, m_downloaded, m_both}));
        load(model);

        QCOMPARE(model.index(0).data(IdRole).toUuid(), model.proverList().at(0).id);
        QCOMPARE(model.index(0).data(ExportTextRole).toString(),
                 m_both + u" | 0xa0b1c2d3e4f5060708090a | Browser"_s);
        // Tool.app and Twin.app carry the same value; Twin.app comes later in path order.
        QCOMPARE(provenanceApps().size(), 2);
        QCOMPARE(provenanceApps().lookup(u"0x0102"_s), std::optional(m_twin));

        // Ascending path order, with either attribute (the window's rows show which).
        QCOMPARE(model.writeCSV(destination).status, CsvWriteResult::Written);
        QCOMPARE(QString::fromUtf8(ToolRun::contents(QFile::encodeName(destination))),
                 u"Filepath,Provenance ID,Quarantine App\n%1,0xa0b1c2d3e4f5060708090a,Browser\n"
                 u"\"%2\",no ID,Navigateur Web é\n%3,0x0102,no app\n%4,0x0102,no app\n"_s.arg(
                     m_both, m_downloaded, m_toolApp, m_twin));
        // The model passes a failure and its reason on (the writer's own failures are covered with it).
        const CsvWriteResult failed = model.writeCSV(m_tree->path(u"missing/apps.csv"_s));
        QVERIFY(failed.status == CsvWriteResult::Failed && !failed.reason.isEmpty());

        // Loading again replaces the list in one reset: the same records under new identities.
        const QList<Prover> first = model.proverList();
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        load(model);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.proverList().size(), first.size());
        for (qsizetype i = 0; i < first.size(); ++i)
            QVERIFY(model.proverList().at(i).exportText() == first.at(i).exportText() &&
                    model.proverList().at(i).id != first.at(i).id);
    }

    void secondLoadWhileLoadingIsIgnored()
    {
        // A tool slow enough that the second press lands while the first load runs; it then fails.
        Provener model;
        model.setDiscovery(tool("sleep 0.3; echo \"$1\"; exit 5\n", m_toolApp));
        QSignalSpy loading(&model, &Provener::loadingChanged);
        QSignalSpy problem(&model, &Provener::searchProblemChanged);
        QSignalSpy finished(&model, &Provener::loadFinished);
        model.loadApps();
        model.loadApps();
        QVERIFY(finished.wait(10000));
        QVERIFY(!finished.wait(500));
        // Loading on, then off; one problem, one record, one end.
        QCOMPARE(
            QList<qsizetype>({loading.count(), problem.count(), model.proverList().size(), finished.count()}),
            QList<qsizetype>({2, 1, 1, 1}));
    }

    void loadsFromTwoModelsNeverMixTheRegistry()
    {
        // Window A sees Tool.app, window B sees Both.app; whichever load runs last owns the
        // whole registry, never a mixture of the two.
        for (int round = 0; round < 5; ++round) {
            Provener a, b;
            a.setDiscovery(printing({m_toolApp}, u"a.txt"_s));
            b.setDiscovery(printing({m_both}, u"b.txt"_s));
            QSignalSpy doneA(&a, &Provener::loadFinished), doneB(&b, &Provener::loadFinished);
            a.loadApps();
            b.loadApps();
            QTRY_VERIFY_WITH_TIMEOUT(doneA.count() == 1 && doneB.count() == 1, 10000);
            QCOMPARE(provenanceApps().size(), 1);
            QVERIFY(provenanceApps().lookup(u"0x0102"_s).has_value() !=
                    provenanceApps().lookup(u"0xa0b1c2d3e4f5060708090a"_s).has_value());
        }
    }

    void modelDestroyedDuringLoad()
    {
        // An earlier whole load, then a window closed while its own load runs.
        ApplicationInventory::load(QStringList{m_toolApp});
        auto model = std::make_unique<Provener>();
        model->setDiscovery(tool("echo \"$1\"; sleep 5\n", m_both));
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
        QCOMPARE(provenanceApps().lookup(u"0x0102"_s), std::optional(m_toolApp));
    }
};

QTEST_GUILESS_MAIN(TestProvener)
#include "tst_provener.moc"
