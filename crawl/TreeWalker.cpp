#include "crawl/TreeWalker.h"

#include "core/AbsolutePath.h"
#include "core/PathEncoding.h"
#include "crawl/FolderDescriptors.h"
#include "crawl/FolderWalker.h"
#include "crawl/WalkEmitter.h"
#include "crawl/WalkScheduler.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace {

// The emitting thread hands over what is ready this often while the walk runs.
constexpr auto kEmitInterval = std::chrono::milliseconds(10);

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
    Result result;
    // Shown as the folder's own absolute path, worked out however deep the working directory is.
    const PosixResult<QByteArray> folder = AbsolutePath::of(rawFolder);
    if (!folder) {
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

    // In this order, so that the descriptors outlive the folders left, which they close.
    FolderDescriptors descriptors(FolderDescriptors::defaultBudget());
    WalkScheduler scheduler(m_options.stop);
    WalkEmitter emitter(scheduler.mutex(), progress, sink, m_options.onFailure);
    FolderWalker walker(m_options, keepReads, progress, descriptors, scheduler, emitter);
    if (walker.start(rawFolder, encodedFolder, emitter.start())) {
        // Threads take folders until none is left and none is being examined. `alone`: no
        // other thread could be started, so this one also emits.
        const auto work = [&](bool alone) {
            FolderWalker::ThreadState state = walker.threadState();
            while (std::shared_ptr<ListedFolder> next = scheduler.take()) {
                walker.walkFrom(std::move(next), state, alone);
                scheduler.release();
                if (alone)
                    emitter.emitReady();
            }
        };
        std::vector<std::thread> workers;
        for (int i = 0; i < m_options.threads; ++i) {
            try {
                workers.emplace_back(work, false);
            } catch (const std::system_error&) {
                break; // the system allows no more threads: go on with those there are
            }
        }
        if (workers.empty()) {
            work(true);
        } else {
            // The calling thread hands over what is ready, regularly, while the others walk.
            while (!scheduler.waitDone(kEmitInterval))
                emitter.emitReady();
        }
        for (auto& worker : workers)
            worker.join();
        emitter.emitReady();
        Q_ASSERT(emitter.done()); // every folder was finished, so everything was handed over
    }
    result.rootError = walker.rootError();
    result.stopped = scheduler.stopped();
    result.examined = progress.examined.load();
    result.listed = progress.listed.load();
    result.unreadableFolders = progress.unreadableFolders.load();
    result.unreadableEntries = progress.unreadableEntries.load();
    result.links = progress.links.load();
    result.quarantineOnly = progress.quarantineOnly.load();
    return result;
}
