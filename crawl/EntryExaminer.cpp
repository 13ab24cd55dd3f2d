#include "crawl/EntryExaminer.h"

#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/ItemAttributes.h"
#include "core/SidecarAttributes.h"
#include "core/SidecarReader.h"
#include "crawl/FolderSidecars.h"

#include <cerrno>
#include <dirent.h>

namespace {

// ItemAttributes over names already listed: an attribute with no listed form is answered
// "no such attribute" at once, without the calls and the error text of the general path.
// Notes whether any call failed for another reason than a missing attribute.
class ListedAttributes
{
public:
    ListedAttributes(EntryXattrCalls calls, bool listed)
        : m_names(listed ? calls.names() : std::string_view()), m_listed(listed), m_item(calls)
    {}

    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms)
    {
        if (notListed(forms))
            return noSuchAttribute();
        return noted(m_item.hasValue(forms));
    }

    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms)
    {
        if (notListed(forms))
            return noSuchAttribute();
        return noted(m_item.read(forms));
    }

    bool failed() const { return m_failed != 0; }
    int error() const { return m_failed; }

private:
    template<typename T> PosixResult<T> noted(PosixResult<T> result)
    {
        if (!result && EntryExaminer::isReadFailure(int(result.error().code)))
            m_failed = int(result.error().code);
        return result;
    }

    bool notListed(const std::vector<HostAttributeName>& forms) const
    {
        return m_listed && !HostAttributeName::firstListed(forms, m_names);
    }

    static const PosixError& noSuchAttribute()
    {
        static const PosixError error = posixError(ENODATA);
        return error;
    }

    std::string_view m_names;
    bool m_listed;
    int m_failed = 0; // the errno of the last call that failed to read
    ItemAttributes<EntryXattrCalls> m_item;
};

const std::vector<HostAttributeName>& whereFromsForms()
{
    static const auto forms = HostAttributeName::formsOf("com.apple.metadata:kMDItemWhereFroms");
    return forms;
}

} // namespace

template<typename Source> void EntryExaminer::keepWithUrl(Source& source, DecoratedValues& values) const
{
    if (values.keep || !m_whereFroms)
        return;
    const auto present = source.hasValue(whereFromsForms());
    values.keep = present && *present;
}

bool EntryExaminer::isReadFailure(int error)
{
    switch (error) {
    case ENODATA: // no such attribute
    case ENOTSUP: // a file system without extended attributes has none to read
#if EOPNOTSUPP != ENOTSUP
    case EOPNOTSUPP:
#endif
    case ENOENT: // vanished since the folder was listed
    case ENOTDIR:
    case ERANGE: // never final: the reader asks again with a larger buffer
        return false;
    default:
        return true;
    }
}

EntryExaminer::Outcome EntryExaminer::examine(int folderFd, const char* name, std::uint32_t length,
                                              unsigned char type, const QByteArray& encodedFolder,
                                              const FolderSidecars* sidecars)
{
    Outcome outcome;
    const std::string_view entryName(name, length);
    // A Mac's AppleDouble file describes another; it is read for that one, not listed. One
    // whose file is gone is listed itself, with its values: nothing else shows them.
    std::optional<AppleDouble> orphan;
    if (sidecars && type == DT_REG && FolderSidecars::isSidecarName(entryName)) {
        orphan = SidecarReader::readAt(folderFd, name);
        // In an archive's __MACOSX folder every sidecar stands apart from its file.
        if (orphan && (!sidecars->orphaned(entryName) || encodedFolder.contains("/__MACOSX/")))
            return outcome;
    }
    const bool beside = sidecars && sidecars->besideListed(entryName);
    // A file system without attributes is where sidecars come from: never settled by its listing.
    const bool lendable = orphan || beside || (sidecars && sidecars->hasArchiveFolders());

    EntryXattrCalls calls(folderFd, name, m_scratch);
    // Most entries carry neither attribute: one list call settles them.
    const bool listed = calls.fetchNames() >= 0;
    if (listed && !lendable) {
        const std::string_view names = calls.names();
        if (names.empty())
            return outcome;
        if (!HostAttributeName::firstListed(provenanceForms(), names)) {
            const bool quarantine = HostAttributeName::firstListed(quarantineForms(), names);
            const bool url = m_whereFroms && HostAttributeName::firstListed(whereFromsForms(), names);
            outcome.quarantineOnly = quarantine && !m_showQuarantine && !url;
            if (!(quarantine && m_showQuarantine) && !url)
                return outcome;
        }
    } else if (!listed && errno != ERANGE && !lendable) {
        outcome.unreadable = isReadFailure(errno);
        outcome.error = errno;
        return outcome;
    }
    DecoratedValues values;
    // The sidecar is looked for once, when first needed: by the evaluation or by the reads.
    std::optional<AppleDouble> sidecar;
    bool sought = false;
    int sidecarError = 0;
    bool fromArchive = false;
    const auto seek = [&] {
        if (!sought) {
            sought = true;
            sidecar = orphan ? orphan
                             : SidecarReader::findAt(folderFd, name, sidecars->archiveFolders(), beside,
                                                     &sidecarError, &fromArchive);
        }
        return sidecar;
    };
    if (lendable) {
        SidecarAttributes source(ListedAttributes(calls, listed), seek);
        evaluateAttributes(source, values, m_showQuarantine);
        keepWithUrl(source, values);
        // A sidecar that is there but cannot be read leaves values out, as an unreadable entry does.
        outcome.error = sidecarError != 0 ? sidecarError : source.own().error();
    } else {
        ListedAttributes attributes(calls, listed);
        evaluateAttributes(attributes, values, m_showQuarantine);
        keepWithUrl(attributes, values);
        outcome.error = attributes.error();
    }
    outcome.unreadable = outcome.error != 0;
    if (!values.keep)
        return outcome;
    outcome.record = Crawled::fromWalk(encodedFolder, QByteArrayView(name, qsizetype(length)), type == DT_DIR, values);
    if (m_keepReads) {
        // What was read stays with the record, so its details need not read it again.
        outcome.reads = std::make_unique<EntryReads>();
        EntryReads& reads = *outcome.reads;
        reads.attributes = XattrSnapshot::of(calls);
        reads.status = FileStatus::at(folderFd, name);
        if (lendable) {
            seek();
            reads.sidecar = std::move(sidecar);
            reads.sidecarError = sidecarError;
            reads.sidecarFromArchive = fromArchive;
            reads.orphan = orphan.has_value();
        }
    }
    return outcome;
}
