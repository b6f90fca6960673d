#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What one systemd manager says about its timers and the services they start, as read from the
// bus, before it is put into words.

struct MonotonicTrigger {
    // "OnActiveUSec", "OnBootUSec", "OnStartupUSec", "OnUnitActiveUSec", "OnUnitInactiveUSec".
    QString base;
    quint64 offsetUSec = 0;

    bool operator==(const MonotonicTrigger&) const = default;
};

struct TimerUnit {
    QString name;
    QString description;
    QString activeState;
    // The unit file, when there is one.
    std::optional<QString> fragmentPath;
    // The service the timer starts.
    QString service;
    // OnCalendar expressions as the manager normalised them, in the order they were written.
    QStringList calendar;
    QList<MonotonicTrigger> monotonic;
    // Microseconds on CLOCK_REALTIME and CLOCK_MONOTONIC; 0 or the maximum when there is none.
    quint64 nextElapseRealtime = 0;
    quint64 nextElapseMonotonic = 0;
    // Microseconds on CLOCK_REALTIME; 0 when it never elapsed.
    quint64 lastTrigger = 0;

    bool operator==(const TimerUnit&) const = default;
};

// The service a timer starts, as far as its row needs it.
struct TimerService {
    QString name;
    QString description;
    quint32 mainPid = 0;
    // How the last run's main process ended: ExecMainCode is CLD_EXITED (1) with the exit status
    // in ExecMainStatus, or CLD_KILLED (2) or CLD_DUMPED (3) with the signal number; 0 before
    // any run has ended.
    qint32 execMainCode = 0;
    qint32 execMainStatus = 0;
    // ExecStart: one argument vector per line.
    QList<QStringList> execStart;

    bool operator==(const TimerService&) const = default;
};

// A manager's timers, and the services they start by name.
struct TimerSnapshot {
    QList<TimerUnit> timers;
    QHash<QString, TimerService> services;
};
