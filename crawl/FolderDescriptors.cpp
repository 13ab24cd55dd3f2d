#include "crawl/FolderDescriptors.h"

#include "core/EvidenceAccess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Out of descriptors with none to give back: other threads will release theirs soon.
constexpr int kOpenAttempts = 2000;
constexpr auto kOpenPause = std::chrono::milliseconds(1);

int descriptorsAvailable()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    const rlim_t soft = limit.rlim_cur == RLIM_INFINITY ? rlim_t(1) << 20 : limit.rlim_cur;
    int inUse = 0;
#ifdef __linux__
    if (DIR* fds = ::opendir("/proc/self/fd")) {
        while (::readdir(fds))
            ++inUse;
        ::closedir(fds);
        inUse = std::max(0, inUse - 2); // "." and ".."
    }
#endif
    return int(std::min<rlim_t>(soft, 1 << 20)) - inUse;
}

} // namespace

FolderDescriptors::Folder::Folder(FolderDescriptors* owner, FolderRef parent, std::string name, int depth)
    : owner(owner), parent(std::move(parent)), name(std::move(name)), depth(depth)
{}

FolderDescriptors::Folder::~Folder()
{
    // A walk that stopped early leaves subfolders unopened.
    if (fd >= 0)
        owner->forget(*this);
}

FolderDescriptors::FolderDescriptors(int budget) : m_budget(std::max(budget, 1)) {}

int FolderDescriptors::defaultBudget()
{
    return std::clamp(descriptorsAvailable() / 2, 4, 4096);
}

int FolderDescriptors::affordableThreads()
{
    return std::max(1, (descriptorsAvailable() / 2 - 8) / 3);
}

int FolderDescriptors::openRoot(const std::string& path)
{
    return openRetrying(AT_FDCWD, path.c_str(), false);
}

int FolderDescriptors::openRetrying(int directoryFd, const char* name, bool noFollow)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0);
    for (int attempt = 0;; ++attempt) {
        // Listing a folder would change its access time; only its owner may ask it not to.
        const int fd = EvidenceAccess::openat(directoryFd, name, flags);
        if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || attempt == kOpenAttempts)
            return fd;
        const int error = errno;
        if (!evictOne())
            std::this_thread::sleep_for(kOpenPause);
        errno = error;
    }
}

int FolderDescriptors::openBelow(int parentFd, const std::string& name)
{
    return openRetrying(parentFd, name.c_str(), true);
}

FolderDescriptors::FolderRef FolderDescriptors::adopt(const FolderRef& parent, const std::string& name,
                                                      int fd)
{
    auto folder = std::make_shared<Folder>(this, parent, name, parent ? parent->depth + 1 : 0);
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        folder->device = st.st_dev;
        folder->inode = st.st_ino;
    }
    std::lock_guard lock(m_mutex);
    folder->users = 1;
    keep(*folder, fd);
    trim();
    return folder;
}

void FolderDescriptors::suspend(Folder& folder)
{
    std::lock_guard lock(m_mutex);
    --folder.users;
    folder.suspended = true;
    trim();
}

void FolderDescriptors::finish(Folder& folder)
{
    std::lock_guard lock(m_mutex);
    --folder.users;
    folder.suspended = false;
    settle(folder);
}

int FolderDescriptors::resume(Folder& folder)
{
    {
        std::lock_guard lock(m_mutex);
        folder.suspended = false;
        if (folder.fd >= 0) {
            ++folder.users;
            return folder.fd;
        }
    }
    const int fd = reopen(folder);
    if (fd < 0)
        return -1;
    std::lock_guard lock(m_mutex);
    ++folder.users;
    keep(folder, fd);
    trim();
    return fd;
}

int FolderDescriptors::reopen(Folder& folder)
{
    std::vector<Folder*> chain; // from the folder up to the first ancestor with a descriptor
    Folder* base = nullptr;
    {
        std::lock_guard lock(m_mutex);
        for (Folder* step = &folder; step; step = step->parent.get()) {
            if (step->fd >= 0) {
                base = step;
                ++step->users;
                break;
            }
            chain.push_back(step);
        }
    }
    if (!base) { // the walked folder keeps its descriptor to the end: cannot happen
        errno = EBADF;
        return -1;
    }
    int current = base->fd;
    for (auto step = chain.rbegin(); step != chain.rend(); ++step) {
        const int next = openRetrying(current, (*step)->name.c_str(), true);
        const int error = errno;
        if (step == chain.rbegin()) {
            std::lock_guard lock(m_mutex);
            --base->users;
            settle(*base);
        } else {
            ::close(current);
        }
        if (next < 0) {
            errno = error;
            return -1;
        }
        // Renamed or replaced since it was listed: what is left of it cannot be reached.
        struct stat st;
        if (::fstat(next, &st) != 0 || st.st_dev != (*step)->device || st.st_ino != (*step)->inode) {
            ::close(next);
            errno = ESTALE;
            return -1;
        }
        current = next;
    }
    return current;
}

void FolderDescriptors::keep(Folder& folder, int fd)
{
    folder.fd = fd;
    // The walked folder is never given back: every reopening can start from it.
    if (folder.parent) {
        m_kept.insert({folder.depth, &folder});
        m_mostKept = std::max(m_mostKept, int(m_kept.size()));
    }
}

void FolderDescriptors::settle(Folder& folder)
{
    if (folder.fd < 0 || folder.users > 0 || folder.suspended || !folder.parent)
        return;
    m_kept.erase({folder.depth, &folder});
    ::close(folder.fd);
    folder.fd = -1;
}

void FolderDescriptors::trim()
{
    while (int(m_kept.size()) > m_budget && evictLocked()) {
    }
}

bool FolderDescriptors::evictLocked()
{
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        Folder& folder = *it->second;
        if (folder.users > 0)
            continue;
        ::close(folder.fd);
        folder.fd = -1;
        m_kept.erase(it);
        return true;
    }
    return false;
}

bool FolderDescriptors::evictOne()
{
    std::lock_guard lock(m_mutex);
    return evictLocked();
}

void FolderDescriptors::forget(Folder& folder)
{
    std::lock_guard lock(m_mutex);
    m_kept.erase({folder.depth, &folder});
    ::close(folder.fd);
    folder.fd = -1;
}

int FolderDescriptors::kept() const
{
    std::lock_guard lock(m_mutex);
    return int(m_kept.size());
}

int FolderDescriptors::mostKept() const
{
    std::lock_guard lock(m_mutex);
    return m_mostKept;
}
