#include "inventory/ApplicationInventory.h"

#include "core/CsvWriter.h"

QList<Prover> ApplicationInventory::load(const ApplicationDiscovery& discovery,
                                         const std::atomic_bool* cancel)
{
    ProvenanceRegistry& registry = provenanceApps();
    std::lock_guard lock(registry.loadMutex());
    // Emptied before discovery runs, as every load starts from nothing.
    registry.clear();
    ApplicationDiscovery cancellable = discovery;
    cancellable.setCancelFlag(cancel);
    auto makeCalls = pathCalls;
    return examine(cancellable.findApplicationPaths(), makeCalls, cancel);
}

CsvWriter ApplicationInventory::csv(const QList<Prover>& list)
{
    CsvWriter writer(
        {QStringLiteral("Filepath"), QStringLiteral("Provenance ID"), QStringLiteral("Quarantine App")});
    for (const Prover& record : list)
        writer.addRow({record.name, record.provenanceID, record.quarantineApp});
    return writer;
}
