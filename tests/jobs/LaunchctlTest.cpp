#include "JobsFixtures.h"
#include "LaunchctlManager.h"

using namespace jobs_test;
using namespace LaunchctlManager;
using Domain = LaunchdJob::Domain;

TEST(JobsListing, JoinsTheToolsTableWithTheDefinitions)
{
    LaunchdFolders folders;
    FakeLaunchctl launchctl;
    writePlist(folders.file(1, "sync.plist"),
               {{"Label", "com.x.sync"},
                {"ProgramArguments", QVariantList{"/usr/bin/rsync", "-a"}},
                {"StartCalendarInterval", QVariantMap{{"Hour", 3}, {"Minute", 15}}}},
               Format::binary);
    writePlist(folders.file(3, "com.x.daemon.plist"), {{"StartInterval", 3600}});
    launchctl.answer(
        "list", 0,
        "PID\tStatus\tLabel\n-\t0\tcom.x.sync\n88\t-15\tcom.x.daemon\n-\t1\tAnother.job\n",
        "ignored on success");

    const QList<LaunchdJob> jobs = list();
    EXPECT_EQ(launchctl.calls(), QStringList{"[list]"});
    // clang-format off
    QList<LaunchdJob> expected{
        {{}, "Another.job", {}, 1, Domain::unknown, {}, {}, {}},
        {{}, "com.x.daemon", 88, -15, Domain::systemDaemon, folders.file(3, "com.x.daemon.plist"), {}, "每隔 1 小时"},
        {{}, "com.x.sync", {}, 0, Domain::userAgent, folders.file(1, "sync.plist"), "/usr/bin/rsync -a", "每天 03:15"}};
    // clang-format on
    for (qsizetype i = 0; i < expected.size() && i < jobs.size(); ++i)
        expected[i].id = jobs[i].id;
    EXPECT_EQ(jobs, expected);

    // A failing tool yields nothing, whatever it printed.
    launchctl.answer("list", 1, "PID\tStatus\tLabel\n-\t0\tcom.x.sync\n");
    EXPECT_TRUE(list().isEmpty());
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
