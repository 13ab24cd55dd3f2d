#include "core/SidecarPreference.h"

#include <QSettings>

QString SidecarPreference::key()
{
    return QStringLiteral("readSidecars");
}

bool SidecarPreference::enabled()
{
    return QSettings().value(key(), true).toBool();
}

void SidecarPreference::setEnabled(bool enabled)
{
    QSettings().setValue(key(), enabled);
}
