#pragma once

#include <QByteArray>
#include <QString>

struct OriginDetails;

// One line of `--format jsonl`: a JSON object with the record's four fields as shown
// ("name", "path", "provenanceID", "quarantineApp") and, where present, "quarantine",
// "whereFroms", "quarantineEvent" and "provenanceRecord" (each row with the database it
// came from), "orphanSidecar" and "problems". Keys keep this order; other tools read these names.
class OriginJson
{
public:
    static QByteArray line(const QString& name, const QString& path, const QString& provenanceID,
                           const QString& quarantineApp, const OriginDetails& details);
};
