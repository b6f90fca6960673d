// The job table printed by `launchctl list`, parsed and joined with a definition.

#include "LaunchctlParsing.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString output =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<LaunchctlManager::JobTableRow> rows = LaunchctlManager::parseJobTable(output);
    const QHash<QString, LaunchctlManager::PlistInfo> definitions{
        {QStringLiteral("com.x.a"),
         {QStringLiteral("/Library/LaunchDaemons/a.plist"), {}, {}, {}}}};
    const QList<LaunchdJob> jobs = LaunchctlManager::joinJobs(rows, definitions);
    if (jobs.size() != rows.size())
        __builtin_trap();
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const LaunchdJob& job = jobs[i];
        if (job.label.contains(u'\t') || job.label.contains(u'\n'))
            __builtin_trap();
        if (i > 0 && job.label.toLower() < jobs[i - 1].label.toLower())
            __builtin_trap();
        (void)job.statusText();
        (void)job.friendlyName();
    }
    return 0;
}
