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

class CsvWriter;

// The application load shared by the window and the command line: examines each
// discovered application in ascending path order, keeps those with either attribute,
// and puts the IDs it read into the process-wide registry in one step at the end, so
// the registry always holds exactly one whole load.
class ApplicationInventory
{
public:
    struct Loaded
    {
        QList<Prover> list;
        QString failure;               // why the application search may have missed some
        qsizetype unreadableLines = 0; // search results left out: not UTF-8
        qsizetype examined = 0;        // applications the search found, with attributes or not
        bool cancelled = false;        // stopped early; the registry was left as it was
    };

    // Runs discovery, then examines the paths. A set `cancel` flag stops it early.
    static Loaded load(const ApplicationDiscovery& discovery, const std::atomic_bool* cancel = nullptr);

    // Examines given paths (already in discovery order) through attribute calls that
    // `makeCalls(path)` binds to each path (tests give fakes).
    template<typename MakeCalls>
    static Loaded load(const QStringList& paths, MakeCalls makeCalls,
                       const std::atomic_bool* cancel = nullptr)
    {
        return examine(paths, makeCalls, cancel);
    }

    static Loaded load(const QStringList& paths, const std::atomic_bool* cancel = nullptr)
    {
        return load(paths, pathCalls, cancel);
    }

    // The list as CSV: header "Filepath,Provenance ID,Quarantine App", one line per record.
    static CsvWriter csv(const QList<Prover>& list);

private:
    // Sets one record's flags and texts, and notes its ID under its path.
    struct Sink
    {
        Prover& record;
        ProvenanceRegistry::Table& apps;

        void onProvenancePresent() { record.hasProvenance = true; }
        void onProvenanceID(const QString& id)
        {
            record.provenanceID = id;
            apps.insert(id, record.name);
        }
        void onQuarantinePresent() { record.hasQuarantine = true; }
        void onQuarantineApp(const QString& app) { record.quarantineApp = app; }
    };

    static PathXattrCalls pathCalls(const QString& path) { return PathXattrCalls(QFile::encodeName(path)); }

    template<typename MakeCalls>
    static Loaded examine(const QStringList& paths, MakeCalls& makeCalls, const std::atomic_bool* cancel)
    {
        Loaded loaded;
        ProvenanceRegistry::Table apps;
        for (const QString& path : paths) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                loaded.cancelled = true;
                return loaded;
            }
            Prover record;
            record.name = path;
            Sink sink{record, apps};
            ItemAttributes source(makeCalls(path));
            evaluateAttributes(source, sink);
            if (record.hasProvenance || record.hasQuarantine)
                loaded.list.append(std::move(record));
        }
        provenanceApps().replace(std::move(apps));
        return loaded;
    }
};
