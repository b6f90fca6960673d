// What a systemd timer looks like on the screen, from what its manager says about it.
#include "TimerJobs.h"
#include "Printing.h"
#include "TimerWords.h"

#include <gtest/gtest.h>

namespace {

TEST(TimerWords, CalendarExpressionsAsTheManagerNormalisesThem)
{
    const std::pair<const char*, const char*> cases[] = {
        {"*-*-* 03:15:00", "每天 03:15"},
        {"*-*-* 09,21:00:00", "每天 09:00；每天 21:00"},
        {"*-*-* *:05:00", "每小时第 5 分"},
        {"*-*-* *:00/5:00", "每隔 5 分钟"},
        {"*-*-* 00/2:00:00", "每隔 2 小时"},
        {"*-*-* *:*:00", "每分钟"},
        {"Mon..Fri *-*-* 09:00:00", "周一至周五 09:00"},
        {"Mon,Thu *-*-* 08,20:00:00", "周一、周四 08:00；周一、周四 20:00"},
        {"*-*-01 00:00:00", "每月 1 日 00:00"},
        {"*-12-25 08:00:00", "每年12月25日 08:00"},
        {"2027-01-01 00:00:00", "2027-01-01 00:00（仅一次）"},
        // Every other shape, exactly as given.
        {"*-*-* 03:15:30", nullptr},
        {"*-*-* 03:15:00 Europe/Berlin", nullptr},
        {"*-*-* *:00/7:00", nullptr},
        {"*-*-* 00/5:00:00", nullptr},
        {"*-*-* 09..17:00:00", nullptr},
        {"Mon..Wed,Fri *-*-* 09:00:00", nullptr},
        {"Mon *-*-* *:30:00", nullptr},
        {"Mon *-*-01 09:00:00", nullptr},
        {"*-02~03 00:00:00", nullptr},
        {"*-*-* 24:00:00", nullptr},
        {"2027-01-01 09,21:00:00", nullptr},
        {"", nullptr},
        {"*-*-*", nullptr},
    };
    for (const auto& [expression, words] : cases)
        EXPECT_EQ(TimerWords::calendar(QString::fromUtf8(expression)),
                  QString::fromUtf8(words ? words : expression))
            << expression;

    const quint64 second = 1000000;
    const std::pair<MonotonicTrigger, const char*> monotonic[] = {
        {{"OnUnitActiveUSec", 2 * 3600 * second}, "每隔 2 小时"},
        {{"OnUnitInactiveUSec", 86400 * second}, "每次结束后隔 1 天"},
        {{"OnBootUSec", 15 * 60 * second}, "开机后 15 分钟"},
        {{"OnStartupUSec", 3600 * second}, "启动后 1 小时"},
        {{"OnActiveUSec", 1500000}, "激活后 1.5 秒"},
        {{"OnBootUSec", 0}, "开机后 0 秒"},
    };
    for (const auto& [trigger, words] : monotonic)
        EXPECT_EQ(TimerWords::monotonic(trigger), QString::fromUtf8(words)) << words;

    TimerUnit timer;
    EXPECT_EQ(TimerWords::schedule(timer), std::nullopt);
    timer.monotonic = {{"OnBootUSec", 60 * second}};
    timer.calendar = {"*-*-* 03:15:00", "Mon *-*-* 10:00:00"};
    EXPECT_EQ(TimerWords::schedule(timer), "每天 03:15；周一 10:00；开机后 1 分钟");
}

TEST(TimerJobs, StatusNameAndProgramOfEachTimer)
{
    // A timer's state, and its service's (absent: it cannot be read): main pid, how its last
    // run ended (1: exited, 2: killed) and with what.
    struct Row {
        const char* label;
        const char* timerState;
        std::optional<std::tuple<quint32, qint32, qint32>> service;
        const char* name;
        const char* status;
    };
    const Row rows[] = {
        {"a.timer", "inactive", {{4242, 1, 3}}, "a", "运行中 (PID 4242)"},
        {"b.timer", "active", {{0, 1, 3}}, "Backup the photos", "已停止 (退出码 3)"},
        {"c.timer", "active", {{0, 2, 9}}, "Nightly report", "已停止 (退出码 -9)"},
        {"d.timer", "active", {{0, 1, 0}}, "d", "已停止 (退出码 0)"},
        {"e.timer", "inactive", {{0, 1, 1}}, "e", "未启用"},
        {"f.timer", "active", std::nullopt, "f", "已停止"},
    };
    TimerSnapshot snapshot;
    for (const Row& row : rows) {
        TimerUnit t;
        t.name = t.description = row.label;
        t.activeState = row.timerState;
        t.service = t.name.chopped(6) + ".service";
        t.calendar = {"*-*-* 03:15:00"};
        if (t.name == "c.timer")
            t.description = "Nightly report";
        if (row.service) {
            TimerService s;
            s.name = s.description = t.service;
            std::tie(s.mainPid, s.execMainCode, s.execMainStatus) = *row.service;
            if (s.name == "b.service") {
                s.description = "Backup the photos";
                s.execStart = {{"/bin/sh", "-c", "exit 3"}, {"/bin/echo", "a b", "", "it's"}};
            }
            snapshot.services.insert(s.name, s);
        }
        snapshot.timers.append(t);
    }
    TimerUnit noTrigger;
    noTrigger.name = "g.timer";
    noTrigger.activeState = "active";
    snapshot.timers.append(noTrigger);

    const QList<Job> jobs = TimerJobs::jobs(snapshot, JobScope::system, {});
    ASSERT_EQ(jobs.size(), 6) << "a timer without a trigger has no row";
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(jobs[i].identity,
                  (JobIdentity{JobSourceKind::systemd, JobScope::system, row.label}));
        EXPECT_EQ(jobs[i].name, QString::fromUtf8(row.name)) << row.label;
        EXPECT_EQ(jobs[i].statusText, QString::fromUtf8(row.status)) << row.label;
        EXPECT_EQ(jobs[i].domain, "系统 Timer");
    }
    EXPECT_EQ(jobs[0].pid, 4242);
    EXPECT_EQ(jobs[0].actions, (QList<JobAction>{JobAction::stop, JobAction::load}));
    EXPECT_EQ(jobs[1].actions, (QList<JobAction>{JobAction::start, JobAction::unload}));
    EXPECT_EQ(jobs[1].program, R"(/bin/sh -c 'exit 3' ; /bin/echo 'a b' '' 'it'\''s')");
    EXPECT_EQ(jobs[5].program, std::nullopt);
}

TEST(TimerJobs, NextElapseTakesTheEarlierClock)
{
    const quint64 minute = 60000000;
    // Wall clock 2026-12-07 10:00:00 UTC when the monotonic clock read one hour.
    const TimerJobs::Clocks clocks{1796637600000000ull, 60 * minute};
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1796637600000);
    TimerUnit t;
    EXPECT_EQ(TimerJobs::nextElapse(t, clocks), std::nullopt);
    t.nextElapseRealtime = std::numeric_limits<quint64>::max();
    EXPECT_EQ(TimerJobs::nextElapse(t, clocks), std::nullopt) << "the manager's infinity";
    t.nextElapseMonotonic = 75 * minute;
    EXPECT_EQ(TimerJobs::nextElapse(t, clocks), now.addSecs(15 * 60));
    t.nextElapseRealtime = clocks.realtime + 5 * minute;
    EXPECT_EQ(TimerJobs::nextElapse(t, clocks), now.addSecs(5 * 60));
    t.nextElapseRealtime = clocks.realtime + 20 * minute;
    EXPECT_EQ(TimerJobs::nextElapse(t, clocks), now.addSecs(15 * 60));
    t.nextElapseMonotonic = 59 * minute; // overdue
    EXPECT_EQ(TimerJobs::nextElapse(t, clocks), now.addSecs(-60));
}

} // namespace
