#pragma once

#include "crawl/EntryExaminer.h"
#include "crawl/FolderDescriptors.h"
#include "crawl/ListedFolder.h"
#include "crawl/TreeWalker.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class WalkEmitter;
class WalkScheduler;
struct WalkItem;
struct WalkNode;

// The walking threads' work: lists folders, examines their entries in order and goes down
// into subfolders at once, leaving the rest of a folder to the scheduler. Each folder's
// findings are published to its WalkNode in directory order, a subfolder's node at the
// subfolder's place, so the emitter can read them in walk order while the threads go on.
class FolderWalker
{
public:
    // What one thread keeps from folder to folder.
    struct ThreadState
    {
        ThreadState(const TreeWalker::Options& options, bool keepReads);
        std::vector<char> buffer;
        EntryExaminer examiner;
        // Counts not yet added to the shared ones.
        qint64 examined = 0;
        qint64 unreadable = 0;
        qint64 links = 0;
        qint64 quarantineOnly = 0;
        std::int64_t countedAt = 0;
    };

    // `keepReads`: listed records come with what was read of their entries.
    // `descriptors` must outlive the scheduler's folders, which it closes.
    FolderWalker(const TreeWalker::Options& options, bool keepReads, TreeWalker::Progress& progress,
                 FolderDescriptors& descriptors, WalkScheduler& scheduler, WalkEmitter& emitter);

    ThreadState threadState() const { return ThreadState(m_options, m_keepReads); }

    // Opens and lists the walked folder `rawFolder` (as given: relative to the working
    // directory when relative) into `root` and leaves it to the scheduler; false when
    // nothing at all could be read (see rootError()).
    bool start(const QByteArray& rawFolder, const QByteArray& encodedFolder, std::shared_ptr<WalkNode> root);
    int rootError() const { return m_rootError; }

    // Takes up a folder left for later and walks on, depth first, until it is done and so is
    // everything the thread went down into from it. `alone`: this thread also emits.
    void walkFrom(std::shared_ptr<ListedFolder> folder, ThreadState& state, bool alone);

private:
    // The folder a thread is examining, and the descriptor it examines it through.
    struct Frame
    {
        std::shared_ptr<ListedFolder> folder;
        int fd = -1;
    };

    Frame list(int fd, std::string name, QByteArray encoded, std::shared_ptr<WalkNode> node, ThreadState& state,
               bool isRoot);
    Frame goDown(Frame& parent, const FolderListing::Entry& entry, std::shared_ptr<WalkNode> node,
                 ThreadState& state);
    void findSidecars(ListedFolder& folder, int fd, const FolderSidecars& parent);
    Frame walkFolder(Frame& frame, ThreadState& state, bool alone);

    void publish(WalkNode& node, WalkItem item);
    void finish(WalkNode& node);
    void publishFailure(WalkNode& node, const QByteArray& encodedPath, int error);
    bool excluded(const char* name) const;
    void addCounts(ThreadState& state);

    const TreeWalker::Options& m_options;
    const bool m_keepReads;
    const bool m_sidecars;
    TreeWalker::Progress& m_progress;
    FolderDescriptors& m_descriptors;
    WalkScheduler& m_scheduler;
    WalkEmitter& m_emitter;
    dev_t m_device = 0;              // the walked folder's, with oneFileSystem
    int m_rootError = 0;
};
