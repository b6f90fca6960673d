#include "FreshIds.h"
#include "LaunchctlParsing.h"
#include "Numbers.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace LaunchctlManager {

QList<JobTableRow> parseJobTable(QStringView output)
{
    QList<JobTableRow> rows;
    bool headerSkipped = false;
    for (const QStringView line : output.tokenize(u'\n', Qt::SkipEmptyParts)) {
        if (!headerSkipped) {
            headerSkipped = true;
            continue;
        }
        const qsizetype firstTab = line.indexOf(u'\t');
        if (firstTab < 0)
            continue;
        const qsizetype secondTab = line.indexOf(u'\t', firstTab + 1);
        if (secondTab < 0)
            continue;
        qsizetype labelEnd = line.indexOf(u'\t', secondTab + 1);
        if (labelEnd < 0)
            labelEnd = line.size();

        const QStringView pidField = line.first(firstTab);
        const QStringView statusField = line.sliced(firstTab + 1, secondTab - firstTab - 1);
        JobTableRow row;
        if (!pidField.isEmpty())
            row.pid = parseInt32Strict(pidField);
        if (!statusField.isEmpty())
            row.lastExitStatus = parseInt32Strict(statusField).value_or(0);
        row.label = line.sliced(secondTab + 1, labelEnd - secondTab - 1).toString();
        rows.append(std::move(row));
    }
    return rows;
}

QList<LaunchdJob> joinJobs(const QList<JobTableRow>& rows,
                           const QHash<QString, PlistInfo>& definitions)
{
    // Sort keys once per row rather than once per comparison.
    std::vector<std::pair<QString, qsizetype>> order;
    order.reserve(static_cast<size_t>(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i)
        order.emplace_back(rows[i].label.toLower(), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    FreshIds ids;
    QList<LaunchdJob> jobs;
    jobs.reserve(rows.size());
    for (const auto& [key, index] : order) {
        const JobTableRow& row = rows[index];
        LaunchdJob job;
        job.id = ids.next();
        job.label = row.label;
        job.pid = row.pid;
        job.lastExitStatus = row.lastExitStatus;
        if (const auto it = definitions.constFind(row.label); it != definitions.constEnd()) {
            job.plistPath = it->path;
            job.program = it->program;
            job.schedule = it->schedule;
        }
        job.domain = domainForLabel(job.label, job.plistPath);
        jobs.append(std::move(job));
    }
    return jobs;
}

} // namespace LaunchctlManager
