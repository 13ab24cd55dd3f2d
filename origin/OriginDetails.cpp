#include "origin/OriginDetails.h"

#include "core/AttributeReader.h"
#include "core/ItemAttributes.h"
#include "core/PathEncoding.h"
#include "core/PosixError.h"
#include "origin/OriginDatabases.h"
#include "origin/WhereFroms.h"
#include "origin/XattrSnapshot.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const std::vector<HostAttributeName>& whereFromsForms()
{
    static const auto forms = HostAttributeName::formsOf(WhereFroms::kAttribute);
    return forms;
}

// One attribute's value; a missing attribute (or a file system that holds none) is simply
// absent, any other failure a problem.
template<typename Calls>
QByteArray readValue(ItemAttributes<Calls>& item, const std::vector<HostAttributeName>& forms, size_t sourced,
                     OriginDetails& details)
{
    QStringList& problems = details.problems;
    const char* const attribute = OriginDetails::kSourced[sourced];
    const HostAttributeName* form = nullptr;
    auto value = item.read(forms, &form);
    if (value) {
        // The forms live as long as the program: their names need no copy.
        if (!value->isEmpty())
            details.sources[sourced] =
                QByteArray::fromRawData(form->name.data(), qsizetype(form->name.size()));
        return *value;
    }
    if (value.error().code != ENODATA && value.error().code != ENOTSUP)
        problems.append(QStringLiteral("%1 could not be read: %2")
                            .arg(QLatin1String(attribute), value.error().description));
    return {};
}

struct RawValues
{
    QByteArray provenance;
    QByteArray quarantine;
    QByteArray whereFroms;
};

RawValues readAttributes(const XattrSnapshot& snapshot, OriginDetails& details)
{
    details.attributes = AttributeList::of(snapshot);
    ItemAttributes<const XattrSnapshot&> item(snapshot);
    return {readValue(item, provenanceForms(), 0, details), readValue(item, quarantineForms(), 1, details),
            readValue(item, whereFromsForms(), 2, details)};
}

// Takes what `values` lack from `sidecar`, naming each attribute in `lent` and its source.
void lend(const AppleDouble& sidecar, const QByteArray& source, RawValues& values, OriginDetails& details)
{
    QStringList& lent = details.fromSidecar;
    QByteArray* const taken[] = {&values.provenance, &values.quarantine, &values.whereFroms};
    for (size_t i = 0; i < std::size(taken); ++i) {
        const char* const attribute = OriginDetails::kSourced[i];
        if (!taken[i]->isEmpty())
            continue;
        if (const auto lentValue = sidecar.value(attribute); lentValue && !lentValue->isEmpty()) {
            *taken[i] = lentValue->toByteArray();
            lent.append(QLatin1String(attribute));
            details.sources[i] = source;
        }
    }
}

// What the file lacks, from its AppleDouble file, as the lists take it. An AppleDouble file
// whose own file is gone stands for that file: a crawl lists it with the values it holds.
void lendFromSidecar(const EntryReads& reads, RawValues& values, OriginDetails& details)
{
    if (reads.orphan) {
        lend(*reads.sidecar, QByteArrayLiteral("._name"), values, details);
        details.attributes += AttributeList::of(*reads.sidecar);
        details.orphanSidecar = true;
        return;
    }
    if (!values.provenance.isEmpty() && !values.quarantine.isEmpty() && !values.whereFroms.isEmpty())
        return;
    if (reads.sidecarError != 0)
        details.problems.append(QStringLiteral("its AppleDouble file could not be read: %1")
                                    .arg(posixError(reads.sidecarError).description));
    if (reads.sidecar) {
        lend(*reads.sidecar,
             reads.sidecarFromArchive ? QByteArrayLiteral("__MACOSX") : QByteArrayLiteral("._name"), values,
             details);
        details.attributes += AttributeList::of(*reads.sidecar);
    }
}

} // namespace

void OriginDetails::decodeValues(const QByteArray& provenanceValue, const QByteArray& quarantineValue,
                                 const QByteArray& whereFromsValue)
{
    provenance = provenanceValue;
    quarantine = QuarantineValue::decode(quarantineValue);
    if (whereFromsValue.isEmpty())
        return;
    QString problem;
    whereFroms = WhereFroms::parse(whereFromsValue, &problem);
    if (!whereFroms)
        problems.append(QStringLiteral("%1 is not a property list of texts (%2 bytes: %3); ignored")
                            .arg(QLatin1String(WhereFroms::kAttribute))
                            .arg(whereFromsValue.size())
                            .arg(problem));
}

void OriginDetails::linkTo(const OriginDatabases& databases, const QByteArray& path, std::optional<uid_t> uid)
{
    if (quarantine && !quarantine->eventID.isEmpty() && databases.hasQuarantineEvents()) {
        quarantineEvent = databases.event(quarantine->eventID, OriginDatabases::Owner{path, uid});
        if (!quarantineEvent)
            notes.append(
                QStringLiteral("No quarantine event %1 in the databases read").arg(quarantine->eventID));
    }
    if (!provenance.isEmpty() && databases.hasProvenanceTable()) {
        provenanceRecord = databases.provenance(provenance);
        if (!provenanceRecord && !ProvenanceRecord::keysOf(provenance).isEmpty())
            notes.append(QStringLiteral("No provenance_tracking row for this provenance value"));
    }
}

OriginDetails OriginDetails::inspect(const QByteArray& rawPath, const OriginDatabases* databases,
                                     bool sidecars)
{
    // A folder's listed path ends in "/"; the attributes are the folder's either way.
    const QByteArray path = withoutTrailingSlashes(rawPath);
    return fromReads(EntryReads::of(path, sidecars), path, databases);
}

OriginDetails OriginDetails::fromReads(const EntryReads& reads, const QByteArray& rawPath,
                                       const OriginDatabases* databases)
{
    OriginDetails details;
    RawValues values = readAttributes(reads.attributes, details);
    details.status = reads.status;
    lendFromSidecar(reads, values, details);
    details.decodeValues(values.provenance, values.quarantine, values.whereFroms);
    if (databases)
        details.link(*databases, rawPath);
    return details;
}

void OriginDetails::link(const OriginDatabases& databases, const QByteArray& rawPath)
{
    // The owner of what a link leads to, as the attributes are that file's.
    std::optional<uid_t> uid;
    if (status && !S_ISLNK(status->mode))
        uid = status->uid;
    else if (struct stat st; rawPath.size() < PATH_MAX && ::stat(rawPath.constData(), &st) == 0)
        uid = st.st_uid;
    linkTo(databases, rawPath, uid);
}

QByteArray OriginDetails::rawPathOf(const QString& encodedPath)
{
    return QByteArray::fromPercentEncoding(encodedPath.toUtf8());
}
