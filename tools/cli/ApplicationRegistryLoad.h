#pragma once

#include "core/ApplicationDiscovery.h"

// Fills provenanceApps() from the installed applications, as loading the main window's
// application list does; returns how many applications carry a provenance value.
int loadApplicationRegistry(const ApplicationDiscovery& discovery = ApplicationDiscovery());
