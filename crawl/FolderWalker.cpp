#include "crawl/FolderWalker.h"

#include "core/PathEncoding.h"
#include "core/SidecarReader.h"
#include "crawl/WalkEmitter.h"
#include "crawl/WalkScheduler.h"

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

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

QByteArray entryPath(const ListedFolder& folder, const FolderListing::Entry& entry)
{
    return folder.encoded + encodePath(QByteArray(folder.listing.name(entry), entry.length)).toLatin1();
}

} // namespace

FolderWalker::ThreadState::ThreadState(const TreeWalker::Options& options, bool keepReads)
    : examiner(options.showQuarantine, options.whereFroms, keepReads), countedAt(coarseNanoseconds())
{}

FolderWalker::FolderWalker(const TreeWalker::Options& options, bool keepReads, TreeWalker::Progress& progress,
                           FolderDescriptors& descriptors, WalkScheduler& scheduler, WalkEmitter& emitter)
    : m_options(options), m_keepReads(keepReads), m_sidecars(options.sidecars), m_progress(progress),
      m_descriptors(descriptors), m_scheduler(scheduler), m_emitter(emitter)
{}

bool FolderWalker::start(const QByteArray& rawFolder, const QByteArray& encodedFolder, std::shared_ptr<WalkNode> root)
{
    ThreadState state = threadState();
    const int fd = m_descriptors.openRoot(rawFolder.toStdString());
    struct stat status;
    if (fd < 0 || (m_options.oneFileSystem && ::fstat(fd, &status) != 0)) {
        m_rootError = errno;
        return false;
    }
    if (m_options.oneFileSystem)
        m_device = status.st_dev;
    Frame frame = list(fd, rawFolder.toStdString(), encodedFolder, std::move(root), state, true);
    if (!frame.folder) // read nothing at all
        return false;
    if (m_sidecars) {
        frame.folder->sidecars.collect(frame.folder->listing);
        for (int archive : SidecarReader::openArchiveFolders(rawFolder))
            frame.folder->sidecars.addArchiveFolder(archive);
    }
    // Left for the first thread to take up.
    frame.folder->self = m_descriptors.adopt(nullptr, frame.folder->name, fd);
    m_descriptors.suspend(*frame.folder->self);
    m_scheduler.leave(std::move(frame.folder));
    return true;
}

void FolderWalker::publish(WalkNode& node, WalkItem item)
{
    std::lock_guard lock(m_scheduler.mutex());
    node.ready.push_back(std::move(item));
}

void FolderWalker::finish(WalkNode& node)
{
    std::lock_guard lock(m_scheduler.mutex());
    node.finished = true;
}

// Rare: a folder or entry that could not be read, published where its row would be.
void FolderWalker::publishFailure(WalkNode& node, const QByteArray& encodedPath, int error)
{
    auto failure = std::make_unique<TreeWalker::Failure>();
    failure->path = QString::fromLatin1(encodedPath);
    failure->error = error;
    publish(node, {std::nullopt, nullptr, std::move(failure), nullptr});
}

bool FolderWalker::excluded(const char* name) const
{
    for (const QByteArray& pattern : m_options.excludes) {
        if (::fnmatch(pattern.constData(), name, 0) == 0)
            return true;
    }
    return false;
}

void FolderWalker::addCounts(ThreadState& state)
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
FolderWalker::Frame FolderWalker::list(int fd, std::string name, QByteArray encoded, std::shared_ptr<WalkNode> node,
                                       ThreadState& state, bool isRoot)
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
    return {std::move(folder), fd};
}

// Opens and lists a subfolder of `parent`; a frame without folder when it cannot be opened.
FolderWalker::Frame FolderWalker::goDown(Frame& parent, const FolderListing::Entry& entry, std::shared_ptr<WalkNode> node,
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
    Frame below = list(fd, name, parent.folder->encoded + encodePath(rawName).toLatin1() + '/',
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
void FolderWalker::findSidecars(ListedFolder& folder, int fd, const FolderSidecars& parent)
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
void FolderWalker::walkFrom(std::shared_ptr<ListedFolder> task, ThreadState& state, bool alone)
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
FolderWalker::Frame FolderWalker::walkFolder(Frame& frame, ThreadState& state, bool alone)
{
    ListedFolder& folder = *frame.folder;
    const auto& entries = folder.listing.entries();
    Frame below;
    while (folder.next < entries.size() && !below.folder && !m_scheduler.stopped()) {
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
        if (outcome.record && outcome.reads && m_options.prepare)
            m_options.prepare(*outcome.record, *outcome.reads);
        ++state.examined;
        if (outcome.unreadable) {
            ++state.unreadable;
            publishFailure(*folder.node, entryPath(folder, entry) + (entry.type == DT_DIR ? "/" : ""),
                           outcome.error);
        }
        if (outcome.quarantineOnly)
            ++state.quarantineOnly;
        if (isFolder) {
            auto child = std::make_shared<WalkNode>();
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
        m_scheduler.leave(std::move(frame.folder));
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
