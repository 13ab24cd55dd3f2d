#include "core/ProvenanceRegistry.h"

#include <mutex>

void ProvenanceRegistry::clear()
{
    std::unique_lock lock(m_mutex);
    m_apps.clear();
}

void ProvenanceRegistry::set(const QString& id, const QString& path)
{
    std::unique_lock lock(m_mutex);
    m_apps.insert(id, path);
}

void ProvenanceRegistry::replace(Table apps)
{
    std::unique_lock lock(m_mutex);
    m_apps.swap(apps);
    lock.unlock(); // the old table is freed outside the lock
}

std::optional<QString> ProvenanceRegistry::lookup(const QString& id) const
{
    std::shared_lock lock(m_mutex);
    const auto it = m_apps.constFind(id);
    if (it == m_apps.cend())
        return std::nullopt;
    return *it;
}

qsizetype ProvenanceRegistry::size() const
{
    std::shared_lock lock(m_mutex);
    return m_apps.size();
}

ProvenanceRegistry& provenanceApps()
{
    static ProvenanceRegistry registry;
    return registry;
}
