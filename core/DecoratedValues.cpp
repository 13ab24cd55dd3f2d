#include "core/DecoratedValues.h"

#include "core/ProvenanceRegistry.h"

void DecoratedValues::onProvenanceID(const QString& id)
{
    if (const auto app = provenanceApps().lookup(id))
        provenanceID = QStringLiteral("✅ ") + *app;
    else
        provenanceID = QStringLiteral("❓ ") + id;
}

void DecoratedValues::onQuarantineApp(const QString& app)
{
    quarantineApp = QStringLiteral("🔸 ") + app;
}
