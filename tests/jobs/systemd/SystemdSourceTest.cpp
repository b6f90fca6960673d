// The systemd source against a real user manager.
#include "SystemdSource.h"
#include "ExampleTimers.h"
#include "Printing.h"
#include "Stores.h"
#include "TestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

const Job* find(const QList<Job>& jobs, const QString& label)
{
    for (const Job& job : jobs) {
        if (job.identity.label == label)
            return &job;
    }
    return nullptr;
}

class SystemdTimers : public ExampleTimersSuite {
protected:
    void SetUp() override
    {
        ExampleTimersSuite::SetUp();
        if (!IsSkipped() && !HasFatalFailure())
            source = std::make_unique<SystemdSource>(JobScope::user, sandbox->bus());
    }

    // Lists until the job satisfies `done` (the manager acts after it has answered).
    Job waitFor(const QString& label, const std::function<bool(const Job&)>& done)
    {
        Job last;
        [[maybe_unused]] const bool reached = QTest::qWaitFor(
            [&] {
                const QList<Job> jobs = source->list().jobs;
                const Job* job = find(jobs, label);
                if (job)
                    last = *job;
                return job && done(*job);
            },
            10000);
        return last;
    }

    std::unique_ptr<SystemdSource> source;
};

TEST_F(SystemdTimers, ListsEveryTimerLoadedOrNot)
{
    const QDateTime now = QDateTime::currentDateTime();
    const JobSource::Listing listing = source->list();
    ASSERT_TRUE(listing.present);
    ASSERT_FALSE(listing.error) << listing.error->toStdString();
    QStringList labels;
    for (const Job& job : listing.jobs)
        labels.append(job.identity.label);
    // The template is not a timer of its own; the manager's own shipped timer is one.
    EXPECT_EQ(labels, (QStringList{"cleanup.timer", "locked.timer", "poll.timer", "report.timer",
                                   "systemd-tmpfiles-clean.timer"}));

    const Job* report = find(listing.jobs, "report.timer");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->identity.scope, JobScope::user);
    EXPECT_EQ(report->name, "Nightly report");
    EXPECT_EQ(report->statusText, "已停止");
    EXPECT_EQ(report->schedule, "周一至周五 09:00；每天 21:00");
    ASSERT_TRUE(report->nextRun);
    EXPECT_TRUE(report->nextRun->time() == QTime(9, 0) || report->nextRun->time() == QTime(21, 0));
    EXPECT_GT(*report->nextRun, now);
    EXPECT_LE(*report->nextRun, now.addDays(3));
    EXPECT_TRUE(report->tracksLastRun);
    EXPECT_FALSE(report->lastRun);
    EXPECT_EQ(report->program, "/bin/sh -c 'exit 3'");
    EXPECT_EQ(report->domain, "用户 Timer");
    EXPECT_EQ(report->definitionPath, sandbox->unitDirectory() + "/report.timer");
    EXPECT_FALSE(report->shippedWithSystem);
    EXPECT_EQ(report->actions, (QList<JobAction>{JobAction::start, JobAction::unload}));

    // Named after the service it starts, which has another name; due 15 minutes after boot or
    // 2 hours after its last run, whichever the manager has.
    const Job* poll = find(listing.jobs, "poll.timer");
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->name, "Mail poller");
    EXPECT_EQ(poll->schedule, "每隔 2 小时；开机后 15 分钟");
    EXPECT_EQ(poll->program, "/bin/sleep 300");
    ASSERT_TRUE(poll->nextRun);
    EXPECT_LE(*poll->nextRun, now.addSecs(2 * 3600 + 60));

    // Disabled and never loaded: read from its file all the same.
    const Job* cleanup = find(listing.jobs, "cleanup.timer");
    ASSERT_TRUE(cleanup);
    EXPECT_EQ(cleanup->name, "cleanup");
    EXPECT_EQ(cleanup->statusText, "未启用");
    EXPECT_EQ(cleanup->schedule, "周一 00:00");
    EXPECT_FALSE(cleanup->nextRun);
    EXPECT_EQ(cleanup->program, R"(/bin/echo 'a b' '' 'it'\''s')");
    EXPECT_EQ(cleanup->actions, (QList<JobAction>{JobAction::start, JobAction::load}));

    const Job* shipped = find(listing.jobs, "systemd-tmpfiles-clean.timer");
    ASSERT_TRUE(shipped);
    EXPECT_TRUE(shipped->shippedWithSystem);

    // Made on the command line, without a file of its own in the unit folders.
    const QString runtime = sandbox->busAddress().mid(10).chopped(4);
    const ProcessRunner::Result made = ProcessRunner::run(
        "/usr/bin/nsenter", {"-t", QString::number(sandbox->managerPid()), "-m", "-C",
                             "/usr/bin/env", "XDG_RUNTIME_DIR=" + runtime, "/usr/bin/systemd-run",
                             "--user", "--unit=adhoc", "--on-calendar=*:0/15", "/bin/true"});
    ASSERT_EQ(made.status, 0) << made.stdErr.toStdString();
    const Job adhoc = waitFor("adhoc.timer", [](const Job&) { return true; });
    EXPECT_EQ(adhoc.schedule, "每隔 15 分钟");
    EXPECT_EQ(adhoc.name, "/bin/true");
    EXPECT_EQ(adhoc.actions, (QList<JobAction>{JobAction::start, JobAction::unload}));

    // The machine's manager, where it is the one asked, is the system's.
    SystemdSource system(JobScope::system, sandbox->bus());
    const JobSource::Listing systemListing = system.list();
    ASSERT_FALSE(systemListing.jobs.isEmpty());
    EXPECT_EQ(systemListing.jobs.first().domain, "系统 Timer");
    EXPECT_EQ(systemListing.jobs.first().identity.scope, JobScope::system);
}

TEST(SystemdTimersAbsent, NoBusMeansNoRowsAndNothingToSay)
{
    const QDBusConnection dead =
        QDBusConnection::connectToBus("unix:path=/nonexistent/kestrow/bus", "kestrow-dead-bus");
    ASSERT_FALSE(dead.isConnected());
    SystemdSource source(JobScope::system, dead);
    const JobSource::Listing listing = source.list();
    EXPECT_FALSE(listing.present);
    EXPECT_FALSE(listing.error);
    EXPECT_TRUE(listing.jobs.isEmpty());
}

// The manager stops while the screen is open: its rows stay, and the banner says why without a
// click.
TEST(SystemdTimersGone, ManagerThatGoesAwayKeepsItsRowsAndSaysWhy)
{
    if (const auto reason = SystemdSandbox::unavailableReason())
        GTEST_SKIP() << reason->toStdString();
    SystemdSandbox sandbox;
    ASSERT_TRUE(sandbox.isRunning()) << sandbox.error().toStdString();
    writeExampleTimers(sandbox);
    JobSources::Sources sources;
    sources.push_back(std::make_unique<SystemdSource>(JobScope::user, sandbox.bus()));
    JobsStore store(std::move(sources));
    store.refresh();
    ASSERT_TRUE(waitUntilIdle(store));
    const qsizetype rows = store.jobs().size();
    ASSERT_GE(rows, 4);

    sandbox.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.lastError().has_value(); }, 5000));
    EXPECT_TRUE(store.lastError()->startsWith("用户 Timer：")) << store.lastError()->toStdString();
    EXPECT_GT(store.lastError()->size(), QStringLiteral("用户 Timer：").size());
    EXPECT_EQ(store.jobs().size(), rows);
    EXPECT_EQ(store.presentSources(), QList<JobSourceKind>{JobSourceKind::systemd});
}

} // namespace
