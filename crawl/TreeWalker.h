#pragma once

#include "crawl/Crawled.h"
#include "origin/EntryReads.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

// Walks every entry below a folder, pre-order (a folder's entry before its contents,
// directory order otherwise), and yields a Crawled record for each entry that carries a
// provenance value (or, with showQuarantine, a quarantine value; with whereFroms, a download
// URL). Symbolic links are neither listed nor entered, unreadable folders and entries are
// counted, handed to the failure sink and passed over, mount points are crossed (unless
// oneFileSystem), and names are handled as raw bytes relative to open directory
// descriptors, so odd names and paths longer than PATH_MAX work. However few descriptors
// the process may open, no subtree is left out for want of them.
//
// Worker threads list and examine folders; the calling thread hands the records to the
// sink in walk order, at least every few milliseconds while the walk runs, so a record
// reaches the sink soon after it was examined however slow the file system is.
class TreeWalker
{
public:
    // Live counters, readable from any thread while a walk runs.
    struct Progress
    {
        std::atomic<qint64> examined{0};          // entries whose attributes were looked at
        std::atomic<qint64> listed{0};            // records handed to the sink
        std::atomic<qint64> unreadableFolders{0}; // folders that could not be opened or read
        std::atomic<qint64> unreadableEntries{0}; // entries whose attributes could not be read
        std::atomic<qint64> links{0};             // symbolic links passed over, not followed
        std::atomic<qint64> quarantineOnly{0};    // not listed: only a quarantine value, not asked for
    };

    // A folder or entry that could not be read: its path as the records show paths (a
    // folder's ending in "/"), and the errno.
    struct Failure
    {
        QString path;
        int error = 0;
    };
    // Receives failures on the emitting thread, in walk order between the record batches.
    using FailureSink = std::function<void(const Failure& failure)>;

    struct Options
    {
        bool showQuarantine = false;
        // Also list entries that carry only com.apple.metadata:kMDItemWhereFroms.
        bool whereFroms = false;
        // Entries whose name matches one of these globs are neither examined nor entered.
        QByteArrayList excludes;
        bool oneFileSystem = false; // folders on another file system are listed, not entered
        int maxDepth = 0;           // entries at most this deep (1: the folder's own); 0: any
        FailureSink onFailure;      // optional
        int threads = 0; // 0: defaultThreadCount(); fewer when the system allows fewer
        // Set from anywhere to stop: the walk examines no entry after it and hands over every
        // record it examined before, in walk order.
        const std::atomic<bool>* stop = nullptr;
        Progress* progress = nullptr; // optional, else the walker's own
        // AppleDouble companions ("._name", "__MACOSX/...") lend their attributes to the
        // files they describe and are not listed themselves.
        bool sidecars = true;
        // With runReading: called on the walking thread for each listed record, so that a
        // writer can do its per-entry work (reads.written) beside the walk. Thread-safe.
        std::function<void(const Crawled& record, EntryReads& reads)> prepare;
    };

    struct Result
    {
        int rootError = 0; // errno when the folder itself could not be opened
        bool stopped = false;
        qint64 examined = 0;
        qint64 listed = 0;
        qint64 unreadableFolders = 0;
        qint64 unreadableEntries = 0;
        qint64 links = 0;
        qint64 quarantineOnly = 0;
    };

    // Receives the next records in walk order and may take them (move from the vector).
    using Sink = std::function<void(std::vector<Crawled>& records)>;
    // The same, with what was read of each record's entry beside it (`reads[i]` is
    // `records[i]`'s), for writers that show more of an entry than its record.
    using ReadsSink = std::function<void(std::vector<Crawled>& records, std::vector<EntryReads>& reads)>;

    explicit TreeWalker(Options options);

    // `folder` is taken as given for the records' paths (made absolute if relative).
    Result run(const QString& folder, const Sink& sink);
    Result run(const QByteArray& rawFolder, const Sink& sink);
    Result runReading(const QByteArray& rawFolder, const ReadsSink& sink);

    const Progress& progress() const { return *m_options.progress; }

    static int defaultThreadCount();
    // More threads than this never make a walk faster.
    static constexpr int kMaxThreads = 64;

private:
    Result walk(const QByteArray& rawFolder, const ReadsSink& sink, bool keepReads);

    Options m_options;
    Progress m_ownProgress;
};
