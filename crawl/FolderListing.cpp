#include "crawl/FolderListing.h"

#include "core/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool FolderListing::read(int fd, std::vector<char>& buffer)
{
    m_names.clear();
    m_entries.clear();
#ifdef __linux__
    if (buffer.size() < 64 * 1024)
        buffer.resize(64 * 1024);
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        for (ssize_t offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            add(entry->d_name, entry->d_type);
        }
    }
#else
    (void)buffer;
    DIR* dir = UniqueFd(::dup(fd)).openDirectory();
    if (!dir)
        return false;
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        add(entry->d_name, entry->d_type);
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return ok;
#endif
}

void FolderListing::add(const char* name, unsigned char type)
{
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
        return;
    const size_t length = std::strlen(name);
    m_entries.push_back({std::uint32_t(m_names.size()), std::uint32_t(length), type});
    m_names.insert(m_names.end(), name, name + length + 1);
}

unsigned char FolderListing::typeOf(int directoryFd, const char* name)
{
    struct stat st;
    if (::fstatat(directoryFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return kUnreadable;
    if (S_ISLNK(st.st_mode))
        return DT_LNK;
    if (S_ISDIR(st.st_mode))
        return DT_DIR;
    return DT_REG;
}
