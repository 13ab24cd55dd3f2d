#include "crawl/TreeWalker.h"

#include "core/AbsolutePath.h"
#include "core/PathEncoding.h"
#include "core/SidecarReader.h"
#include "crawl/EntryExaminer.h"
#include "crawl/FolderDescriptors.h"
#include "crawl/FolderListing.h"
#include "crawl/FolderSidecars.h"
#include "crawl/WalkEmitter.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <dirent.h>
#include <fnmatch.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

// The walk goes depth first: a thread examines a folder's entries in order and, at a
// subfolder, goes down into it at once, leaving the rest of the folder on the shared stack,
// where another thread may take it up. So one thread examines entries in walk order, and
// the others work just ahead of it. Each folder's findings go to its Node in directory
// order, a subfolder's Node hanging at the subfolder's place, so the emitting thread can
// read the tree in walk order while the threads fill it (see WalkEmitter).
using Node = WalkNode;
using Item = WalkItem;

// A listed folder whose entries are examined in order, by one thread at a time.
struct ListedFolder
{
    FolderListing listing;
    std::string name;   // in its parent; the path as given for the walked folder
    QByteArray encoded; // its encoded path, ending in "/"
    std::shared_ptr<Node> node;
    FolderDescriptors::FolderRef parent; // the folder it was opened from
    FolderDescriptors::FolderRef self;   // made when a thread first goes down into a subfolder
    size_t next = 0;                     // the first entry not examined yet
    FolderSidecars sidecars;             // where its entries find their AppleDouble files
    std::vector<std::uint32_t> place;    // entry indexes from the walked folder down to it
};

// Whether the rest of `a` comes after the rest of `b` in walk order. Two rests never
// overlap: one folder's rest lies wholly before or after the other's.
bool comesAfter(const std::shared_ptr<ListedFolder>& a, const std::shared_ptr<ListedFolder>& b)
{
    const size_t common = std::min(a->place.size(), b->place.size());
    for (size_t i = 0; i < common; ++i) {
        if (a->place[i] != b->place[i])
            return a->place[i] > b->place[i];
    }
    // One is an ancestor of the other: its next entry comes after the entry the other lies
    // below, so the two never compare equal.
    const size_t aNext = a->place.size() > common ? a->place[common] : a->next;
    const size_t bNext = b->place.size() > common ? b->place[common] : b->next;
    return aNext > bNext;
}

// The folder a thread is examining, and the descriptor it examines it through.
struct Frame
{
    std::shared_ptr<ListedFolder> folder;
    int fd = -1;
};

// The emitting thread hands over what is ready this often while the walk runs.
constexpr auto kEmitInterval = std::chrono::milliseconds(10);
// A walking thread adds to the shared counters after this many entries or this long.
constexpr int kCountBatch = 1024;
constexpr std::int64_t kCountIntervalNs = 20'000'000;

// A cheap clock: read after every entry.
std::int64_t coarseNanoseconds()
{
#ifdef CLOCK_MONOTONIC_COARSE
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
#else
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

bool vanished(int error)
{
    // Gone, or replaced by something that is not a folder, since it was listed.
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

class Walk
{
public:
    Walk(const TreeWalker::Options& options, TreeWalker::Progress& progress, const TreeWalker::ReadsSink& sink,
         bool keepReads)
        : m_options(options), m_keepReads(keepReads), m_sidecars(options.sidecars),
          m_stop(options.stop), m_progress(progress), m_descriptors(FolderDescriptors::defaultBudget()),
          m_emitter(m_mutex, progress, sink, options.onFailure)
    {}

    // `rawFolder` is opened as given (relative to the working directory when relative, so a
    // working directory deeper than PATH_MAX works); `encodedFolder` is how its entries' paths begin.
    TreeWalker::Result run(const QByteArray& rawFolder, const QByteArray& encodedFolder, int threads)
    {
        auto root = m_emitter.start();
        ThreadState state(m_options, m_keepReads);
        const int fd = m_descriptors.openRoot(rawFolder.toStdString());
        struct stat status;
        if (fd < 0 || (m_options.oneFileSystem && ::fstat(fd, &status) != 0)) {
            m_rootError = errno;
            return result();
        }
        if (m_options.oneFileSystem)
            m_device = status.st_dev;
        Frame frame = list(fd, rawFolder.toStdString(), encodedFolder, nullptr, root, state, true);
        if (!frame.folder) // read nothing at all
            return result();
        if (m_sidecars) {
            frame.folder->sidecars.collect(frame.folder->listing);
            for (int archive : SidecarReader::openArchiveFolders(rawFolder))
                frame.folder->sidecars.addArchiveFolder(archive);
        }
        // Left for the first thread to take up.
        frame.folder->self = m_descriptors.adopt(nullptr, frame.folder->name, fd);
        m_descriptors.suspend(*frame.folder->self);
        m_stack.push_back(std::move(frame.folder));

        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i) {
            try {
                workers.emplace_back([this] { work(false); });
            } catch (const std::system_error&) {
                break; // the system allows no more threads: go on with those there are
            }
        }
        if (workers.empty())
            work(true);
        else
            emitWhileWalking();
        for (auto& worker : workers)
            worker.join();
        m_emitter.emitReady();
        Q_ASSERT(m_emitter.done()); // every folder was finished, so everything was handed over
        return result();
    }

private:
    struct ThreadState
    {
        ThreadState(const TreeWalker::Options& options, bool keepReads)
            : examiner(options.showQuarantine, options.whereFroms, keepReads)
        {}
        std::vector<char> buffer;
        EntryExaminer examiner;
        // Counts not yet added to the shared ones.
        qint64 examined = 0;
        qint64 unreadable = 0;
        qint64 links = 0;
        qint64 quarantineOnly = 0;
        std::int64_t countedAt = coarseNanoseconds();
    };

    TreeWalker::Result result() const
    {
        TreeWalker::Result result;
        result.rootError = m_rootError;
        result.stopped = stopped();
        result.examined = m_progress.examined.load();
        result.listed = m_progress.listed.load();
        result.unreadableFolders = m_progress.unreadableFolders.load();
        result.unreadableEntries = m_progress.unreadableEntries.load();
        result.links = m_progress.links.load();
        result.quarantineOnly = m_progress.quarantineOnly.load();
        return result;
    }

    bool stopped() const { return m_stop && m_stop->load(std::memory_order_relaxed); }

    bool walkDone() const { return m_stack.empty() && m_active == 0; }

    // Threads take folders left for later from the stack until none is left and none is
    // being examined. `alone`: no other thread could be started, so this one also emits.
    void work(bool alone)
    {
        ThreadState state(m_options, m_keepReads);
        for (;;) {
            std::shared_ptr<ListedFolder> task;
            {
                std::unique_lock lock(m_mutex);
                for (;;) {
                    if (stopped()) {
                        // What is left of these folders will not be examined: nothing to wait for.
                        for (const auto& folder : m_stack)
                            folder->node->finished = true;
                        m_stack.clear();
                    }
                    if (!m_stack.empty()) {
                        std::pop_heap(m_stack.begin(), m_stack.end(), comesAfter);
                        task = std::move(m_stack.back());
                        m_stack.pop_back();
                        ++m_active;
                        break;
                    }
                    if (m_active == 0) {
                        m_condition.notify_all();
                        return;
                    }
                    ++m_sleepers;
                    m_condition.wait(lock);
                    --m_sleepers;
                }
            }
            walkFrom(std::move(task), state, alone);
            {
                std::lock_guard lock(m_mutex);
                if (--m_active == 0 && m_stack.empty())
                    m_condition.notify_all();
            }
            if (alone)
                m_emitter.emitReady();
        }
    }

    // The calling thread while others walk: hands over what is ready, regularly.
    void emitWhileWalking()
    {
        for (;;) {
            bool done;
            {
                std::unique_lock lock(m_mutex);
                done = m_condition.wait_for(lock, kEmitInterval, [this] { return walkDone(); });
            }
            m_emitter.emitReady();
            if (done)
                return;
        }
    }

    void publish(Node& node, Item item)
    {
        std::lock_guard lock(m_mutex);
        node.ready.push_back(std::move(item));
    }

    void finish(Node& node)
    {
        std::lock_guard lock(m_mutex);
        node.finished = true;
    }

    // Rare: a folder or entry that could not be read, published where its row would be.
    void publishFailure(Node& node, const QByteArray& encodedPath, int error)
    {
        auto failure = std::make_unique<TreeWalker::Failure>();
        failure->path = QString::fromLatin1(encodedPath);
        failure->error = error;
        publish(node, {std::nullopt, nullptr, std::move(failure), nullptr});
    }

    static QByteArray entryPath(const ListedFolder& folder, const FolderListing::Entry& entry)
    {
        return folder.encoded + encodePath(QByteArray(folder.listing.name(entry), entry.length)).toLatin1();
    }

    bool excluded(const char* name) const
    {
        for (const QByteArray& pattern : m_options.excludes) {
            if (::fnmatch(pattern.constData(), name, 0) == 0)
                return true;
        }
        return false;
    }

    void addCounts(ThreadState& state)
    {
        if (state.examined > 0)
            m_progress.examined.fetch_add(state.examined, std::memory_order_relaxed);
        if (state.unreadable > 0)
            m_progress.unreadableEntries.fetch_add(state.unreadable, std::memory_order_relaxed);
        if (state.links > 0)
            m_progress.links.fetch_add(state.links, std::memory_order_relaxed);
        if (state.quarantineOnly > 0)
            m_progress.quarantineOnly.fetch_add(state.quarantineOnly, std::memory_order_relaxed);
        state.examined = 0;
        state.unreadable = 0;
        state.links = 0;
        state.quarantineOnly = 0;
        state.countedAt = coarseNanoseconds();
    }

    // Lists the folder open as `fd`. A frame without folder (and fd closed) when nothing could be read.
    Frame list(int fd, std::string name, QByteArray encoded, FolderDescriptors::FolderRef parent,
               std::shared_ptr<Node> node, ThreadState& state, bool isRoot)
    {
        auto folder = std::make_shared<ListedFolder>();
        if (!folder->listing.read(fd, state.buffer)) {
            if (isRoot && folder->listing.entries().empty()) {
                m_rootError = errno;
                ::close(fd);
                finish(*node);
                return {};
            }
            m_progress.unreadableFolders.fetch_add(1, std::memory_order_relaxed);
            publishFailure(*node, encoded, errno);
        }
        for (auto& entry : folder->listing.entries()) {
            if (entry.type != DT_UNKNOWN)
                continue;
            entry.type = FolderListing::typeOf(fd, folder->listing.name(entry));
            if (entry.type == FolderListing::kUnreadable && !vanished(errno)) {
                // Its type stays unknown, so it is passed over: said ahead of the folder's rows.
                ++state.unreadable;
                publishFailure(*node, encoded + encodePath(QByteArray(folder->listing.name(entry))).toLatin1(),
                               errno);
            }
        }
        folder->name = std::move(name);
        folder->encoded = std::move(encoded);
        folder->node = std::move(node);
        folder->parent = std::move(parent);
        return {std::move(folder), fd};
    }

    // Opens and lists a subfolder of `parent`; a frame without folder when it cannot be opened.
    Frame goDown(Frame& parent, const FolderListing::Entry& entry, std::shared_ptr<Node> node,
                 ThreadState& state)
    {
        const std::string name(parent.folder->listing.name(entry), entry.length);
        const int fd = m_descriptors.openBelow(parent.fd, name);
        if (fd < 0) {
            if (!vanished(errno)) {
                m_progress.unreadableFolders.fetch_add(1, std::memory_order_relaxed);
                publishFailure(*node, entryPath(*parent.folder, entry) + '/', errno);
            }
            finish(*node);
            return {};
        }
        struct stat status;
        if (m_options.oneFileSystem && (::fstat(fd, &status) != 0 || status.st_dev != m_device)) {
            ::close(fd); // a mount point: listed, not entered
            finish(*node);
            return {};
        }
        const QByteArray rawName = QByteArray::fromStdString(name);
        Frame below = list(fd, name, parent.folder->encoded + encodePath(rawName).toLatin1() + '/', nullptr,
                           std::move(node), state, false);
        if (below.folder) {
            below.folder->place.reserve(parent.folder->place.size() + 1);
            below.folder->place = parent.folder->place;
            below.folder->place.push_back(std::uint32_t(parent.folder->next - 1));
        }
        if (below.folder && m_sidecars)
            findSidecars(*below.folder, below.fd, parent.folder->sidecars);
        return below;
    }

    // Where a subfolder's entries find their sidecars: its own "._" entries, its own
    // __MACOSX folder, and the subfolder of that name in each archive folder of its parent.
    void findSidecars(ListedFolder& folder, int fd, const FolderSidecars& parent)
    {
        FolderSidecars& sidecars = folder.sidecars;
        sidecars.collect(folder.listing);
        for (const auto& entry : folder.listing.entries()) {
            if (entry.type == DT_DIR &&
                std::string_view(folder.listing.name(entry), entry.length) == "__MACOSX") {
                const int archive = SidecarReader::openArchiveSubfolder(fd, "__MACOSX");
                if (archive >= 0)
                    sidecars.addArchiveFolder(archive);
            }
        }
        for (int archive : parent.archiveFolders()) {
            const int below = SidecarReader::openArchiveSubfolder(archive, folder.name.c_str());
            if (below >= 0)
                sidecars.addArchiveFolder(below);
        }
    }

    // Takes up a folder left for later and walks on, depth first, until it is done and so is
    // everything the thread went down into from it.
    void walkFrom(std::shared_ptr<ListedFolder> task, ThreadState& state, bool alone)
    {
        Frame frame{std::move(task), -1};
        frame.fd = m_descriptors.resume(*frame.folder->self);
        if (frame.fd < 0) {
            if (!vanished(errno)) {
                m_progress.unreadableFolders.fetch_add(1, std::memory_order_relaxed);
                publishFailure(*frame.folder->node, frame.folder->encoded, errno);
            }
            finish(*frame.folder->node);
            return;
        }
        while (frame.folder)
            frame = walkFolder(frame, state, alone);
        addCounts(state);
    }

    // Examines the frame's folder from its next entry on, up to its end or to a subfolder
    // to go down into, which it returns (a frame without folder when done).
    Frame walkFolder(Frame& frame, ThreadState& state, bool alone)
    {
        ListedFolder& folder = *frame.folder;
        const auto& entries = folder.listing.entries();
        Frame below;
        while (folder.next < entries.size() && !below.folder && !stopped()) {
            const FolderListing::Entry& entry = entries[folder.next++];
            if (entry.type == DT_LNK)
                ++state.links;
            if (entry.type == DT_LNK || entry.type == FolderListing::kUnreadable)
                continue;
            if (!m_options.excludes.isEmpty() && excluded(folder.listing.name(entry)))
                continue;
            // Not entered at the deepest level asked for.
            const bool isFolder =
                entry.type == DT_DIR && (m_options.maxDepth <= 0 || int(folder.place.size()) + 1 < m_options.maxDepth);
            EntryExaminer::Outcome outcome =
                state.examiner.examine(frame.fd, folder.listing.name(entry), entry.length, entry.type,
                                       folder.encoded, m_sidecars ? &folder.sidecars : nullptr);
            ++state.examined;
            if (outcome.unreadable) {
                ++state.unreadable;
                publishFailure(*folder.node, entryPath(folder, entry) + (entry.type == DT_DIR ? "/" : ""),
                               outcome.error);
            }
            if (outcome.quarantineOnly)
                ++state.quarantineOnly;
            if (isFolder) {
                auto child = std::make_shared<Node>();
                const bool record = outcome.record.has_value();
                publish(*folder.node, {std::move(outcome.record), child, nullptr, std::move(outcome.reads)});
                if (record)
                    addCounts(state);
                below = goDown(frame, entry, std::move(child), state);
            } else if (outcome.record) {
                // At once, and counted with it: the next entry may take long on a slow file system.
                publish(*folder.node, {std::move(outcome.record), nullptr, nullptr, std::move(outcome.reads)});
                addCounts(state);
            }
            if (state.examined >= kCountBatch || coarseNanoseconds() - state.countedAt >= kCountIntervalNs) {
                addCounts(state);
                if (alone)
                    m_emitter.emitReady();
            }
        }

        if (below.folder) {
            // The subfolder will be reopened from this one if it loses its descriptor.
            if (!folder.self)
                folder.self = m_descriptors.adopt(folder.parent, folder.name, frame.fd);
            below.folder->parent = folder.self;
        }
        const bool more = below.folder && folder.next < entries.size();
        if (more) {
            // The rest waits on the stack, where an idle thread may take it up.
            m_descriptors.suspend(*folder.self);
            std::lock_guard lock(m_mutex);
            m_stack.push_back(std::move(frame.folder));
            std::push_heap(m_stack.begin(), m_stack.end(), comesAfter);
            if (m_sleepers > 0)
                m_condition.notify_one();
        } else {
            addCounts(state);
            finish(*folder.node);
            if (folder.self)
                m_descriptors.finish(*folder.self);
            else
                ::close(frame.fd);
        }
        return below;
    }

    const TreeWalker::Options& m_options;
    const bool m_keepReads;
    const bool m_sidecars;
    const std::atomic<bool>* const m_stop;
    TreeWalker::Progress& m_progress;
    FolderDescriptors m_descriptors; // outlives the folders, which it closes
    dev_t m_device = 0;              // the walked folder's, with oneFileSystem

    std::mutex m_mutex;
    std::condition_variable m_condition;
    // Folders left for later, as a heap whose top comes first in walk order: an idle thread
    // takes up the rest nearest the walk's front, so records examined ahead wait little.
    std::vector<std::shared_ptr<ListedFolder>> m_stack;
    int m_active = 0;
    int m_sleepers = 0;
    int m_rootError = 0;

    WalkEmitter m_emitter; // emitting thread only
};

} // namespace

TreeWalker::TreeWalker(Options options) : m_options(options)
{
    if (!m_options.progress)
        m_options.progress = &m_ownProgress;
    if (m_options.threads <= 0)
        m_options.threads = defaultThreadCount();
    // Every walking thread needs a few descriptors of its own.
    m_options.threads = std::min({m_options.threads, kMaxThreads, FolderDescriptors::affordableThreads()});
}

int TreeWalker::defaultThreadCount()
{
    // A walk waits on storage as much as on the processor: with a cold cache two threads a
    // processor keep the disk busy, and with a warm one they cost next to nothing.
    return std::clamp(2 * QThread::idealThreadCount(), 2, 16);
}

TreeWalker::Result TreeWalker::run(const QString& folder, const Sink& sink)
{
    return run(QFile::encodeName(folder), sink);
}

TreeWalker::Result TreeWalker::run(const QByteArray& rawFolder, const Sink& sink)
{
    return walk(rawFolder, [&sink](std::vector<Crawled>& records, std::vector<EntryReads>&) { sink(records); },
                false);
}

TreeWalker::Result TreeWalker::runReading(const QByteArray& rawFolder, const ReadsSink& sink)
{
    return walk(rawFolder, sink, true);
}

TreeWalker::Result TreeWalker::walk(const QByteArray& rawFolder, const ReadsSink& sink, bool keepReads)
{
    // Shown as the folder's own absolute path, worked out however deep the working directory is.
    const PosixResult<QByteArray> folder = AbsolutePath::of(rawFolder);
    if (!folder) {
        Result result;
        result.rootError = int(folder.error().code);
        return result;
    }
    // Entries' paths are the folder's path, "/", and their path below it.
    const QByteArray encodedFolder = *folder == "/" ? QByteArray("/") : encodePath(*folder).toLatin1() + '/';

    Progress& progress = *m_options.progress;
    progress.examined = 0;
    progress.listed = 0;
    progress.unreadableFolders = 0;
    progress.unreadableEntries = 0;
    progress.links = 0;
    progress.quarantineOnly = 0;
    Walk walk(m_options, progress, sink, keepReads);
    return walk.run(rawFolder, encodedFolder, m_options.threads);
}
