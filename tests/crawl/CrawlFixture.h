#pragma once

#include "tests/support/TestTree.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The crawl suites' tree: odd names (space, comma, quote, "%", line feed, bytes that are not
// UTF-8), a hidden file, a file inside an .app bundle, a folder carrying provenance, links
// to a file and a folder that carry attributes, the other host forms of the attributes, a
// name list longer than one read, and a file below a path longer than PATH_MAX.
class CrawlFixture
{
public:
    struct Expected
    {
        QByteArray relative; // raw, a folder's ending in "/"
        QString name;
        QString path;
        QString provenanceID;
        QString quarantineApp;

        // name|provenance|quarantine|path, for readable comparisons.
        QString row() const;
    };

    static constexpr char kRegisteredApp[] = "/Applications/Registered.app";

    explicit CrawlFixture(TestTree& tree);
    ~CrawlFixture();

    // The listed entries in walk order, as the walk must produce them.
    QList<Expected> expected(bool showQuarantine, bool registered) const;
    QStringList expectedRows(bool showQuarantine, bool registered) const;
    // Entries that are examined (not links).
    qint64 examinableEntries() const;

    // Registers the fixture's registered ID, or empties the registry.
    static void setRegistered(bool registered);

    // Every entry below `root`, pre-order in directory order, links skipped: relative raw
    // paths, folders ending in "/". Written independently of the walker, over descriptors.
    static QList<QByteArray> walkOrder(const QByteArray& rawRoot, qint64* links = nullptr);
    // Removes a tree of any depth below `rawRoot` (QDir cannot go past PATH_MAX).
    static void removeDeep(const QByteArray& rawRoot, const QByteArray& name);

    QByteArray deepRelative() const { return m_deepRelative; }

private:
    TestTree& m_tree;
    QByteArray m_deepRelative;
};
