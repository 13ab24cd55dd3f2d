#include "image/ImageWalker.h"

#include "core/AttributeEvaluation.h"
#include "core/DecoratedValues.h"
#include "core/ItemAttributes.h"
#include "core/PathEncoding.h"
#include "core/SidecarAttributes.h"
#include "crawl/EntryExaminer.h"
#include "image/ImageSidecars.h"
#include "image/ImageXattrCalls.h"

#include <tsk/libtsk.h>

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unordered_set>

namespace {

struct DirCloser
{
    void operator()(TSK_FS_DIR* dir) const { tsk_fs_dir_close(dir); }
};
using Dir = std::unique_ptr<TSK_FS_DIR, DirCloser>;

struct FileCloser
{
    void operator()(TSK_FS_FILE* file) const { tsk_fs_file_close(file); }
};
using File = std::unique_ptr<TSK_FS_FILE, FileCloser>;

// A folder being read: the entries after `next` are still to come.
struct Frame
{
    Dir dir;
    QByteArray encoded; // the folder's encoded path as rows show it, ending in "/"
    size_t next = 0;
    std::unique_ptr<ImageSidecars> sidecars; // with sidecars on
};

bool isDot(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// The attribute source of the evaluation, noting a failure with the folder walk's rule.
struct NotingAttributes
{
    ItemAttributes<ImageXattrCalls>& item;
    bool& failed;

    PosixResult<bool> hasValue(const std::vector<HostAttributeName>& forms) { return noted(item.hasValue(forms)); }
    PosixResult<QByteArray> read(const std::vector<HostAttributeName>& forms) { return noted(item.read(forms)); }

    template<typename T> PosixResult<T> noted(PosixResult<T> result)
    {
        if (!result && EntryExaminer::isReadFailure(int(result.error().code)))
            failed = true;
        return result;
    }
};

// The records handed over at least this often while the walk runs.
constexpr qint64 kEmitIntervalMs = 10;

} // namespace

ImageWalker::ImageWalker(TSK_FS_INFO* fs, TreeWalker::Options options) : m_fs(fs), m_options(options)
{
    if (!m_options.progress)
        m_options.progress = &m_ownProgress;
}

TreeWalker::Result ImageWalker::run(const QByteArray& folder, const QByteArray& shownPrefix, const Sink& sink)
{
    TreeWalker::Result result;
    TreeWalker::Progress& progress = *m_options.progress;
    std::vector<Crawled> records;
    std::vector<quint64> inodes;
    QElapsedTimer sinceEmit;
    sinceEmit.start();
    const auto emitRecords = [&] {
        if (!records.empty()) {
            progress.listed += qint64(records.size());
            sink(records, inodes);
            records.clear();
            inodes.clear();
        }
        sinceEmit.restart();
    };

    tsk_error_reset();
    const QByteArray start = folder.isEmpty() ? QByteArrayLiteral("/") : folder;
    Dir root(tsk_fs_dir_open(m_fs, start.constData()));
    if (!root) {
        const bool missing = tsk_error_get_errno() == TSK_ERR_FS_ATTR_NOTFOUND;
        tsk_error_reset();
        result.rootError = missing ? ENOENT : EIO;
        return result;
    }
    QByteArray base = shownPrefix + (start.startsWith('/') ? start : '/' + start);
    if (!base.endsWith('/'))
        base += '/';
    std::unordered_set<TSK_INUM_T> entered{root->addr};
    std::vector<Frame> stack;
    const auto frameOf = [&](Dir dir, QByteArray encoded, const std::vector<quint64>& archiveFolders) {
        auto sidecars =
            m_options.sidecars ? std::make_unique<ImageSidecars>(m_fs, dir.get(), encoded, archiveFolders) : nullptr;
        return Frame{std::move(dir), std::move(encoded), 0, std::move(sidecars)};
    };
    stack.push_back(frameOf(std::move(root), encodePathBytes(base),
                            m_options.sidecars ? ImageSidecars::archiveFoldersAbove(m_fs, start)
                                               : std::vector<quint64>()));

    // A folder met again would be walked again, forever where a damaged tree loops.
    const auto openOnce = [&](TSK_INUM_T address, Dir& dir) {
        if (!entered.insert(address).second)
            return false;
        tsk_error_reset();
        dir.reset(tsk_fs_dir_open_meta(m_fs, address));
        tsk_error_reset();
        return true;
    };
    File file;
    while (!stack.empty()) {
        if (m_options.stop && m_options.stop->load(std::memory_order_relaxed)) {
            result.stopped = true;
            break;
        }
        Frame& frame = stack.back();
        if (frame.next >= tsk_fs_dir_getsize(frame.dir.get())) {
            stack.pop_back();
            continue;
        }
        const size_t index = frame.next++;
        const TSK_FS_NAME* name = tsk_fs_dir_get_name(frame.dir.get(), index);
        if (!name || !name->name) {
            ++progress.unreadableEntries;
            continue;
        }
        // Sleuth Kit's own entries (orphan files, metadata files) are not in the volume's tree.
        if (isDot(name->name) || name->type == TSK_FS_NAME_TYPE_VIRT || name->type == TSK_FS_NAME_TYPE_VIRT_DIR ||
            name->type == TSK_FS_NAME_TYPE_LNK)
            continue;
        // A folder to enter is opened first: Sleuth Kit loads the folder's own metadata (with
        // every child's record) to list it, and that load serves its attributes as well, where
        // loading it once more for them would cost a second full read of the folder.
        Dir dir;
        bool firstVisit = true;
        if (name->type == TSK_FS_NAME_TYPE_DIR)
            firstVisit = openOnce(name->meta_addr, dir);
        // Else one file structure for the whole walk, as Sleuth Kit's own walk does: a fresh
        // one per entry (tsk_fs_dir_get) spends a third of the time allocating and freeing.
        TSK_FS_FILE* opened = dir && dir->fs_file && dir->fs_file->meta ? dir->fs_file : nullptr;
        if (!opened && (name->meta_addr != 0 || (name->flags & TSK_FS_NAME_FLAG_ALLOC))) {
            tsk_error_reset();
            opened = tsk_fs_file_open_meta(m_fs, file.get(), name->meta_addr);
            if (opened && !file)
                file.reset(opened);
        }
        const TSK_FS_META* meta = opened ? opened->meta : nullptr;
        if (meta && meta->type == TSK_FS_META_TYPE_LNK)
            continue;
        ++progress.examined;
        const bool isDirectory = name->type == TSK_FS_NAME_TYPE_DIR || (meta && meta->type == TSK_FS_META_TYPE_DIR);
        if (!meta) {
            ++progress.unreadableEntries;
        } else {
            const ImageSidecars::Entry side = frame.sidecars ? frame.sidecars->entry(name, opened) : ImageSidecars::Entry{};
            ImageXattrCalls calls(opened);
            if (!side.hidden && (side.lendable || calls.any())) {
                ItemAttributes<ImageXattrCalls> item(calls);
                DecoratedValues values;
                bool failed = false;
                NotingAttributes own{item, failed};
                int sidecarError = 0;
                evaluateLent(
                    own, side.lendable,
                    [&] { return side.orphan ? side.orphan : frame.sidecars->sidecarOf(name->name, &sidecarError); },
                    values, m_options.showQuarantine);
                if (failed || sidecarError != 0)
                    ++progress.unreadableEntries;
                if (values.keep) {
                    const qsizetype length = qsizetype(std::strlen(name->name));
                    records.push_back(Crawled::fromWalk(frame.encoded, QByteArrayView(name->name, length),
                                                       isDirectory, values));
                    inodes.push_back(quint64(name->meta_addr));
                }
            }
        }
        if (isDirectory) {
            if (name->type != TSK_FS_NAME_TYPE_DIR)
                firstVisit = openOnce(name->meta_addr, dir);
            if (!firstVisit || !dir) {
                ++progress.unreadableFolders;
            } else {
                QByteArray encoded = frame.encoded + encodePathBytes(QByteArray(name->name)) + '/';
                const std::vector<quint64> archiveFolders =
                    frame.sidecars ? frame.sidecars->archiveFoldersBelow(name->name) : std::vector<quint64>();
                stack.push_back(frameOf(std::move(dir), std::move(encoded), archiveFolders)); // frame is stale now
            }
        }
        if (sinceEmit.elapsed() >= kEmitIntervalMs)
            emitRecords();
    }
    emitRecords();
    result.examined = progress.examined;
    result.listed = progress.listed;
    result.unreadableFolders = progress.unreadableFolders;
    result.unreadableEntries = progress.unreadableEntries;
    return result;
}
