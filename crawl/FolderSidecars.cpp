#include "crawl/FolderSidecars.h"

#include "crawl/FolderListing.h"

#include <unistd.h>

FolderSidecars::~FolderSidecars()
{
    for (int fd : m_archiveFolders)
        ::close(fd);
}

bool FolderSidecars::isSidecarName(std::string_view name)
{
    return name.size() > 2 && name[0] == '.' && name[1] == '_';
}

void FolderSidecars::collect(const FolderListing& listing)
{
    for (const FolderListing::Entry& entry : listing.entries()) {
        const std::string_view name(listing.name(entry), entry.length);
        if (isSidecarName(name))
            m_companions.insert(name.substr(2));
    }
    if (m_companions.empty())
        return;
    for (const FolderListing::Entry& entry : listing.entries()) {
        const std::string_view name(listing.name(entry), entry.length);
        if (m_companions.count(name) > 0)
            m_present.insert(name);
    }
}

bool FolderSidecars::orphaned(std::string_view sidecarName) const
{
    return isSidecarName(sidecarName) && m_present.count(sidecarName.substr(2)) == 0;
}

void FolderSidecars::addArchiveFolder(int fd)
{
    m_archiveFolders.push_back(fd);
}

bool FolderSidecars::besideListed(std::string_view name) const
{
    return !m_companions.empty() && m_companions.count(name) > 0;
}
