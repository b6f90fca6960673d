#pragma once

#include "CronRuns.h"
#include "JobSource.h"

#include <memory>

// cron as a source of scheduled jobs: the user's own crontab (through `crontab -l`), the system
// table and every table in the system's folder of further tables, one job per entry. The user's
// own entries can be run now and stopped; the system's can only be looked at.
class CronSource : public JobSource {
    Q_OBJECT

public:
    // Shares the program's runs, so that a run started from an earlier source still shows.
    explicit CronSource(QObject* parent = nullptr);
    explicit CronSource(std::shared_ptr<CronRuns> runs, QObject* parent = nullptr);

    JobSourceKind kind() const override;
    Listing list() override;
    ActionResult perform(const Job& job, JobAction action) override;

private:
    std::shared_ptr<CronRuns> m_runs;
};
