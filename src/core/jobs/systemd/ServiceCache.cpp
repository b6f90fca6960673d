#include "ServiceCache.h"

#include "SystemdClient.h"

std::optional<ServiceUnit> ServiceCache::find(const QString& service) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_services.constFind(SystemdClient::unitPath(service));
    if (found == m_services.constEnd())
        return std::nullopt;
    return *found;
}

quint64 ServiceCache::generation() const
{
    std::lock_guard lock(m_mutex);
    return m_generation;
}

void ServiceCache::store(quint64 generation, const ServiceUnit& service)
{
    std::lock_guard lock(m_mutex);
    if (generation == m_generation)
        m_services.insert(SystemdClient::unitPath(service.name), service);
}

void ServiceCache::forgetPath(const QString& path)
{
    std::lock_guard lock(m_mutex);
    ++m_generation;
    m_services.remove(path);
}

void ServiceCache::forgetAll()
{
    std::lock_guard lock(m_mutex);
    ++m_generation;
    m_services.clear();
}
