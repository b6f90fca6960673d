#include "SystemdSource.h"

#include "TimerJobs.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

SystemdSource::SystemdSource(JobScope scope, QDBusConnection bus, QObject* parent)
    : JobSource(parent), m_scope(scope), m_client(std::move(bus), scope == JobScope::system)
{
    for (const char* name :
         {"UnitNew", "UnitRemoved", "JobRemoved", "UnitFilesChanged", "Reloading"})
        watch(SystemdClient::managerInterface, SystemdClient::managerPath,
              QString::fromLatin1(name), SLOT(onManagerSignal(QDBusMessage)));
    // Any unit's properties; the slot keeps those of the listed units.
    watch(propertiesInterface, QString(), QStringLiteral("PropertiesChanged"),
          SLOT(onPropertiesChanged(QDBusMessage)));
    // Sent by the bus library itself when the connection is lost.
    m_client.bus().connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                           QStringLiteral("org.freedesktop.DBus.Local"),
                           QStringLiteral("Disconnected"), this, SLOT(onDisconnected()));
    // A manager that starts anew knows nothing of this source's subscription.
    auto* watcher = new QDBusServiceWatcher(SystemdClient::service, m_client.bus(),
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &SystemdSource::onManagerReplaced);
}

void SystemdSource::watch(const QString& interface, const QString& path, const QString& name,
                          const char* slot)
{
    m_client.bus().connect(SystemdClient::service, path, interface, name, this, slot);
}

JobSourceKind SystemdSource::kind() const
{
    return JobSourceKind::systemd;
}

JobScope SystemdSource::scope() const
{
    return m_scope;
}

QString SystemdSource::failure(const QString& reason) const
{
    return (m_scope == JobScope::user ? QStringLiteral("用户 Timer：")
                                      : QStringLiteral("系统 Timer：")) +
           reason;
}

JobSource::Listing SystemdSource::list()
{
    // Subscribed first, so that whatever changes after this listing's questions is signalled.
    bool subscribed = false;
    {
        std::lock_guard lock(m_mutex);
        subscribed = m_subscribed;
    }
    if (!subscribed) {
        subscribed = m_client.subscribe();
        std::lock_guard lock(m_mutex);
        m_subscribed = subscribed;
    }
    const SystemdClient::Reading reading = m_client.readTimers(subscribed ? &m_known : nullptr);
    std::unique_lock lock(m_mutex);
    if (reading.reach != SystemdClient::Reach::reached) {
        if (reading.reach == SystemdClient::Reach::absent && !m_reached)
            return {false, {}, std::nullopt};
        return {true, {}, failure(reading.error)};
    }
    m_reached = true;
    m_timers.clear();
    m_timerFiles.clear();
    m_watchedPaths.clear();
    for (const TimerUnit& timer : reading.snapshot.timers) {
        m_timers.insert(timer.name);
        if (timer.fragmentPath)
            m_timerFiles.insert(timer.name);
        m_watchedPaths.insert(SystemdClient::unitPath(timer.name));
        m_watchedPaths.insert(SystemdClient::unitPath(timer.service));
    }
    lock.unlock();
    return {true, TimerJobs::jobs(reading.snapshot, m_scope, TimerJobs::Clocks::now()),
            std::nullopt};
}

JobSource::ActionResult SystemdSource::perform(const Job& job, JobAction action)
{
    const QString& timer = job.identity.label;
    const QString service = m_client.serviceOf(timer);
    std::optional<QString> error;
    switch (action) {
    case JobAction::start:
        error = m_client.startUnit(service);
        break;
    case JobAction::stop:
        error = m_client.stopUnit(service);
        break;
    case JobAction::load:
        error = m_client.enableNow(timer);
        break;
    case JobAction::unload:
        error = m_client.disableNow(timer);
        break;
    }
    // What the action changed is read afresh, whenever its signals come.
    m_known.forgetPath(SystemdClient::unitPath(service));
    if (error)
        return {false, *error};
    return {true, QString()};
}

void SystemdSource::onManagerSignal(const QDBusMessage& message)
{
    const QString member = message.member();
    const QList<QVariant> arguments = message.arguments();
    const QString unit = arguments.value(member == QLatin1String("JobRemoved") ? 2 : 0).toString();
    if (member == QLatin1String("UnitNew") || member == QLatin1String("UnitRemoved"))
        m_known.forgetPath(arguments.value(1).value<QDBusObjectPath>().path());
    else if (member == QLatin1String("Reloading"))
        m_known.forgetAll();
    bool matters = false;
    {
        std::lock_guard lock(m_mutex);
        if (member == QLatin1String("UnitNew"))
            // A timer that the last listing did not have (made with systemd-run, say). The
            // listing itself loads timers that are not, which must not count.
            matters = unit.endsWith(QLatin1String(".timer")) && !m_timers.contains(unit);
        else if (member == QLatin1String("UnitRemoved"))
            // A timer without a file (a transient one) has gone; one with a file is only
            // unloaded while unused and keeps its row.
            matters = m_timers.contains(unit) && !m_timerFiles.contains(unit);
        else if (member == QLatin1String("JobRemoved"))
            matters = m_watchedPaths.contains(SystemdClient::unitPath(unit));
        else
            matters = true;
    }
    if (matters)
        emit changed();
}

void SystemdSource::onPropertiesChanged(const QDBusMessage& message)
{
    m_known.forgetPath(message.path());
    bool matters = false;
    {
        std::lock_guard lock(m_mutex);
        matters = m_watchedPaths.contains(message.path());
    }
    if (matters)
        emit changed();
}

void SystemdSource::onDisconnected()
{
    m_known.forgetAll();
    emit changed();
}

void SystemdSource::onManagerReplaced()
{
    m_known.forgetAll();
    {
        std::lock_guard lock(m_mutex);
        m_subscribed = false;
    }
    emit changed();
}
