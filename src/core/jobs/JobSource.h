#pragma once

#include "Job.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// One scheduler behind the scheduled-jobs screen. The store owns its sources, lists them on
// worker threads and runs their actions there too, so both calls block and must be safe to make
// from any thread, also at the same time.
class JobSource : public QObject {
    Q_OBJECT

public:
    struct Listing {
        // False when the scheduler does not exist here (no tool, no bus, no manager): the source
        // then adds nothing, and nothing is reported.
        bool present = true;
        QList<Job> jobs;
        // Set when the scheduler exists but could not be listed: the store keeps this source's
        // last rows and shows the reason.
        std::optional<QString> error;
    };

    struct ActionResult {
        bool success = false;
        // On failure, the reason for the banner, which puts "[label] " before it.
        QString message;

        bool operator==(const ActionResult&) const = default;
    };

    using QObject::QObject;

    virtual JobSourceKind kind() const = 0;
    // True for a scheduler that cannot tell of its changes (no change signals): a screen that
    // shows its jobs lists it again every few seconds instead.
    virtual bool needsPolling() const { return false; }
    virtual Listing list() = 0;
    virtual ActionResult perform(const Job& job, JobAction action) = 0;

signals:
    // Something this source lists has changed by itself (a run began or ended, a job was enabled
    // from a terminal): the store lists again. May be emitted from any thread.
    void changed();
};
