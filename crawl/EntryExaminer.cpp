#include "crawl/EntryExaminer.h"

#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/ItemAttributes.h"

#include <cerrno>

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

    bool failed() const { return m_failed; }

private:
    template<typename T> PosixResult<T> noted(PosixResult<T> result)
    {
        if (!result && EntryExaminer::isReadFailure(int(result.error().code)))
            m_failed = true;
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
    bool m_failed = false;
    ItemAttributes<EntryXattrCalls> m_item;
};

} // namespace

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
                                              bool isFolder, const QByteArray& encodedFolder)
{
    Outcome outcome;
    EntryXattrCalls calls(folderFd, name, m_scratch);
    // Most entries carry neither attribute: one list call settles them.
    const bool listed = calls.fetchNames() >= 0;
    if (listed) {
        const std::string_view names = calls.names();
        if (names.empty())
            return outcome;
        if (!HostAttributeName::firstListed(provenanceForms(), names) &&
            !(m_showQuarantine && HostAttributeName::firstListed(quarantineForms(), names)))
            return outcome;
    } else if (errno != ERANGE) {
        outcome.unreadable = isReadFailure(errno);
        return outcome;
    }
    ListedAttributes attributes(calls, listed);
    DecoratedValues values;
    evaluateAttributes(attributes, values, m_showQuarantine);
    outcome.unreadable = attributes.failed();
    if (values.keep)
        outcome.record =
            Crawled::fromWalk(encodedFolder, QByteArrayView(name, qsizetype(length)), isFolder, values);
    return outcome;
}
