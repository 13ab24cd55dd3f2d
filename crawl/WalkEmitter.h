#pragma once

#include "crawl/Crawled.h"
#include "crawl/TreeWalker.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// What the walking threads publish of a folder, in directory order: a listed entry's record,
// a failure met where its row would be, and at a subfolder the Node of its contents.
struct WalkNode;

struct WalkItem
{
    std::optional<Crawled> record;
    std::shared_ptr<WalkNode> child;                  // set for a subfolder
    std::unique_ptr<TreeWalker::Failure> failure;     // rare: kept out of line
    std::unique_ptr<EntryReads> reads;                // with the record, when the walk keeps them
};

struct WalkNode
{
    std::vector<WalkItem> ready; // published, not yet emitted (under the walk's mutex)
    bool finished = false;       // nothing more will be published (under the walk's mutex)
};

// The emitting thread's side of a walk: reads the tree of nodes in walk order while the
// threads fill it, and hands the records to the sink in batches, a failure to its own sink
// between them, so that both arrive in walk order.
class WalkEmitter
{
public:
    WalkEmitter(std::mutex& mutex, TreeWalker::Progress& progress, const TreeWalker::ReadsSink& sink,
                const TreeWalker::FailureSink& onFailure)
        : m_mutex(mutex), m_progress(progress), m_sink(sink), m_onFailure(onFailure)
    {}

    // The walked folder's node, where the walk starts.
    std::shared_ptr<WalkNode> start();
    // Hands over everything that is ready, in walk order.
    void emitReady();
    // Whether every node was finished and handed over.
    bool done() const { return m_cursors.empty(); }

private:
    struct Cursor
    {
        std::shared_ptr<WalkNode> node;
        std::vector<WalkItem> items;
        size_t index;
    };

    void handOver();

    std::mutex& m_mutex;
    TreeWalker::Progress& m_progress;
    const TreeWalker::ReadsSink& m_sink;
    const TreeWalker::FailureSink& m_onFailure;
    std::vector<Cursor> m_cursors;
    std::vector<Crawled> m_batch;
    std::vector<EntryReads> m_reads; // beside m_batch, when the walk keeps them
};
