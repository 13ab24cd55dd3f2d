#include "inventory/ApplicationInventory.h"

#include "core/AttributeEvaluation.h"
#include "core/CsvWriter.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/ProvenanceRegistry.h"

#include <QFile>

#include <mutex>

namespace {

// Evaluation sink: sets the flags and texts of one record and registers its ID.
struct ProverSink
{
    Prover& record;

    void onProvenancePresent() { record.hasProvenance = true; }
    void onProvenanceID(const QString& id)
    {
        record.provenanceID = id;
        provenanceApps().set(id, record.name);
    }
    void onQuarantinePresent() { record.hasQuarantine = true; }
    void onQuarantineApp(const QString& app) { record.quarantineApp = app; }
};

bool cancelled(const std::atomic_bool* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

QList<Prover> examine(const QStringList& paths, const std::atomic_bool* cancel)
{
    QList<Prover> list;
    for (const QString& path : paths) {
        if (cancelled(cancel))
            break;
        Prover record;
        record.name = path;
        ProverSink sink{record};
        ItemAttributes source(PathXattrCalls(QFile::encodeName(path)));
        evaluateAttributes(source, sink);
        if (record.hasProvenance || record.hasQuarantine)
            list.append(std::move(record));
    }
    return list;
}

} // namespace

QList<Prover> ApplicationInventory::load(const ApplicationDiscovery& discovery,
                                         const std::atomic_bool* cancel)
{
    ProvenanceRegistry& registry = provenanceApps();
    std::lock_guard lock(registry.loadMutex());
    registry.clear();
    ApplicationDiscovery cancellable = discovery;
    cancellable.setCancelFlag(cancel);
    return examine(cancellable.findApplicationPaths(), cancel);
}

QList<Prover> ApplicationInventory::load(const QStringList& paths, const std::atomic_bool* cancel)
{
    ProvenanceRegistry& registry = provenanceApps();
    std::lock_guard lock(registry.loadMutex());
    registry.clear();
    return examine(paths, cancel);
}

CsvWriter ApplicationInventory::csv(const QList<Prover>& list)
{
    CsvWriter writer(
        {QStringLiteral("Filepath"), QStringLiteral("Provenance ID"), QStringLiteral("Quarantine App")});
    for (const Prover& record : list)
        writer.addRow({record.name, record.provenanceID, record.quarantineApp});
    return writer;
}
