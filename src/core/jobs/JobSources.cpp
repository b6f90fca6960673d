#include "JobSources.h"

#include "CronSource.h"
#include "LaunchdSource.h"
#include "SystemdSource.h"

#include <QDBusConnection>

#include <mutex>

namespace JobSources {

namespace {

struct Override {
    std::mutex mutex;
    std::function<Sources()> factory;
};

Override& overrides()
{
    static Override instance;
    return instance;
}

} // namespace

Sources standard()
{
    {
        Override& o = overrides();
        std::lock_guard lock(o.mutex);
        if (o.factory)
            return o.factory();
    }
    Sources sources;
    sources.push_back(std::make_unique<LaunchdSource>());
    sources.push_back(
        std::make_unique<SystemdSource>(JobScope::user, QDBusConnection::sessionBus()));
    sources.push_back(
        std::make_unique<SystemdSource>(JobScope::system, QDBusConnection::systemBus()));
    sources.push_back(std::make_unique<CronSource>());
    return sources;
}

namespace testing {

void setFactory(std::function<Sources()> factory)
{
    Override& o = overrides();
    std::lock_guard lock(o.mutex);
    o.factory = std::move(factory);
}

} // namespace testing

} // namespace JobSources
