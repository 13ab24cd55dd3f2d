#include "inventory/Prover.h"

QString Prover::exportText() const
{
    return name + QLatin1String(" | ") + provenanceID + QLatin1String(" | ") + quarantineApp;
}
