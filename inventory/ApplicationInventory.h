#pragma once

#include "core/ApplicationDiscovery.h"
#include "core/AttributeEvaluation.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/ProvenanceRegistry.h"
#include "inventory/Prover.h"

#include <QFile>
#include <QList>
#include <QStringList>

#include <atomic>
#include <mutex>

class CsvWriter;

// The application load shared by the window and the command line: examines each
// discovered application in ascending path order, keeps those with either attribute,
// and refills the process-wide registry. Loads are serialized process-wide, so the
// registry always holds exactly one whole load.
class ApplicationInventory
{
public:
    // Runs discovery, then examines the paths. A set `cancel` flag stops it early;
    // the registry then holds what was examined so far.
    static QList<Prover> load(const ApplicationDiscovery& discovery,
                              const std::atomic_bool* cancel = nullptr);

    // Examines given paths (already in discovery order) through attribute calls that
    // `makeCalls(path)` binds to each path (tests give fakes).
    template<typename MakeCalls>
    static QList<Prover> load(const QStringList& paths, MakeCalls makeCalls,
                              const std::atomic_bool* cancel = nullptr)
    {
        ProvenanceRegistry& registry = provenanceApps();
        std::lock_guard lock(registry.loadMutex());
        registry.clear();
        return examine(paths, makeCalls, cancel);
    }

    static QList<Prover> load(const QStringList& paths, const std::atomic_bool* cancel = nullptr)
    {
        return load(paths, pathCalls, cancel);
    }

    // The list as CSV: header "Filepath,Provenance ID,Quarantine App", one line per record.
    static CsvWriter csv(const QList<Prover>& list);

private:
    // Sets one record's flags and texts, and registers its ID under its path.
    struct Sink
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

    static PathXattrCalls pathCalls(const QString& path) { return PathXattrCalls(QFile::encodeName(path)); }

    template<typename MakeCalls>
    static QList<Prover> examine(const QStringList& paths, MakeCalls& makeCalls,
                                 const std::atomic_bool* cancel)
    {
        QList<Prover> list;
        for (const QString& path : paths) {
            if (cancel && cancel->load(std::memory_order_relaxed))
                break;
            Prover record;
            record.name = path;
            Sink sink{record};
            ItemAttributes source(makeCalls(path));
            evaluateAttributes(source, sink);
            if (record.hasProvenance || record.hasQuarantine)
                list.append(std::move(record));
        }
        return list;
    }
};
