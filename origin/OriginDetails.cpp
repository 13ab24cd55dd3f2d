#include "origin/OriginDetails.h"

#include "core/AttributeReader.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/PosixError.h"
#include "origin/OriginDatabases.h"
#include "origin/WhereFroms.h"

#ifdef __linux__
#include "origin/AnchoredXattrCalls.h"
#endif

#include <climits>

namespace {

const std::vector<HostAttributeName>& whereFromsForms()
{
    static const auto forms = HostAttributeName::formsOf(WhereFroms::kAttribute);
    return forms;
}

// One attribute's value; a missing attribute is simply absent, any other failure a note.
template<typename Calls>
QByteArray readValue(ItemAttributes<Calls>& item, const std::vector<HostAttributeName>& forms,
                     const char* attribute, QStringList& notes)
{
    auto value = item.read(forms);
    if (value)
        return *value;
    if (value.error().code != ENODATA)
        notes.append(QStringLiteral("%1 could not be read: %2")
                         .arg(QLatin1String(attribute), value.error().description));
    return {};
}

template<typename Calls> void readAttributes(Calls calls, OriginDetails& details)
{
    ItemAttributes<Calls> item(std::move(calls));
    details.provenance = readValue(item, provenanceForms(), kProvenanceAttribute, details.notes);
    const QByteArray quarantine = readValue(item, quarantineForms(), kQuarantineAttribute, details.notes);
    details.quarantine = QuarantineValue::decode(quarantine);
    const QByteArray whereFroms = readValue(item, whereFromsForms(), WhereFroms::kAttribute, details.notes);
    if (whereFroms.isEmpty())
        return;
    details.whereFroms = WhereFroms::parse(whereFroms);
    if (!details.whereFroms)
        details.notes.append(QStringLiteral("%1 is not a property list of texts (%2 bytes); ignored")
                                 .arg(QLatin1String(WhereFroms::kAttribute))
                                 .arg(whereFroms.size()));
}

void link(OriginDetails& details, const OriginDatabases& databases)
{
    if (details.quarantine && !details.quarantine->eventID.isEmpty() && databases.hasQuarantineEvents()) {
        details.quarantineEvent = databases.event(details.quarantine->eventID);
        if (!details.quarantineEvent)
            details.notes.append(QStringLiteral("No quarantine event %1 in the databases read")
                                     .arg(details.quarantine->eventID));
    }
    if (!details.provenance.isEmpty() && databases.hasProvenanceTable()) {
        details.provenanceRecord = databases.provenance(details.provenance);
        if (!details.provenanceRecord && !ProvenanceRecord::keysOf(details.provenance).isEmpty())
            details.notes.append(QStringLiteral("No provenance_tracking row for this provenance value"));
    }
}

} // namespace

OriginDetails OriginDetails::inspect(const QByteArray& rawPath, const OriginDatabases* databases)
{
    OriginDetails details;
    QByteArray path = rawPath;
    // A folder's listed path ends in "/"; the attributes are the folder's either way.
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
#ifdef __linux__
    if (path.size() >= PATH_MAX)
        readAttributes(AnchoredXattrCalls(path), details);
    else
#endif
        readAttributes(PathXattrCalls(path), details);
    if (databases)
        link(details, *databases);
    return details;
}

QByteArray OriginDetails::rawPathOf(const QString& encodedPath)
{
    return QByteArray::fromPercentEncoding(encodedPath.toUtf8());
}
