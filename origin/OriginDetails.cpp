#include "origin/OriginDetails.h"

#include "core/AttributeReader.h"
#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"
#include "core/PosixError.h"
#include "core/SidecarReader.h"
#include "origin/OriginDatabases.h"
#include "origin/WhereFroms.h"
#include "origin/XattrSnapshot.h"

#ifdef __linux__
#include "origin/AnchoredXattrCalls.h"
#endif

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
QByteArray readValue(ItemAttributes<Calls>& item, const std::vector<HostAttributeName>& forms,
                     const char* attribute, OriginDetails& details)
{
    QStringList& problems = details.problems;
    auto value = item.read(forms);
    if (value) {
        if (!value->isEmpty())
            details.sources.insert(QLatin1String(attribute), QString::fromStdString(item.formName(forms)));
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

RawValues valuesOf(const XattrSnapshot& snapshot, OriginDetails& details)
{
    details.attributes = AttributeList::of(snapshot);
    ItemAttributes<XattrSnapshot> item(snapshot);
    return {readValue(item, provenanceForms(), kProvenanceAttribute, details),
            readValue(item, quarantineForms(), kQuarantineAttribute, details),
            readValue(item, whereFromsForms(), WhereFroms::kAttribute, details)};
}

template<typename Calls> RawValues readAttributes(Calls calls, OriginDetails& details)
{
    // One pass of system calls for the list of every attribute and the values decoded.
    return valuesOf(XattrSnapshot::of(calls), details);
}

// Takes what `values` lack from `sidecar`, naming each attribute in `lent` and its source.
void lend(const AppleDouble& sidecar, const QString& source, RawValues& values, OriginDetails& details)
{
    QStringList& lent = details.fromSidecar;
    for (auto [value, attribute] : {std::pair{&values.provenance, kProvenanceAttribute},
                                    std::pair{&values.quarantine, kQuarantineAttribute},
                                    std::pair{&values.whereFroms, WhereFroms::kAttribute}}) {
        if (!value->isEmpty())
            continue;
        if (const auto lentValue = sidecar.value(attribute); lentValue && !lentValue->isEmpty()) {
            *value = lentValue->toByteArray();
            lent.append(QLatin1String(attribute));
            details.sources.insert(QLatin1String(attribute), source);
        }
    }
}

// What the file lacks, from its AppleDouble file, as the lists take it.
void lendFromSidecar(const QByteArray& path, RawValues& values, OriginDetails& details)
{
    if (!values.provenance.isEmpty() && !values.quarantine.isEmpty() && !values.whereFroms.isEmpty())
        return;
    int unreadable = 0;
    bool fromArchive = false;
    const std::optional<AppleDouble> sidecar = SidecarReader::findFor(path, &unreadable, &fromArchive);
    if (unreadable != 0)
        details.problems.append(QStringLiteral("its AppleDouble file could not be read: %1")
                                    .arg(posixError(unreadable).description));
    if (sidecar) {
        lend(*sidecar, fromArchive ? QStringLiteral("__MACOSX") : QStringLiteral("._name"), values, details);
        details.attributes += AttributeList::of(*sidecar);
    }
}

// An AppleDouble file "._name" whose "name" is gone stands for that file: a crawl lists it
// with the values it holds.
bool lendAsOrphan(const QByteArray& path, RawValues& values, OriginDetails& details)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray name = path.mid(slash + 1);
    if (!name.startsWith("._") || name.size() <= 2)
        return false;
    const QByteArray companion = path.left(slash + 1) + name.mid(2);
    if (struct stat st; path.size() < PATH_MAX && ::lstat(companion.constData(), &st) == 0)
        return false;
    const std::optional<AppleDouble> sidecar = SidecarReader::readAt(AT_FDCWD, path.constData());
    if (!sidecar)
        return false;
    lend(*sidecar, QStringLiteral("._name"), values, details);
    details.attributes += AttributeList::of(*sidecar);
    details.orphanSidecar = true;
    return true;
}

} // namespace

OriginDetails OriginDetails::ofSnapshot(const XattrSnapshot& snapshot)
{
    OriginDetails details;
    const RawValues values = valuesOf(snapshot, details);
    details.decodeValues(values.provenance, values.quarantine, values.whereFroms);
    return details;
}

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
    OriginDetails details;
    QByteArray path = rawPath;
    // A folder's listed path ends in "/"; the attributes are the folder's either way.
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    RawValues values;
#ifdef __linux__
    if (path.size() >= PATH_MAX)
        values = readAttributes(AnchoredXattrCalls(path), details);
    else
#endif
        values = readAttributes(PathXattrCalls(path), details);
    details.status = FileStatus::of(path);
    if (sidecars && !lendAsOrphan(path, values, details))
        lendFromSidecar(path, values, details);
    details.decodeValues(values.provenance, values.quarantine, values.whereFroms);
    if (databases) {
        std::optional<uid_t> uid;
        if (struct stat st; path.size() < PATH_MAX && ::stat(path.constData(), &st) == 0)
            uid = st.st_uid;
        details.linkTo(*databases, path, uid);
    }
    return details;
}

QByteArray OriginDetails::rawPathOf(const QString& encodedPath)
{
    return QByteArray::fromPercentEncoding(encodedPath.toUtf8());
}
