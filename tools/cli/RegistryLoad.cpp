#include "tools/cli/RegistryLoad.h"

#include "core/ApplicationDiscovery.h"
#include "core/AttributeEvaluation.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/ProvenanceRegistry.h"

#include <QFile>

#include <mutex>

namespace {

// Only the provenance ID matters to the registry.
struct ProvenanceOnly
{
    QString id;
    void onProvenancePresent() {}
    void onProvenanceID(const QString& value) { id = value; }
    void onQuarantinePresent() {}
    void onQuarantineApp(const QString&) {}
};

} // namespace

void loadApplicationRegistry()
{
    ProvenanceRegistry& registry = provenanceApps();
    std::lock_guard lock(registry.loadMutex());
    registry.clear();
    for (const QString& path : findApplicationPaths()) {
        ItemAttributes attributes(PathXattrCalls(QFile::encodeName(path)));
        ProvenanceOnly values;
        evaluateAttributes(attributes, values, false);
        if (!values.id.isEmpty())
            registry.set(values.id, path);
    }
}
