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
        {"*-*-* *:30:00", "每小时第 30 分"},
        {"*-*-* *:05:00", "每小时第 5 分"},
        {"*-*-* *:00/5:00", "每隔 5 分钟"},
        {"*-*-* 00/2:00:00", "每隔 2 小时"},
        {"*-*-* *:*:00", "每分钟"},
        {"Mon *-*-* 10:00:00", "周一 10:00"},
        {"Mon..Fri *-*-* 09:00:00", "周一至周五 09:00"},
        {"Sat,Sun *-*-* 10:30:00", "周六、周日 10:30"},
        {"Mon,Thu *-*-* 08,20:00:00", "周一、周四 08:00；周一、周四 20:00"},
        {"*-*-01 00:00:00", "每月 1 日 00:00"},
        {"*-12-25 08:00:00", "每年12月25日 08:00"},
        {"2027-01-01 00:00:00", "2027-01-01 00:00（仅一次）"},
        // Every other shape, exactly as given.
        {"*-*-* 03:15:30", "*-*-* 03:15:30"},
        {"*-*-* 03:15:00 Europe/Berlin", "*-*-* 03:15:00 Europe/Berlin"},
        {"*-*-* *:00/7:00", "*-*-* *:00/7:00"},
        {"*-*-* 00/5:00:00", "*-*-* 00/5:00:00"},
        {"*-*-* 09..17:00:00", "*-*-* 09..17:00:00"},
        {"Mon..Wed,Fri *-*-* 09:00:00", "Mon..Wed,Fri *-*-* 09:00:00"},
        {"Mon *-*-* *:30:00", "Mon *-*-* *:30:00"},
        {"Mon *-*-01 09:00:00", "Mon *-*-01 09:00:00"},
        {"*-02~03 00:00:00", "*-02~03 00:00:00"},
        {"*-*-* 24:00:00", "*-*-* 24:00:00"},
        {"2027-01-01 09,21:00:00", "2027-01-01 09,21:00:00"},
        {"", ""},
        {"*-*-*", "*-*-*"},
    };
    for (const auto& [expression, words] : cases)
        EXPECT_EQ(TimerWords::calendar(QString::fromUtf8(expression)), QString::fromUtf8(words))
            << expression;
}

TEST(TimerWords, MonotonicTriggersAndTheWholeSchedule)
{
    const quint64 second = 1000000;
    const std::pair<MonotonicTrigger, const char*> cases[] = {
        {{"OnUnitActiveUSec", 2 * 3600 * second}, "每隔 2 小时"},
        {{"OnUnitInactiveUSec", 86400 * second}, "每次结束后隔 1 天"},
        {{"OnBootUSec", 15 * 60 * second}, "开机后 15 分钟"},
        {{"OnStartupUSec", 3600 * second}, "启动后 1 小时"},
        {{"OnActiveUSec", 30 * second}, "激活后 30 秒"},
        {{"OnActiveUSec", 1500000}, "激活后 1.5 秒"},
        {{"OnBootUSec", 0}, "开机后 0 秒"},
    };
    for (const auto& [trigger, words] : cases)
        EXPECT_EQ(TimerWords::monotonic(trigger), QString::fromUtf8(words)) << words;

    TimerUnit timer;
    EXPECT_EQ(TimerWords::schedule(timer), std::nullopt);
    timer.monotonic = {{"OnBootUSec", 60 * second}};
    timer.calendar = {"*-*-* 03:15:00", "Mon *-*-* 10:00:00"};
    EXPECT_EQ(TimerWords::schedule(timer), "每天 03:15；周一 10:00；开机后 1 分钟");
}

TimerUnit timer(const QString& name)
{
    TimerUnit t;
    t.name = name;
    t.description = name;
    t.activeState = "active";
    t.service = name.chopped(6) + ".service";
    t.calendar = {"*-*-* 03:15:00"};
    return t;
}

TimerService service(const QString& name)
{
    TimerService s;
    s.name = name;
    s.description = name;
    return s;
}

TEST(TimerJobs, StatusNameAndProgramOfEachTimer)
{
    TimerSnapshot snapshot;
    const auto add = [&](TimerUnit t, std::optional<TimerService> s) {
        if (s)
            snapshot.services.insert(s->name, *s);
        snapshot.timers.append(t);
    };
    TimerService running = service("a.service");
    running.mainPid = 4242;
    running.execMainCode = 1;
    running.execMainStatus = 3;
    TimerUnit stoppedTimer = timer("a.timer");
    stoppedTimer.activeState = "inactive";
    add(stoppedTimer, running); // running wins over a timer that is not active

    TimerService failed = service("b.service");
    failed.execMainCode = 1;
    failed.execMainStatus = 3;
    failed.description = "Backup the photos";
    failed.execStart = {{"/bin/sh", "-c", "exit 3"}, {"/bin/echo", "a b", "", "it's"}};
    add(timer("b.timer"), failed);

    TimerService killed = service("c.service");
    killed.execMainCode = 2;
    killed.execMainStatus = 9;
    TimerUnit described = timer("c.timer");
    described.description = "Nightly report";
    add(described, killed);

    TimerService clean = service("d.service");
    clean.execMainCode = 1;
    add(timer("d.timer"), clean);

    TimerUnit inactive = timer("e.timer");
    inactive.activeState = "inactive";
    TimerService ranBefore = service("e.service");
    ranBefore.execMainCode = 1;
    ranBefore.execMainStatus = 1;
    add(inactive, ranBefore);

    add(timer("f.timer"), std::nullopt); // its service cannot be read
    TimerUnit noTrigger = timer("g.timer");
    noTrigger.calendar.clear();
    add(noTrigger, service("g.service"));

    const QList<Job> jobs = TimerJobs::jobs(snapshot, JobScope::system, {});
    ASSERT_EQ(jobs.size(), 6) << "a timer without a trigger has no row";
    const std::tuple<const char*, const char*, const char*> expected[] = {
        {"a.timer", "a", "运行中 (PID 4242)"},
        {"b.timer", "Backup the photos", "已停止 (退出码 3)"},
        {"c.timer", "Nightly report", "已停止 (退出码 -9)"},
        {"d.timer", "d", "已停止 (退出码 0)"},
        {"e.timer", "e", "未启用"},
        {"f.timer", "f", "已停止"},
    };
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const auto& [label, name, status] = expected[i];
        EXPECT_EQ(jobs[i].identity, (JobIdentity{JobSourceKind::systemd, JobScope::system, label}));
        EXPECT_EQ(jobs[i].name, QString::fromUtf8(name)) << label;
        EXPECT_EQ(jobs[i].statusText, QString::fromUtf8(status)) << label;
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
    TimerUnit t = timer("t.timer");
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
