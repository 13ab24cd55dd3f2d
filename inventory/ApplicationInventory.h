#pragma once

#include "core/ApplicationDiscovery.h"
#include "inventory/Prover.h"

#include <QList>
#include <QStringList>

#include <atomic>

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
    // The same for a given list of paths (already sorted by discovery).
    static QList<Prover> load(const QStringList& paths, const std::atomic_bool* cancel = nullptr);

    // The list as CSV: header "Filepath,Provenance ID,Quarantine App", one line per record.
    static CsvWriter csv(const QList<Prover>& list);
};
