#pragma once

#include <QString>

// An evaluation sink for the crawl and the drop window: empty texts by default,
// the provenance value marked "✅ " with the registered application's path or
// "❓ " with the ID, the quarantine value marked "🔸 ". Reads the registry only.
struct DecoratedValues
{
    QString provenanceID;
    QString quarantineApp;
    bool keep = false; // either attribute is present with a value

    void onProvenancePresent() { keep = true; }
    void onProvenanceID(const QString& id);
    void onQuarantinePresent() { keep = true; }
    void onQuarantineApp(const QString& app);
};
