#include "LaunchctlManager.h"

#include "ProcessRunner.h"
#include "platform/Platform.h"

namespace LaunchctlManager {

namespace {

ProcessRunner::Result launchctl(const QStringList& arguments)
{
    return ProcessRunner::run(Platform::launchctlPath(), arguments);
}

QString userDomainTarget()
{
    return QStringLiteral("gui/") + QString::number(Platform::realUserId());
}

QString serviceTarget(const LaunchdJob& job)
{
    return userDomainTarget() + u'/' + job.label;
}

ActionResult succeeded()
{
    return ActionResult{true, QString()};
}

ActionResult fail(const QString& text)
{
    QString message = text.trimmed();
    if (message.isEmpty())
        message = QStringLiteral("操作失败（可能需要管理员权限）。");
    return ActionResult{false, message};
}

// The first run's error output wins whenever there is any, even if it is only white space.
ActionResult failBoth(const ProcessRunner::Result& first, const ProcessRunner::Result& second)
{
    return fail(!first.stdErr.isEmpty() ? first.stdErr : second.stdErr);
}

ActionResult withFallback(const QStringList& firstArguments, const QStringList& fallbackArguments)
{
    const ProcessRunner::Result first = launchctl(firstArguments);
    if (first.status == 0)
        return succeeded();
    const ProcessRunner::Result second = launchctl(fallbackArguments);
    if (second.status == 0)
        return succeeded();
    return failBoth(first, second);
}

} // namespace

ActionResult start(const LaunchdJob& job)
{
    return withFallback({QStringLiteral("kickstart"), serviceTarget(job)},
                        {QStringLiteral("start"), job.label});
}

ActionResult stop(const LaunchdJob& job)
{
    return withFallback({QStringLiteral("kill"), QStringLiteral("SIGTERM"), serviceTarget(job)},
                        {QStringLiteral("stop"), job.label});
}

ActionResult load(const LaunchdJob& job)
{
    if (!job.plistPath)
        return fail(QStringLiteral("找不到该任务的 .plist 文件，无法加载。"));
    return withFallback({QStringLiteral("bootstrap"), userDomainTarget(), *job.plistPath},
                        {QStringLiteral("load"), *job.plistPath});
}

ActionResult unload(const LaunchdJob& job)
{
    const ProcessRunner::Result first = launchctl({QStringLiteral("bootout"), serviceTarget(job)});
    if (first.status == 0)
        return succeeded();
    if (!job.plistPath)
        return fail(first.stdErr);
    const ProcessRunner::Result second = launchctl({QStringLiteral("unload"), *job.plistPath});
    if (second.status == 0)
        return succeeded();
    return failBoth(first, second);
}

} // namespace LaunchctlManager
