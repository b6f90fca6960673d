#include "JobsFixtures.h"
#include "LaunchctlManager.h"
#include "LaunchdSource.h"
#include "Printing.h"

using namespace jobs_test;

// What the screen shows of a listing is met there; here, the rows it hides and the failures.
TEST(JobsListing, SourceGivesNeutralRecordsAndSaysWhenTheToolFails)
{
    FakeLaunchd launchctl;
    writePlist(launchctl.file(4, "p.plist"),
               {{"Label", "com.apple.periodic"}, {"StartInterval", 60}});
    launchctl.setTable({{"42", "0", "com.apple.periodic"}, {"-", "0", "loaded.without.file"}});

    LaunchdSource source;
    const JobSource::Listing listing = source.list();
    EXPECT_EQ(launchctl.calls(), QStringList{"list"});
    ASSERT_TRUE(listing.present);
    EXPECT_FALSE(listing.error);
    ASSERT_EQ(listing.jobs.size(), 2);

    const Job& periodic = listing.jobs[0];
    EXPECT_EQ(periodic.identity,
              (JobIdentity{JobSourceKind::launchd, JobScope::user, "com.apple.periodic"}));
    EXPECT_EQ(periodic.schedule, "每隔 1 分钟");
    EXPECT_EQ(periodic.nextRun, std::nullopt) << "an interval has no time of day";
    EXPECT_EQ(periodic.domain, "系统 Daemon");
    EXPECT_TRUE(periodic.shippedWithSystem);
    EXPECT_FALSE(periodic.tracksLastRun);
    EXPECT_EQ(periodic.actions,
              (QList<JobAction>{JobAction::stop, JobAction::unload, JobAction::load}));
    const Job& orphan = listing.jobs[1];
    EXPECT_EQ(orphan.domain, "其他");
    EXPECT_EQ(orphan.schedule, std::nullopt);
    EXPECT_EQ(orphan.definitionPath, std::nullopt);
    EXPECT_EQ(orphan.actions, (QList<JobAction>{JobAction::start, JobAction::unload}));

    // A tool that fails is a source that failed, with the tool's reason or its status; to the
    // contract's listing it is no jobs.
    launchctl.answer("list", 5, "launchd is not running\n");
    EXPECT_TRUE(LaunchctlManager::list().isEmpty());
    EXPECT_EQ(source.list().error, "launchctl list：launchd is not running");
    launchctl.answer("list", 5);
    EXPECT_EQ(source.list().error, "launchctl list：退出码 5");

    // Where there is no launchctl, there is no launchd to list.
    Platform::testing::setLaunchctlPath(launchctl.folders()[0] + "/launchctl");
    const JobSource::Listing absent = source.list();
    EXPECT_FALSE(absent.present);
    EXPECT_FALSE(absent.error);
}

// Each action tries the modern sub-command, then the legacy one; the message is the first
// non-blank error output, or a generic one.
TEST(JobsActions, SubCommandsFallbacksAndMessages)
{
    const QString uid = QString::number(Platform::realUserId());
    const QString service = " gui/" + uid + "/com.x.job";
    const QString path = "/Library/LaunchDaemons/j.plist";
    const QString denied = "操作失败（可能需要管理员权限）。";
    const QStringList startCalls{"kickstart" + service, "start com.x.job"};

    struct Case {
        JobAction action;
        bool hasPath;
        QString first, fallback; // sub-commands
        int firstStatus;
        QByteArray firstErr;
        int fallbackStatus;
        QByteArray fallbackErr;
        QStringList calls;
        JobSource::ActionResult result;
    };
    using enum JobAction;
    // clang-format off
    const Case cases[] = {
        {start, true, "kickstart", "start", 0, "", 1, "", {startCalls[0]}, {true, ""}},
        {start, true, "kickstart", "start", 3, "no service\n", 1, "", startCalls, {false, "no service"}},
        {start, true, "kickstart", "start", 3, "", 1, "\t no job\r\n", startCalls, {false, "no job"}},
        {start, true, "kickstart", "start", 3, " \n\u3000", 1, "second", startCalls, {false, denied}},
        {start, true, "kickstart", "start", 3, "first", 0, "", startCalls, {true, ""}},
        {stop, true, "kill", "stop", 5, "", 1, "", {"kill SIGTERM" + service, "stop com.x.job"}, {false, denied}},
        {load, true, "bootstrap", "load", 5, "E: 5\n", 1, "", {"bootstrap gui/" + uid + " " + path, "load " + path}, {false, "E: 5"}},
        {load, false, "bootstrap", "load", 0, "", 0, "", {}, {false, "找不到该任务的 .plist 文件，无法加载。"}},
        {unload, true, "bootout", "unload", 5, "", 0, "", {"bootout" + service, "unload " + path}, {true, ""}},
        {unload, false, "bootout", "unload", 5, "failed: 5\n", 0, "", {"bootout" + service}, {false, "failed: 5"}},
    };
    // clang-format on
    LaunchdSource source;
    Job job;
    job.identity = {JobSourceKind::launchd, JobScope::user, "com.x.job"};
    for (const Case& c : cases) {
        FakeLaunchd fake;
        fake.answer(c.first, c.firstStatus, c.firstErr);
        fake.answer(c.fallback, c.fallbackStatus, c.fallbackErr);
        job.definitionPath = c.hasPath ? std::optional(path) : std::nullopt;
        EXPECT_EQ(source.perform(job, c.action), c.result) << c.calls.join(' ').toStdString();
        EXPECT_EQ(fake.calls(), c.calls);
    }

    // A tool that cannot be started is a failure that says why, never a success.
    Platform::testing::setLaunchctlPath("/nonexistent/launchctl");
    job.definitionPath = path;
    const QString prefix = "无法启动进程 /nonexistent/launchctl: ";
    for (const JobAction action : {start, stop, load, unload}) {
        const JobSource::ActionResult result = source.perform(job, action);
        EXPECT_FALSE(result.success);
        EXPECT_TRUE(result.message.startsWith(prefix) && result.message.size() > prefix.size())
            << result.message.toStdString();
    }
    Platform::testing::setLaunchctlPath(std::nullopt);
}
