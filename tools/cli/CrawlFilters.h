#pragma once

#include "crawl/TreeWalker.h"

#include <QCommandLineOption>
#include <QDateTime>
#include <QString>

class Crawled;
struct OriginDetails;
struct EntryReads;
class QCommandLineParser;

// What a crawl lists and enters: --where-froms, --exclude, --one-file-system, --max-depth go
// to the walk; --agent, --since and --until choose among the listed records by their
// quarantine value, read again from the few records listed rather than in the walk.
class CrawlFilters
{
public:
    CrawlFilters();

    void addOptions(QCommandLineParser& parser) const;
    QString synopsis() const;
    // After parsing: false, with the problem on standard error, for a value that is not one.
    bool read(const QCommandLineParser& parser, TreeWalker::Options& options);

    bool choosesRecords() const { return !m_agent.isEmpty() || m_since.isValid() || m_until.isValid(); }
    bool walksFiltered() const;
    // Whether the record's quarantine value (its own or its AppleDouble file's with
    // `sidecars`) passes --agent, --since and --until.
    // `reads`: what the walk read of the record's entry, when it kept that.
    bool accepts(const Crawled& record, bool sidecars, const EntryReads* reads = nullptr) const;
    // The same for details already read.
    bool accepts(const OriginDetails& details) const;

private:
    QCommandLineOption m_whereFroms, m_agentOption, m_sinceOption, m_untilOption, m_exclude,
        m_oneFileSystem, m_maxDepth;
    QString m_agent;
    QDateTime m_since, m_until; // inclusive, exclusive
    TreeWalker::Options m_walk;
};
