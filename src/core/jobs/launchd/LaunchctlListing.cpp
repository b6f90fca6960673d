#include "LaunchctlManager.h"
#include "LaunchctlParsing.h"
#include "ProcessRunner.h"
#include "platform/Platform.h"

#include <future>

namespace LaunchctlManager {

LaunchdState readLaunchdState()
{
    // The tool mostly waits on launchd; the folders are read meanwhile.
    std::future<ProcessRunner::Result> table = std::async(std::launch::async, [] {
        return ProcessRunner::run(Platform::launchctlPath(), {QStringLiteral("list")});
    });
    QHash<QString, PlistInfo> definitions = discoverPlistPaths();
    return {table.get(), std::move(definitions)};
}

QList<LaunchdJob> list()
{
    const LaunchdState state = readLaunchdState();
    if (state.table.status != 0)
        return {};
    return joinJobs(parseJobTable(state.table.stdOut), state.definitions);
}

} // namespace LaunchctlManager
