#include "origin/OriginDetails.h"

#include "core/AttributeReader.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/PosixError.h"
#include "core/SidecarReader.h"
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

// One attribute's value; a missing attribute (or a file system that holds none) is simply
// absent, any other failure a note.
template<typename Calls>
QByteArray readValue(ItemAttributes<Calls>& item, const std::vector<HostAttributeName>& forms,
                     const char* attribute, QStringList& notes)
{
    auto value = item.read(forms);
    if (value)
        return *value;
    if (value.error().code != ENODATA && value.error().code != ENOTSUP)
        notes.append(QStringLiteral("%1 could not be read: %2")
                         .arg(QLatin1String(attribute), value.error().description));
    return {};
}

struct RawValues
{
    QByteArray provenance;
    QByteArray quarantine;
    QByteArray whereFroms;
};

template<typename Calls> RawValues readAttributes(Calls calls, QStringList& notes)
{
    ItemAttributes<Calls> item(std::move(calls));
    return {readValue(item, provenanceForms(), kProvenanceAttribute, notes),
            readValue(item, quarantineForms(), kQuarantineAttribute, notes),
            readValue(item, whereFromsForms(), WhereFroms::kAttribute, notes)};
}

// What the file lacks, from its AppleDouble file, as the lists take it.
void lendFromSidecar(const QByteArray& path, RawValues& values, QStringList& lent)
{
    if (!values.provenance.isEmpty() && !values.quarantine.isEmpty() && !values.whereFroms.isEmpty())
        return;
    const std::optional<AppleDouble> sidecar = SidecarReader::findFor(path);
    if (!sidecar)
        return;
    for (auto [value, attribute] : {std::pair{&values.provenance, kProvenanceAttribute},
                                    std::pair{&values.quarantine, kQuarantineAttribute},
                                    std::pair{&values.whereFroms, WhereFroms::kAttribute}}) {
        if (!value->isEmpty())
            continue;
        if (const auto lentValue = sidecar->value(attribute); lentValue && !lentValue->isEmpty()) {
            *value = lentValue->toByteArray();
            lent.append(QLatin1String(attribute));
        }
    }
}

void decode(const RawValues& values, OriginDetails& details)
{
    details.provenance = values.provenance;
    details.quarantine = QuarantineValue::decode(values.quarantine);
    if (values.whereFroms.isEmpty())
        return;
    details.whereFroms = WhereFroms::parse(values.whereFroms);
    if (!details.whereFroms)
        details.notes.append(QStringLiteral("%1 is not a property list of texts (%2 bytes); ignored")
                                 .arg(QLatin1String(WhereFroms::kAttribute))
                                 .arg(values.whereFroms.size()));
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

OriginDetails OriginDetails::inspect(const QByteArray& rawPath, const OriginDatabases* databases,
                                     bool sidecars)
{
    OriginDetails details;
    QByteArray path = rawPath;
    // A folder's listed path ends in "/"; the attributes are the folder's either way.
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    RawValues values;
#ifdef __linux__
    if (path.size() >= PATH_MAX)
        values = readAttributes(AnchoredXattrCalls(path), details.notes);
    else
#endif
        values = readAttributes(PathXattrCalls(path), details.notes);
    if (sidecars)
        lendFromSidecar(path, values, details.fromSidecar);
    decode(values, details);
    if (databases)
        link(details, *databases);
    return details;
}

QByteArray OriginDetails::rawPathOf(const QString& encodedPath)
{
    return QByteArray::fromPercentEncoding(encodedPath.toUtf8());
}
