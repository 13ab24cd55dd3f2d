#include "tools/cli/ApplicationRegistryLoad.h"

#include "core/AttributeEvaluation.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/ProvenanceRegistry.h"

#include <QFile>

#include <mutex>

namespace {

// Registers the application under its provenance value; the quarantine value is not needed.
struct RegistryEntry
{
    QString path;
    int* registered;

    void onProvenancePresent() {}
    void onProvenanceID(const QString& id)
    {
        provenanceApps().set(id, path);
        ++*registered;
    }
    void onQuarantinePresent() {}
    void onQuarantineApp(const QString&) {}
};

} // namespace

int loadApplicationRegistry(const ApplicationDiscovery& discovery)
{
    int registered = 0;
    std::lock_guard load(provenanceApps().loadMutex());
    provenanceApps().clear();
    for (const QString& path : discovery.findApplicationPaths()) {
        ItemAttributes attributes(PathXattrCalls{QFile::encodeName(path)});
        RegistryEntry entry{path, &registered};
        evaluateAttributes(attributes, entry, false);
    }
    return registered;
}
