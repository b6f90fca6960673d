#pragma once

#include "Job.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The 下次运行 column: when a job runs next, read against today.
namespace NextRunText {

// "今天 03:15", "明天 03:15", any other day "12-09 03:15"; "—" when it does not run again.
QString cell(const std::optional<QDateTime>& nextRun, const QDateTime& now);

// The next run's full date and time, and when the job last ran where its scheduler tells.
QString tooltip(const Job& job);

} // namespace NextRunText
