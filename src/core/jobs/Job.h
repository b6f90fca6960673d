#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// The schedulers whose jobs the scheduled-jobs screen lists, one source each.
enum class JobSourceKind { launchd, systemd, cron };

// Whose scheduler a job belongs to: the user's own or the machine's.
enum class JobScope { user, system };

// What stays the same about a job from one listing to the next: the screen keys its rows on it,
// so that a selection survives a reload.
struct JobIdentity {
    JobSourceKind source = JobSourceKind::launchd;
    JobScope scope = JobScope::user;
    // launchd: the job's label; systemd: the timer's unit name; cron: where the entry is written.
    QString label;

    bool operator==(const JobIdentity&) const = default;
};

size_t qHash(const JobIdentity& identity, size_t seed = 0);

// What the user can ask of a job; each is a button of its row.
enum class JobAction { start, stop, load, unload };

// One scheduled job of any scheduler, as the scheduled-jobs screen shows it. Sources fill in
// every text; the screen words only its own tooltips.
struct Job {
    // Fresh for every listing, like every record of the program; rows are matched by `identity`.
    QUuid id;
    JobIdentity identity;
    // The first line of the name cell (friendly name, description or comment); the second line
    // is identity.label.
    QString name;
    // The running process: the job counts as running exactly when it is present.
    std::optional<qint32> pid;
    // The status column's text, e.g. "运行中 (PID 12)", "已停止 (退出码 3)", "已停止", "未启用".
    QString statusText;
    // The schedule in words; jobs without one are not listed.
    std::optional<QString> schedule;
    // When the job runs next, and when it last ran.
    std::optional<QDateTime> nextRun;
    std::optional<QDateTime> lastRun;
    // Whether the scheduler tells when a job last ran at all; without it, an absent lastRun
    // means "unknown", not "never".
    bool tracksLastRun = false;
    // The program line, as one text.
    std::optional<QString> program;
    // The domain column's text ("用户 Agent", "系统 Timer", "用户 cron", ...) and its tooltip.
    QString domain;
    std::optional<QString> domainTooltip;
    // The file that defines the job, for "open" and "reveal".
    std::optional<QString> definitionPath;
    // Shipped with the operating system rather than written by the user or an installed program.
    bool shippedWithSystem = false;
    // The actions the row offers, in the order of its buttons.
    QList<JobAction> actions;

    bool operator==(const Job&) const = default;
};
