#include "LaunchdSource.h"

#include "LaunchctlManager.h"
#include "LaunchctlParsing.h"
#include "platform/Platform.h"

#include <QFileInfo>

namespace {

const QString appleLabelPrefix = QStringLiteral("com.apple.");

Job toJob(const LaunchdJob& launchd, const QList<CalendarSchedule>& calendar, const QDateTime& now)
{
    Job job;
    job.id = launchd.id;
    job.identity = {JobSourceKind::launchd, JobScope::user, launchd.label};
    job.name = launchd.friendlyName();
    job.pid = launchd.pid;
    job.statusText = launchd.statusText();
    job.schedule = launchd.schedule;
    job.nextRun = LaunchctlManager::nextCalendarRun(calendar, now);
    job.program = launchd.program;
    job.domain = rawValue(launchd.domain);
    job.definitionPath = launchd.plistPath;
    job.shippedWithSystem = launchd.label.startsWith(appleLabelPrefix);
    job.actions = {launchd.pid ? JobAction::stop : JobAction::start, JobAction::unload};
    if (launchd.plistPath)
        job.actions.append(JobAction::load);
    return job;
}

QString listingFailure(const ProcessRunner::Result& result)
{
    const QString reason = result.stdErr.trimmed();
    return QStringLiteral("launchctl list：") +
           (reason.isEmpty() ? QStringLiteral("退出码 ") + QString::number(result.status) : reason);
}

} // namespace

JobSourceKind LaunchdSource::kind() const
{
    return JobSourceKind::launchd;
}

JobSource::Listing LaunchdSource::list()
{
    const QFileInfo tool(Platform::launchctlPath());
    if (!tool.isFile() || !tool.isExecutable())
        return {false, {}, std::nullopt};

    const LaunchctlManager::LaunchdState state = LaunchctlManager::readLaunchdState();
    if (state.table.status != 0)
        return {true, {}, listingFailure(state.table)};

    const QDateTime now = QDateTime::currentDateTime();
    Listing listing;
    for (const LaunchdJob& launchd : LaunchctlManager::joinJobs(
             LaunchctlManager::parseJobTable(state.table.stdOut), state.definitions))
        listing.jobs.append(toJob(launchd, state.definitions.value(launchd.label).calendar, now));
    return listing;
}

JobSource::ActionResult LaunchdSource::perform(const Job& job, JobAction action)
{
    // The actions address a job by its label and definition file alone.
    LaunchdJob target;
    target.label = job.identity.label;
    target.pid = job.pid;
    target.plistPath = job.definitionPath;
    LaunchctlManager::ActionResult result;
    switch (action) {
    case JobAction::start:
        result = LaunchctlManager::start(target);
        break;
    case JobAction::stop:
        result = LaunchctlManager::stop(target);
        break;
    case JobAction::load:
        result = LaunchctlManager::load(target);
        break;
    case JobAction::unload:
        result = LaunchctlManager::unload(target);
        break;
    }
    return {result.success, result.message};
}
