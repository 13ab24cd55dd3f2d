#include "core/HostAttributeName.h"

#include <algorithm>

std::vector<HostAttributeName> HostAttributeName::formsOf(std::string_view attribute)
{
    const std::string name(attribute);
#ifdef __APPLE__
    return {{name, false, name}};
#else
    // rsync -X and netatalk; the kernel's hfsplus and APFS drivers; apfs-fuse;
    // Samba's streams_xattr for a Mac SMB client, with and without the stream type.
    return {{"user." + name, false, name, true},
            {"osx." + name, false, name},
            {name, false, name},
            {"user.DosStream." + name + ":$DATA", true, name},
            {"user.DosStream." + name, true, name}};
#endif
}

const HostAttributeName* HostAttributeName::firstListed(const std::vector<HostAttributeName>& forms,
                                                        std::string_view nameList)
{
    const HostAttributeName* best = nullptr;
    auto rank = forms.size();
    size_t start = 0;
    while (start < nameList.size()) {
        size_t end = nameList.find('\0', start);
        if (end == std::string_view::npos)
            end = nameList.size();
        const std::string_view listed = nameList.substr(start, end - start);
        for (size_t i = 0; i < rank; ++i) {
            if (forms[i].name == listed) {
                best = &forms[i];
                rank = i;
                break;
            }
        }
        if (rank == 0)
            break;
        start = end + 1;
    }
    return best;
}
