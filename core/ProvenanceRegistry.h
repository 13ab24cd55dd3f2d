#pragma once

#include <QHash>
#include <QString>

#include <mutex>
#include <optional>
#include <shared_mutex>

// Maps a Provenance ID to the path of the application that carries it. One for the
// process (see provenanceApps()); the application load writes it, crawls and drops
// read it from any thread.
class ProvenanceRegistry
{
public:
    void clear();
    // Stores `path` under `id`, replacing an earlier entry: the last writer wins.
    void set(const QString& id, const QString& path);
    std::optional<QString> lookup(const QString& id) const;
    qsizetype size() const;

    // Held by a whole load (clear, then every set) so that two loads never interleave.
    std::mutex& loadMutex() { return m_loadMutex; }

private:
    mutable std::shared_mutex m_mutex;
    QHash<QString, QString> m_apps;
    std::mutex m_loadMutex;
};

// The process-wide registry, made on first use.
ProvenanceRegistry& provenanceApps();
