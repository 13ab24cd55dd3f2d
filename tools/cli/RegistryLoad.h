#pragma once

// Fills provenanceApps() from the installed applications, as loading the application
// list in the main window does, so that a crawl shows registered IDs with their app.
void loadApplicationRegistry();
