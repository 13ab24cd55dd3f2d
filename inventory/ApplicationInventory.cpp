#include "inventory/ApplicationInventory.h"

#include "core/CsvWriter.h"

ApplicationInventory::Loaded ApplicationInventory::load(const ApplicationDiscovery& discovery,
                                                        const std::atomic_bool* cancel)
{
    ApplicationDiscovery cancellable = discovery;
    cancellable.setCancelFlag(cancel);
    ApplicationDiscovery::Search search = cancellable.search();
    if (cancel && cancel->load()) {
        Loaded loaded;
        loaded.cancelled = true;
        return loaded;
    }
    auto makeCalls = pathCalls;
    Loaded loaded = examine(search.paths, makeCalls, cancel);
    loaded.failure = std::move(search.failure);
    loaded.unreadableLines = search.unreadableLines;
    loaded.examined = search.paths.size();
    return loaded;
}

CsvWriter ApplicationInventory::csv(const QList<Prover>& list)
{
    CsvWriter writer(
        {QStringLiteral("Filepath"), QStringLiteral("Provenance ID"), QStringLiteral("Quarantine App")});
    for (const Prover& record : list)
        writer.addRow({record.name, record.provenanceID, record.quarantineApp});
    return writer;
}
