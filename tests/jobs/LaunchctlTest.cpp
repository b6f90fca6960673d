#include "JobsFixtures.h"
#include "LaunchctlManager.h"
#include "LaunchdSource.h"
#include "Printing.h"

using namespace jobs_test;
using namespace LaunchctlManager;
using Domain = LaunchdJob::Domain;

TEST(JobsListing, SourceGivesNeutralRecordsAndSaysWhenTheToolFails)
{
    LaunchdFolders folders;
    FakeLaunchctl launchctl;
    writePlist(folders.file(1, "sync.plist"),
               {{"Label", "com.x.sync"},
                {"Program", "/usr/bin/rsync"},
                {"StartCalendarInterval", QVariantMap{{"Hour", 3}, {"Minute", 15}}}});
    writePlist(folders.file(5, "p.plist"),
               {{"Label", "com.apple.periodic"}, {"StartInterval", 60}});
    launchctl.answer("list", 0,
                     "PID\tStatus\tLabel\n42\t0\tcom.apple.periodic\n-\t-9\tcom.x.sync\n"
                     "-\t0\tloaded.without.file\n");

    // The listing of launchctl and the files, as the contract has it.
    QList<LaunchdJob> expected{{{},
                                "com.apple.periodic",
                                42,
                                0,
                                Domain::systemDaemon,
                                folders.file(5, "p.plist"),
                                {},
                                "每隔 1 分钟"},
                               {{},
                                "com.x.sync",
                                {},
                                -9,
                                Domain::userAgent,
                                folders.file(1, "sync.plist"),
                                "/usr/bin/rsync",
                                "每天 03:15"},
                               {{}, "loaded.without.file", {}, 0, Domain::unknown, {}, {}, {}}};
    const QList<LaunchdJob> listed = list();
    for (qsizetype i = 0; i < expected.size() && i < listed.size(); ++i)
        expected[i].id = listed[i].id;
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(launchctl.calls(), QStringList{"[list]"});

    // The same jobs as the screen's records.
    LaunchdSource source;
    const QDateTime before = QDateTime::currentDateTime();
    const JobSource::Listing listing = source.list();
    ASSERT_TRUE(listing.present);
    EXPECT_FALSE(listing.error);
    ASSERT_EQ(listing.jobs.size(), 3);

    const Job& periodic = listing.jobs[0];
    EXPECT_EQ(periodic.identity,
              (JobIdentity{JobSourceKind::launchd, JobScope::user, "com.apple.periodic"}));
    EXPECT_EQ(periodic.statusText, "运行中 (PID 42)");
    EXPECT_EQ(periodic.nextRun, std::nullopt) << "an interval has no time of day";
    EXPECT_EQ(periodic.domain, "系统 Daemon");
    EXPECT_TRUE(periodic.shippedWithSystem);
    EXPECT_EQ(periodic.actions,
              (QList<JobAction>{JobAction::stop, JobAction::unload, JobAction::load}));

    const Job& sync = listing.jobs[1];
    EXPECT_EQ(sync.name, "sync");
    EXPECT_EQ(sync.statusText, "已停止 (退出码 -9)");
    EXPECT_EQ(sync.definitionPath, folders.file(1, "sync.plist"));
    EXPECT_FALSE(sync.shippedWithSystem);
    EXPECT_FALSE(sync.tracksLastRun);
    ASSERT_TRUE(sync.nextRun);
    EXPECT_EQ(sync.nextRun->time(), QTime(3, 15));
    EXPECT_GT(*sync.nextRun, before);
    EXPECT_LE(*sync.nextRun, before.addDays(1));

    const Job& orphan = listing.jobs[2];
    EXPECT_EQ(orphan.domain, "其他");
    EXPECT_EQ(orphan.actions, (QList<JobAction>{JobAction::start, JobAction::unload}));

    // A tool that fails is a source that failed, with the tool's reason or its status; to the
    // contract's listing it is no jobs.
    launchctl.answer("list", 5, {}, "launchd is not running\n");
    EXPECT_TRUE(list().isEmpty());
    EXPECT_EQ(source.list().error, "launchctl list：launchd is not running");
    launchctl.answer("list", 5);
    EXPECT_EQ(source.list().error, "launchctl list：退出码 5");

    // Where there is no launchctl, there is no launchd to list.
    Platform::testing::setLaunchctlPath(launchctl.dir.filePath("missing"));
    const JobSource::Listing absent = source.list();
    EXPECT_FALSE(absent.present);
    EXPECT_FALSE(absent.error);
}

TEST(JobsActions, ArgumentsFallbacksAndMessages)
{
    const QString uid = QString::number(Platform::realUserId());
    const QString service = "[gui/" + uid + "/com.x.job]";
    const QString path = "/Library/LaunchDaemons/j.plist";
    const LaunchdJob withPath{QUuid::createUuid(),  "com.x.job", 1,  0,
                              Domain::systemDaemon, path,        {}, {}};
    LaunchdJob withoutPath = withPath;
    withoutPath.plistPath = std::nullopt;
    const QString denied = "操作失败（可能需要管理员权限）。";
    const QStringList startCalls{"[kickstart]" + service, "[start][com.x.job]"};

    struct Case {
        ActionResult (*action)(const LaunchdJob&);
        bool hasPath;
        QString first, fallback; // sub-commands
        int firstStatus;
        QByteArray firstErr;
        int fallbackStatus;
        QByteArray fallbackErr;
        QStringList calls;
        ActionResult result;
    };
    // clang-format off
    const Case cases[] = {
        {start, true, "kickstart", "start", 0, "", 1, "", {startCalls[0]}, {true, ""}},
        {start, true, "kickstart", "start", 3, "no service\n", 1, "", startCalls, {false, "no service"}},
        {start, true, "kickstart", "start", 3, "", 1, "\t no job\r\n", startCalls, {false, "no job"}},
        {start, true, "kickstart", "start", 3, " \n\u3000", 1, "second", startCalls, {false, denied}},
        {start, true, "kickstart", "start", 3, "first", 0, "", startCalls, {true, ""}},
        {stop, true, "kill", "stop", 5, "", 1, "", {"[kill][SIGTERM]" + service, "[stop][com.x.job]"}, {false, denied}},
        {load, true, "bootstrap", "load", 5, "E: 5\n", 1, "", {"[bootstrap][gui/" + uid + "][" + path + "]", "[load][" + path + "]"}, {false, "E: 5"}},
        {load, false, "bootstrap", "load", 0, "", 0, "", {}, {false, "找不到该任务的 .plist 文件，无法加载。"}},
        {unload, true, "bootout", "unload", 5, "", 0, "", {"[bootout]" + service, "[unload][" + path + "]"}, {true, ""}},
        {unload, false, "bootout", "unload", 5, "", 0, "", {"[bootout]" + service}, {false, denied}},
        {unload, false, "bootout", "unload", 5, "failed: 5\n", 0, "", {"[bootout]" + service}, {false, "failed: 5"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        FakeLaunchctl fake;
        fake.answer(c.first, c.firstStatus, "on stdout", c.firstErr);
        fake.answer(c.fallback, c.fallbackStatus, "on stdout", c.fallbackErr);
        EXPECT_EQ(c.action(c.hasPath ? withPath : withoutPath), c.result)
            << c.calls.join(' ').toStdString();
        EXPECT_EQ(fake.calls(), c.calls);
    }
}

TEST(JobsActions, SourceActionsReachTheirSubCommands)
{
    FakeLaunchctl fake;
    fake.answer("bootstrap", 5, {}, "Bootstrap failed: 5\n");
    fake.answer("load", 1);
    Job job;
    job.identity = {JobSourceKind::launchd, JobScope::user, "com.x.job"};
    job.definitionPath = "/Users/dev/Library/LaunchAgents/j.plist";
    LaunchdSource source;
    EXPECT_EQ(source.perform(job, JobAction::start), (JobSource::ActionResult{true, {}}));
    EXPECT_EQ(source.perform(job, JobAction::stop), (JobSource::ActionResult{true, {}}));
    EXPECT_EQ(source.perform(job, JobAction::unload), (JobSource::ActionResult{true, {}}));
    EXPECT_EQ(source.perform(job, JobAction::load),
              (JobSource::ActionResult{false, "Bootstrap failed: 5"}));
    const QString service = "/com.x.job]";
    const QStringList calls = fake.calls();
    ASSERT_EQ(calls.size(), 5);
    EXPECT_TRUE(calls[0].startsWith("[kickstart]") && calls[0].endsWith(service));
    EXPECT_TRUE(calls[1].startsWith("[kill][SIGTERM]") && calls[1].endsWith(service));
    EXPECT_TRUE(calls[2].startsWith("[bootout]") && calls[2].endsWith(service));
    EXPECT_TRUE(calls[3].startsWith("[bootstrap]"));
    EXPECT_EQ(calls[4], "[load][/Users/dev/Library/LaunchAgents/j.plist]");
}

TEST(JobsActions, MissingLaunchctl)
{
    Platform::testing::setLaunchctlPath("/nonexistent/launchctl");
    EXPECT_TRUE(list().isEmpty());
    const QString prefix = "无法启动进程 /nonexistent/launchctl: ";
    const LaunchdJob job{QUuid::createUuid(), "a", {}, 0, Domain::unknown, "/a.plist", {}, {}};
    for (const auto action : {start, stop, load, unload}) {
        const ActionResult result = action(job);
        EXPECT_FALSE(result.success);
        EXPECT_TRUE(result.message.startsWith(prefix) && result.message.size() > prefix.size())
            << result.message.toStdString();
    }
    Platform::testing::setLaunchctlPath(std::nullopt);
}
