#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>

// The walk's open folders. A folder whose subfolders are still to be opened keeps its
// descriptor for them, so that they are opened relative to it; but the process may not
// afford one descriptor per level of a deep tree. Beyond a budget the shallowest kept
// descriptors are given back (they are needed last, as the walk goes deep first) and a
// folder that has lost its descriptor is reopened, step by step, from its nearest ancestor
// that still has one, each step checked to be the folder that was listed. Paths of any
// length work, and no subtree is dropped for want of descriptors.
class FolderDescriptors
{
public:
    struct Folder;
    using FolderRef = std::shared_ptr<Folder>;

    // `budget`: descriptors that may be kept for folders left for later.
    explicit FolderDescriptors(int budget);
    FolderDescriptors(const FolderDescriptors&) = delete;
    FolderDescriptors& operator=(const FolderDescriptors&) = delete;

    // Opens the walked folder (relative to the working directory when relative).
    int openRoot(const std::string& path);
    // Opens the subfolder `name` of the folder open as `parentFd`, never through a link.
    int openBelow(int parentFd, const std::string& name);

    // Makes `fd`, a folder a thread is examining, one that can be left and taken up again:
    // from now on the descriptor is the folder's, and the thread uses it until it suspends
    // or finishes the folder. `parent` is the folder it was opened from, null for the walked
    // folder, whose descriptor is kept to the end.
    FolderRef adopt(const FolderRef& parent, const std::string& name, int fd);
    // The thread leaves the folder for later: its descriptor is kept while the budget allows.
    void suspend(Folder& folder);
    // A thread takes the folder up again: its descriptor, reopened if it was given back. -1
    // and errno when that fails (ESTALE: a folder on the way is not the one listed).
    int resume(Folder& folder);
    // The thread is done with the folder.
    void finish(Folder& folder);

    // Descriptors kept right now, and the most kept at once.
    int kept() const;
    int mostKept() const;
    int budget() const { return m_budget; }

    // What a walk may afford in this process: half of the descriptors not yet in use are
    // kept for folders left for later; the rest serve the walking threads.
    static int defaultBudget();
    static int affordableThreads();

private:
    friend struct Folder;

    int openRetrying(int directoryFd, const char* name, bool noFollow);
    int reopen(Folder& folder);
    // Under m_mutex.
    void keep(Folder& folder, int fd);
    void settle(Folder& folder);
    void trim();
    bool evictLocked();
    bool evictOne();
    void forget(Folder& folder);

    const int m_budget;
    mutable std::mutex m_mutex;
    std::set<std::pair<int, Folder*>> m_kept; // by depth: the shallowest is given back first
    int m_mostKept = 0;
};

// A folder that has subfolders: the way back to it from its ancestors.
struct FolderDescriptors::Folder
{
    Folder(FolderDescriptors* owner, FolderRef parent, std::string name, int depth);
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    FolderDescriptors* const owner;
    const FolderRef parent; // null for the walked folder
    const std::string name; // in the parent
    const int depth;
    dev_t device = 0; // as first opened, to check a reopened one
    ino_t inode = 0;

    // Under the owner's mutex.
    int fd = -1;
    int users = 0;          // threads using fd now: it is not closed under them
    bool suspended = false; // left for later: needs its descriptor again
};
