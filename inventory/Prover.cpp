#include "inventory/Prover.h"

#include "core/ControlPictures.h"

QString Prover::exportText() const
{
    return withControlPictures(name + QLatin1String(" | ") + provenanceID + QLatin1String(" | ") +
                               quarantineApp);
}
