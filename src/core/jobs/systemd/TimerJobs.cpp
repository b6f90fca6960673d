#include "TimerJobs.h"

#include "FreshIds.h"
#include "ShellQuote.h"
#include "TimerWords.h"

#include <algorithm>
#include <limits>

#include <time.h>

namespace TimerJobs {

namespace {

constexpr quint64 never = std::numeric_limits<quint64>::max();

bool isSet(quint64 microseconds)
{
    return microseconds != 0 && microseconds != never;
}

QDateTime wallClock(quint64 microseconds)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(microseconds / 1000));
}

quint64 read(clockid_t clock)
{
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<quint64>(now.tv_sec) * 1000000 + static_cast<quint64>(now.tv_nsec) / 1000;
}

// systemd describes a unit without a Description= by its own name.
std::optional<QString> ownDescription(const QString& description, const QString& unit)
{
    if (description.isEmpty() || description == unit)
        return std::nullopt;
    return description;
}

QString nameOf(const TimerUnit& timer, const TimerService* service)
{
    if (auto own = ownDescription(timer.description, timer.name))
        return *own;
    if (service) {
        if (auto own = ownDescription(service->description, service->name))
            return *own;
    }
    return timer.name.chopped(int(QStringLiteral(".timer").size()));
}

bool isActive(const QString& state)
{
    return state == QLatin1String("active") || state == QLatin1String("reloading") ||
           state == QLatin1String("activating");
}

QString statusOf(const TimerUnit& timer, const TimerService* service)
{
    if (service && service->mainPid > 0)
        return QStringLiteral("运行中 (PID %1)").arg(service->mainPid);
    if (!isActive(timer.activeState))
        return QStringLiteral("未启用");
    if (!service || service->execMainCode == 0)
        return QStringLiteral("已停止");
    // CLD_EXITED gives the exit status; CLD_KILLED and CLD_DUMPED the signal, shown negative.
    const qint32 status =
        service->execMainCode == 1 ? service->execMainStatus : -service->execMainStatus;
    return QStringLiteral("已停止 (退出码 %1)").arg(status);
}

std::optional<QString> programOf(const TimerService* service)
{
    if (!service || service->execStart.isEmpty())
        return std::nullopt;
    QStringList lines;
    for (const QStringList& arguments : service->execStart)
        lines.append(ShellQuote::line(arguments));
    return lines.join(QStringLiteral(" ; "));
}

bool shippedWithSystem(const std::optional<QString>& path)
{
    return path && (path->startsWith(QLatin1String("/usr/lib/")) ||
                    path->startsWith(QLatin1String("/lib/")));
}

} // namespace

Clocks Clocks::now()
{
    return {read(CLOCK_REALTIME), read(CLOCK_MONOTONIC)};
}

std::optional<QDateTime> nextElapse(const TimerUnit& timer, const Clocks& clocks)
{
    std::optional<quint64> next;
    if (isSet(timer.nextElapseRealtime))
        next = timer.nextElapseRealtime;
    if (isSet(timer.nextElapseMonotonic)) {
        const qint64 ahead = static_cast<qint64>(timer.nextElapseMonotonic - clocks.monotonic);
        const quint64 converted =
            static_cast<quint64>(static_cast<qint64>(clocks.realtime) + ahead);
        next = next ? std::min(*next, converted) : converted;
    }
    if (!next)
        return std::nullopt;
    return wallClock(*next);
}

QList<Job> jobs(const TimerSnapshot& snapshot, JobScope scope, const Clocks& clocks)
{
    FreshIds ids;
    QList<Job> result;
    for (const TimerUnit& timer : snapshot.timers) {
        const std::optional<QString> schedule = TimerWords::schedule(timer);
        if (!schedule)
            continue;
        const auto found = snapshot.services.constFind(timer.service);
        const TimerService* service = found != snapshot.services.constEnd() ? &*found : nullptr;
        const bool running = service && service->mainPid > 0;

        Job job;
        job.id = ids.next();
        job.identity = {JobSourceKind::systemd, scope, timer.name};
        job.name = nameOf(timer, service);
        if (running)
            job.pid = static_cast<qint32>(service->mainPid);
        job.statusText = statusOf(timer, service);
        job.schedule = schedule;
        job.nextRun = nextElapse(timer, clocks);
        if (isSet(timer.lastTrigger))
            job.lastRun = wallClock(timer.lastTrigger);
        job.tracksLastRun = true;
        job.program = programOf(service);
        job.domain =
            scope == JobScope::user ? QStringLiteral("用户 Timer") : QStringLiteral("系统 Timer");
        job.definitionPath = timer.fragmentPath;
        job.shippedWithSystem = shippedWithSystem(timer.fragmentPath);
        job.actions = {running ? JobAction::stop : JobAction::start,
                       isActive(timer.activeState) ? JobAction::unload : JobAction::load};
        result.append(std::move(job));
    }
    std::stable_sort(result.begin(), result.end(), [](const Job& a, const Job& b) {
        return a.identity.label.compare(b.identity.label, Qt::CaseInsensitive) < 0;
    });
    return result;
}

} // namespace TimerJobs
