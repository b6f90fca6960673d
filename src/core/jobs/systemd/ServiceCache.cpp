#include "ServiceCache.h"

#include "SystemdClient.h"

std::optional<TimerService> ServiceCache::find(const QString& service) const
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

void ServiceCache::store(quint64 generation, const TimerService& service)
{
    const QString path = SystemdClient::unitPath(service.name);
    std::lock_guard lock(m_mutex);
    if (m_allForgottenAt > generation || m_forgottenAt.value(path) > generation)
        return;
    m_services.insert(path, service);
}

void ServiceCache::forgetPath(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_forgottenAt.insert(path, ++m_generation);
    m_services.remove(path);
}

void ServiceCache::forgetAll()
{
    std::lock_guard lock(m_mutex);
    m_allForgottenAt = ++m_generation;
    m_services.clear();
    m_forgottenAt.clear();
}
