#pragma once

#include <QHash>
#include <QString>

#include <optional>
#include <shared_mutex>

// Maps a Provenance ID to the path of the application that carries it. One for the
// process (see provenanceApps()); the application load writes it, crawls and drops
// read it from any thread.
class ProvenanceRegistry
{
public:
    using Table = QHash<QString, QString>;

    void clear();
    // Stores `path` under `id`, replacing an earlier entry: the last writer wins.
    void set(const QString& id, const QString& path);
    // Puts a whole load's table in place in one step, so that readers see either the
    // previous load or this one, never a part of it.
    void replace(Table apps);
    std::optional<QString> lookup(const QString& id) const;
    qsizetype size() const;

private:
    mutable std::shared_mutex m_mutex;
    Table m_apps;
};

// The process-wide registry, made on first use.
ProvenanceRegistry& provenanceApps();
