// The systemd source against a real user manager.
#include "SystemdSource.h"
#include "ExampleTimers.h"
#include "Printing.h"
#include "Stores.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

using SystemdTimers = ExampleTimersSuite;

TEST_F(SystemdTimers, ListsEveryTimerLoadedOrNot)
{
    SystemdSource source(JobScope::user, sandbox->bus());
    const QDateTime now = QDateTime::currentDateTime();
    const JobSource::Listing listing = source.list();
    ASSERT_TRUE(listing.present);
    ASSERT_FALSE(listing.error) << listing.error->toStdString();
    QHash<QString, Job> jobs;
    QStringList labels;
    for (const Job& job : listing.jobs) {
        jobs.insert(job.identity.label, job);
        labels.append(job.identity.label);
    }
    // The template is not a timer of its own; the manager's own shipped timer is one.
    EXPECT_EQ(labels, (QStringList{"cleanup.timer", "locked.timer", "poll.timer", "report.timer",
                                   "systemd-tmpfiles-clean.timer"}));
    EXPECT_TRUE(jobs.value("systemd-tmpfiles-clean.timer").shippedWithSystem);

    // How the screen words a timer, and its file, are met there; here, what it takes from the
    // manager.
    const Job report = jobs.value("report.timer");
    EXPECT_EQ(report.identity.scope, JobScope::user);
    ASSERT_TRUE(report.nextRun);
    EXPECT_GT(*report.nextRun, now);
    EXPECT_LE(*report.nextRun, now.addDays(3));

    // Named after the service it starts, which has another name; due 15 minutes after boot or
    // 2 hours after its last run, whichever the manager has.
    const Job poll = jobs.value("poll.timer");
    EXPECT_EQ(poll.name, "Mail poller");
    EXPECT_EQ(poll.schedule, "每隔 2 小时；开机后 15 分钟");
    EXPECT_EQ(poll.program, "/bin/sleep 300");
    ASSERT_TRUE(poll.nextRun);
    EXPECT_LE(*poll.nextRun, now.addSecs(2 * 3600 + 60));

    // Disabled and never loaded: read from its file all the same.
    const Job cleanup = jobs.value("cleanup.timer");
    EXPECT_EQ(cleanup.schedule, "周一 00:00");
    EXPECT_EQ(cleanup.program, R"(/bin/echo 'a b' '' 'it'\''s')");

    // Made on the command line, without a file of its own in the unit folders.
    const QString runtime = sandbox->busAddress().mid(10).chopped(4);
    const ProcessRunner::Result made = ProcessRunner::run(
        "/usr/bin/nsenter", {"-t", QString::number(sandbox->managerPid()), "-m", "-C",
                             "/usr/bin/env", "XDG_RUNTIME_DIR=" + runtime, "/usr/bin/systemd-run",
                             "--user", "--unit=adhoc", "--on-calendar=*:0/15", "/bin/true"});
    ASSERT_EQ(made.status, 0) << made.stdErr.toStdString();
    std::optional<Job> adhoc;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const Job& job : source.list().jobs) {
                if (job.identity.label == "adhoc.timer")
                    adhoc = job;
            }
            return adhoc.has_value();
        },
        10000));
    EXPECT_EQ(adhoc->schedule, "每隔 15 分钟");
    EXPECT_EQ(adhoc->name, "/bin/true");
    EXPECT_EQ(adhoc->actions, (QList<JobAction>{JobAction::start, JobAction::unload}));
}

TEST(SystemdTimersAbsent, NoBusMeansNoRowsAndNothingToSay)
{
    const QDBusConnection dead =
        QDBusConnection::connectToBus("unix:path=/nonexistent/kestrow/bus", "kestrow-dead-bus");
    ASSERT_FALSE(dead.isConnected());
    const JobSource::Listing listing = SystemdSource(JobScope::system, dead).list();
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
