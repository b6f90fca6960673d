#pragma once

#include "JobSource.h"

// launchd's jobs through `launchctl`, where the tool exists: the live job table joined with the
// definition files, and the four launchctl actions.
class LaunchdSource : public JobSource {
    Q_OBJECT

public:
    using JobSource::JobSource;

    JobSourceKind kind() const override;
    // launchctl has no way to follow the job table.
    bool needsPolling() const override { return true; }
    Listing list() override;
    ActionResult perform(const Job& job, JobAction action) override;
};
