#pragma once

#include "origin/EntryReads.h"
#include "origin/MacSources.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <future>
#include <memory>
#include <mutex>

class OriginDatabases;
struct OriginDetails;
struct EntryReads;
class QCommandLineParser;

// `--format jsonl|timeline|bodyfile` and `--mac-root DIR` for apps, crawl and files: one JSON
// object a line per listed record, with the decoded attributes and the linked rows of the
// Mac's databases; or its events for a timeline; or its line of a body file. Each set of databases is read
// once per run; what cannot be read is said on standard error and the lines are written without it.
class OriginLines
{
public:
    // `plainFormat` names the command's usual output ("csv" or "text").
    explicit OriginLines(QString plainFormat);

    void addOptions(QCommandLineParser& parser);
    // After parsing: false, with the problem on standard error, for an unknown format or a
    // Mac root that is not a folder.
    bool read(const QCommandLineParser& parser);
    // Whether lines of this class replace the command's plain output (jsonl, timeline, bodyfile).
    bool isOriginFormat() const { return m_format != Format::Plain; }
    bool isJsonLines() const { return m_format == Format::JsonLines; }
    // For a disk image's files, which are linked to the image's own databases: false, with a
    // usage message, when --mac-root was given.
    bool servesImages() const;
    QString synopsis() const; // "[--format FORMAT] [--mac-root DIR]"

    // Where the databases are looked for when no Mac root is given: upward from `anchor`
    // (the crawled folder); without one, upward from each record. With jsonl the databases
    // start loading at once, beside the walk.
    void setAnchor(const QByteArray& rawPath);
    // Whether a file lacking an attribute takes it from its AppleDouble file (as the list did).
    void setSidecars(bool sidecars) { m_sidecars = sidecars; }

    // The line (or a timeline's lines) of one listed record, with its line feed; `encodedPath`
    // as the record shows it; `reads`, when given, what the walk read of the entry, which is
    // then not read again. What could not be read or used is said on standard error as it is met.
    QByteArray line(const QString& name, const QString& encodedPath, const QString& provenanceID,
                    const QString& quarantineApp, const EntryReads* reads = nullptr);
    // The same, in two steps: written() on any thread (a crawl's walking threads write each
    // line beside the walk), then sayWritten() on one thread, in walk order, for what is said
    // on standard error; the text is the caller's to write out.
    // `keep`, when given, chooses by the details before they are linked (not kept: nothing written).
    EntryReads::Written written(const QString& name, const QString& encodedPath, const QString& provenanceID,
                                const QString& quarantineApp, const EntryReads* reads,
                                const std::function<bool(const OriginDetails&)>& keep = {});
    void sayWritten(const EntryReads::Written& written);

    // The same for a file inside a disk image, whose details were read through the image and
    // linked to its own databases; JSON Lines add "image" and "volume".
    QByteArray imageLine(const QString& name, const QString& encodedPath, const QString& provenanceID,
                         const QString& quarantineApp, const OriginDetails& details, const QString& image,
                         const QString& volume);

    // The run's exit status given the command's own: a partial result (3) where evidence
    // could not be used. Says once, at the end, when access times of the evidence may have
    // changed.
    int finish(int status) const;

private:
    MacSources sourcesFor(const QByteArray& rawPath) const;
    const OriginDatabases* databasesFor(const QByteArray& rawPath);
    void sayNewNotes(const OriginDatabases* databases);
    void startLoading(const MacSources& sources);
    void appendFormatted(QByteArray& out, const QString& name, const QString& encodedPath,
                         const QByteArray& rawPath, const QString& provenanceID, const QString& quarantineApp,
                         const OriginDetails& details);
    void sayProblems(const QByteArray& path, const OriginDetails& details);
    static QStringList problemLines(const QByteArray& path, const OriginDetails& details);

    QString m_plainFormat;
    enum class Format
    {
        Plain,
        JsonLines,
        Timeline,
        Body
    } m_format = Format::Plain;
    bool m_sidecars = true;
    QByteArray m_macRoot;
    QByteArray m_anchor;
    std::mutex m_databasesMutex; // databasesFor() is called from the walking threads
    bool m_resolved = false;     // m_fixed holds the databases of the Mac root or anchor
    const OriginDatabases* m_fixed = nullptr;
    QHash<MacSources, std::shared_ptr<const OriginDatabases>> m_databases;
    QHash<const OriginDatabases*, qsizetype> m_notesSaid; // how many of each one's notes were said
    bool m_evidenceUnused = false;
    MacSources m_loadingSources;
    std::future<std::shared_ptr<const OriginDatabases>> m_loading;
};
