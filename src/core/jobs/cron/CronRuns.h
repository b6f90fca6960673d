#pragma once

#include "CronCommand.h"
#include "JobSource.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// The runs of cron entries started from here ("run now"). Each runs its command under /bin/sh in a
// session and process group of its own, with output discarded, and is remembered by a key of the
// caller's choosing until the program ends, so that any later listing can show it and stop it. A
// run outlives the source that started it: it ends by itself, or when stopped.
class CronRuns : public QObject, public std::enable_shared_from_this<CronRuns> {
    Q_OBJECT

public:
    struct Run {
        qint32 pid = 0;
        // Set once the run has ended: its exit code, or minus the signal that ended it.
        std::optional<qint32> exitCode;

        bool operator==(const Run&) const = default;
    };

    // The runs of the whole program, which every cron source shares.
    static std::shared_ptr<CronRuns> shared();

    // Starts the command now, in `workingDirectory`, with the caller's environment plus
    // `variables`, unless a run under this key is still going. Does not wait for the run.
    JobSource::ActionResult start(const QString& key, const CronCommand& command,
                                  const QList<std::pair<QString, QString>>& variables,
                                  const QString& workingDirectory);

    // Ends the run under this key: SIGTERM to its process group, SIGKILL to the group if it is
    // still there after a grace period. Returns when the run has ended; a run that has already
    // ended is nothing to stop.
    JobSource::ActionResult stop(const QString& key);

    // The latest run under this key, going or ended.
    std::optional<Run> run(const QString& key) const;

    void setStopGraceForTesting(std::chrono::milliseconds grace);

signals:
    // A run has ended; emitted on the thread that waited for it.
    void runEnded(const QString& key);

private:
    void watch(const QString& key, qint32 pid);
    bool endedLocked(const QString& key, qint32 pid) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    QHash<QString, Run> m_runs;
    std::chrono::milliseconds m_stopGrace{5000};
};
