#pragma once

#include "Job.h"
#include "SystemdUnits.h"

#include <QList>

// A manager's timers as the rows of the scheduled-jobs screen.
namespace TimerJobs {

// The two clocks the manager's elapse times are on, read at one moment, in microseconds.
struct Clocks {
    quint64 realtime = 0;
    quint64 monotonic = 0;

    static Clocks now();
};

// One job per timer that has a trigger, sorted by unit name.
QList<Job> jobs(const TimerSnapshot& snapshot, JobScope scope, const Clocks& clocks);

// When the timer elapses next, in local time: the earlier of its calendar and its monotonic
// elapse, the latter moved onto the wall clock with `clocks`.
std::optional<QDateTime> nextElapse(const TimerUnit& timer, const Clocks& clocks);

} // namespace TimerJobs
