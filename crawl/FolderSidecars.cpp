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
    const std::vector<FolderListing::Entry>& entries = listing.entries();
    collect(entries.size(), [&](size_t i) { return std::string_view(listing.name(entries[i]), entries[i].length); });
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
