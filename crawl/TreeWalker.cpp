#include "crawl/TreeWalker.h"

#include "core/AbsolutePath.h"
#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/ItemAttributes.h"
#include "core/PathEncoding.h"
#include "crawl/EntryXattrCalls.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The work is cut per folder: a task lists one folder and examines its entries, and hands
// each subfolder to the shared stack as a task of its own. Each folder's findings go to
// its Node in directory order, a subfolder's Node hanging at the subfolder's place, so the
// emitting thread can read the tree in walk order while other threads fill it.
struct Node;

struct Item
{
    std::optional<Crawled> record;
    std::shared_ptr<Node> child; // set for a subfolder
};

struct Node
{
    std::vector<Item> ready; // published, not yet emitted (under Walk::m_mutex)
    bool finished = false;   // nothing more will be published (under Walk::m_mutex)
};

// An open folder, closed when the last task that needs it (its own, its subfolders'
// openat) is done.
struct DirHandle
{
    explicit DirHandle(int descriptor) : fd(descriptor) {}
    ~DirHandle() { ::close(fd); }
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    const int fd;
};

struct Task
{
    std::shared_ptr<DirHandle> parent; // null for the walked folder itself
    std::string name;                  // in the parent; the whole path for the walked folder
    QByteArray encodedFolder;          // this folder's encoded path, ending in "/"
    std::shared_ptr<Node> node;
};

constexpr unsigned char kSkip = 0xff; // an entry whose type could not be read

// One folder's entries, names stored back to back with their NULs.
struct Listing
{
    struct Entry
    {
        std::uint32_t offset;
        std::uint32_t length;
        unsigned char type;
    };
    std::vector<char> names;
    std::vector<Entry> entries;

    void clear()
    {
        names.clear();
        entries.clear();
    }
    void add(const char* name, unsigned char type)
    {
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            return;
        const size_t length = std::strlen(name);
        entries.push_back({std::uint32_t(names.size()), std::uint32_t(length), type});
        names.insert(names.end(), name, name + length + 1);
    }
    const char* name(const Entry& entry) const { return names.data() + entry.offset; }
};

// Reads the whole folder; false (errno set) when reading failed part way or at once.
bool readFolder(int fd, Listing& listing, std::vector<char>& buffer)
{
    listing.clear();
#ifdef __linux__
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        for (ssize_t offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            listing.add(entry->d_name, entry->d_type);
        }
    }
#else
    const int copy = ::dup(fd);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return false;
    }
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        listing.add(entry->d_name, entry->d_type);
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return ok;
#endif
}

unsigned char typeOf(int directoryFd, const char* name)
{
    struct stat st;
    if (::fstatat(directoryFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return kSkip;
    if (S_ISLNK(st.st_mode))
        return DT_LNK;
    if (S_ISDIR(st.st_mode))
        return DT_DIR;
    return DT_REG;
}

// ItemAttributes over names already listed: an attribute with no listed form is answered
// "no such attribute" at once, without the calls and the error text of the general path.
class ListedAttributes
{
public:
    ListedAttributes(EntryXattrCalls calls, bool listed)
        : m_names(listed ? calls.names() : std::string_view()), m_listed(listed), m_item(calls)
    {}

    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms)
    {
        if (notListed(forms))
            return noSuchAttribute();
        return m_item.hasValue(forms);
    }

    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms)
    {
        if (notListed(forms))
            return noSuchAttribute();
        return m_item.read(forms);
    }

private:
    bool notListed(const std::vector<HostAttributeName>& forms) const
    {
        return m_listed && !HostAttributeName::firstListed(forms, m_names);
    }

    static const PosixError& noSuchAttribute()
    {
        static const PosixError error = posixError(ENODATA);
        return error;
    }

    std::string_view m_names;
    bool m_listed;
    ItemAttributes<EntryXattrCalls> m_item;
};

bool vanished(int error)
{
    // Gone, or replaced by something that is not a folder, since it was listed.
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

class Walk
{
public:
    Walk(const TreeWalker::Options& options, TreeWalker::Progress& progress, const TreeWalker::Sink& sink)
        : m_showQuarantine(options.showQuarantine), m_cancel(options.cancel), m_progress(progress),
          m_sink(sink)
    {}

    // `rawFolder` is opened as given (relative to the working directory when relative, so a
    // working directory deeper than PATH_MAX works); `encodedFolder` is how its entries' paths begin.
    TreeWalker::Result run(const QByteArray& rawFolder, const QByteArray& encodedFolder, int threads)
    {
        auto root = std::make_shared<Node>();
        m_cursors.push_back({root, {}, 0});
        m_stack.push_back({nullptr, rawFolder.toStdString(), encodedFolder, root});

        std::vector<std::thread> helpers;
        for (int i = 1; i < threads; ++i)
            helpers.emplace_back([this] { work(false); });
        work(true);
        for (auto& helper : helpers)
            helper.join();
        emitReady();

        TreeWalker::Result result;
        result.rootError = m_rootError;
        result.cancelled = cancelled();
        result.examined = m_progress.examined.load();
        result.listed = m_progress.listed.load();
        result.unreadableFolders = m_progress.unreadableFolders.load();
        result.unreadableEntries = m_progress.unreadableEntries.load();
        return result;
    }

private:
    struct Cursor
    {
        std::shared_ptr<Node> node;
        std::vector<Item> items;
        size_t index;
    };

    struct ThreadState
    {
        Listing listing;
        std::vector<char> buffer = std::vector<char>(64 * 1024);
        EntryXattrCalls::Scratch scratch;
    };

    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }

    // Every thread takes folders from the stack until none is left and none is being
    // read; the calling thread also emits whatever is ready in walk order.
    void work(bool emitter)
    {
        ThreadState state;
        for (;;) {
            Task task;
            {
                std::unique_lock lock(m_mutex);
                for (;;) {
                    if (cancelled())
                        m_stack.clear();
                    if (!m_stack.empty()) {
                        task = std::move(m_stack.back());
                        m_stack.pop_back();
                        ++m_active;
                        break;
                    }
                    if (m_active == 0) {
                        m_condition.notify_all();
                        return;
                    }
                    if (emitter && canEmit()) {
                        lock.unlock();
                        emitReady();
                        lock.lock();
                        continue;
                    }
                    ++m_sleepers;
                    m_emitterWaiting = m_emitterWaiting || emitter;
                    m_condition.wait(lock);
                    --m_sleepers;
                    if (emitter)
                        m_emitterWaiting = false;
                }
            }
            examineFolder(task, state, emitter);
            {
                std::lock_guard lock(m_mutex);
                if (--m_active == 0 && m_stack.empty())
                    m_condition.notify_all();
            }
            if (emitter)
                emitReady();
        }
    }

    // Under m_mutex: whether the emitter has something to hand over.
    bool canEmit() const
    {
        if (m_cursors.empty())
            return false;
        const Cursor& cursor = m_cursors.back();
        return cursor.index < cursor.items.size() || !cursor.node->ready.empty() || cursor.node->finished;
    }

    void publish(Node& node, std::vector<Item>& items, bool finished)
    {
        bool wake;
        {
            std::lock_guard lock(m_mutex);
            if (node.ready.empty())
                node.ready.swap(items);
            else
                std::move(items.begin(), items.end(), std::back_inserter(node.ready));
            node.finished = finished;
            wake = m_emitterWaiting;
        }
        items.clear();
        if (wake)
            m_condition.notify_all();
    }

    // Emitting thread only: hands every record that is ready, in walk order, to the sink.
    void emitReady()
    {
        m_batch.clear();
        while (!m_cursors.empty()) {
            Cursor& cursor = m_cursors.back();
            if (cursor.index == cursor.items.size()) {
                cursor.items.clear();
                cursor.index = 0;
                bool finished;
                {
                    std::lock_guard lock(m_mutex);
                    cursor.items.swap(cursor.node->ready);
                    finished = cursor.node->finished;
                }
                if (cursor.items.empty()) {
                    if (!finished)
                        break;
                    m_cursors.pop_back();
                    continue;
                }
            }
            Item& item = cursor.items[cursor.index++];
            if (item.record)
                m_batch.push_back(std::move(*item.record));
            if (item.child) {
                std::shared_ptr<Node> child = std::move(item.child);
                m_cursors.push_back({std::move(child), {}, 0});
            }
        }
        if (m_batch.empty() || cancelled())
            return;
        m_progress.listed.fetch_add(qint64(m_batch.size()), std::memory_order_relaxed);
        m_sink(m_batch);
    }

    int openFolder(const Task& task)
    {
        if (!task.parent)
            return ::open(task.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return ::openat(task.parent->fd, task.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }

    void examineFolder(Task& task, ThreadState& state, bool emitter)
    {
        Node& node = *task.node;
        const bool isRoot = !task.parent;
        std::vector<Item> items;
        const int fd = openFolder(task);
        if (fd < 0) {
            const int error = errno;
            if (isRoot)
                m_rootError = error;
            else if (!vanished(error))
                m_progress.unreadableFolders.fetch_add(1, std::memory_order_relaxed);
            publish(node, items, true);
            return;
        }
        task.parent.reset();
        const auto folder = std::make_shared<DirHandle>(fd);

        Listing& listing = state.listing;
        if (!readFolder(fd, listing, state.buffer)) {
            if (isRoot && listing.entries.empty())
                m_rootError = errno;
            else
                m_progress.unreadableFolders.fetch_add(1, std::memory_order_relaxed);
        }

        // Subfolders go to the stack first, so that other threads can start on them while
        // this one examines the entries; the first subfolder ends on top.
        std::vector<std::shared_ptr<Node>> children;
        for (auto& entry : listing.entries) {
            if (entry.type == DT_UNKNOWN)
                entry.type = typeOf(fd, listing.name(entry));
            if (entry.type == DT_DIR)
                children.push_back(std::make_shared<Node>());
        }
        if (!children.empty() && !cancelled()) {
            std::vector<Task> tasks;
            tasks.reserve(children.size());
            size_t child = children.size();
            for (auto it = listing.entries.rbegin(); it != listing.entries.rend(); ++it) {
                if (it->type != DT_DIR)
                    continue;
                const QByteArray rawName(listing.name(*it), qsizetype(it->length));
                tasks.push_back({folder, rawName.toStdString(),
                                 task.encodedFolder + encodePath(rawName).toLatin1() + '/',
                                 children[--child]});
            }
            std::lock_guard lock(m_mutex);
            std::move(tasks.begin(), tasks.end(), std::back_inserter(m_stack));
            if (m_sleepers > 0)
                m_condition.notify_all();
        }

        size_t nextChild = 0;
        qint64 examined = 0;
        for (const auto& entry : listing.entries) {
            if (cancelled())
                break;
            if (entry.type == DT_LNK || entry.type == kSkip)
                continue;
            ++examined;
            const bool isFolder = entry.type == DT_DIR;
            std::optional<Crawled> record = examineEntry(fd, listing.name(entry), entry.length, isFolder,
                                                         task.encodedFolder, state.scratch);
            if (isFolder)
                items.push_back({std::move(record), children[nextChild++]});
            else if (record)
                items.push_back({std::move(record), nullptr});
            if ((examined & 1023) == 0) {
                m_progress.examined.fetch_add(examined, std::memory_order_relaxed);
                examined = 0;
                if (!items.empty()) {
                    publish(node, items, false);
                    if (emitter)
                        emitReady();
                }
            }
        }
        m_progress.examined.fetch_add(examined, std::memory_order_relaxed);
        publish(node, items, true);
    }

    std::optional<Crawled> examineEntry(int fd, const char* name, std::uint32_t length, bool isFolder,
                                        const QByteArray& encodedFolder, EntryXattrCalls::Scratch& scratch)
    {
        EntryXattrCalls calls(fd, name, scratch);
        // Most entries carry neither attribute: one list call settles them.
        const bool listed = calls.fetchNames() >= 0;
        if (listed) {
            const std::string_view names = calls.names();
            if (names.empty())
                return std::nullopt;
            if (!HostAttributeName::firstListed(provenanceForms(), names) &&
                !(m_showQuarantine && HostAttributeName::firstListed(quarantineForms(), names)))
                return std::nullopt;
        } else if (errno != ERANGE) {
            return std::nullopt;
        }
        ListedAttributes attributes(calls, listed);
        DecoratedValues values;
        evaluateAttributes(attributes, values, m_showQuarantine);
        if (!values.keep)
            return std::nullopt;
        return Crawled::fromWalk(encodedFolder, QByteArrayView(name, qsizetype(length)), isFolder, values);
    }

    const bool m_showQuarantine;
    const std::atomic<bool>* const m_cancel;
    TreeWalker::Progress& m_progress;
    const TreeWalker::Sink& m_sink;

    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::vector<Task> m_stack; // LIFO: close to walk order, so little waits to be emitted
    int m_active = 0;
    int m_sleepers = 0;
    bool m_emitterWaiting = false;
    int m_rootError = 0;

    // Emitting thread only.
    std::vector<Cursor> m_cursors;
    std::vector<Crawled> m_batch;
};

} // namespace

TreeWalker::TreeWalker(Options options) : m_options(options)
{
    if (!m_options.progress)
        m_options.progress = &m_ownProgress;
    if (m_options.threads <= 0)
        m_options.threads = defaultThreadCount();
}

int TreeWalker::defaultThreadCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 8);
}

TreeWalker::Result TreeWalker::run(const QString& folder, const Sink& sink)
{
    return run(QFile::encodeName(folder), sink);
}

TreeWalker::Result TreeWalker::run(const QByteArray& rawFolder, const Sink& sink)
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
    Walk walk(m_options, progress, sink);
    return walk.run(rawFolder, encodedFolder, m_options.threads);
}
