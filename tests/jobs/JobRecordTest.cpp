#include "LaunchctlParsing.h"

#include <gtest/gtest.h>

using namespace LaunchctlManager;
using Domain = LaunchdJob::Domain;

TEST(JobsRecord, DerivedTexts)
{
    const auto job = [](const QString& label, std::optional<qint32> pid = {}, qint32 status = 0) {
        return LaunchdJob{QUuid::createUuid(), label, pid, status, Domain::unknown, {}, {}, {}};
    };
    EXPECT_EQ(job("a", 321, 7).statusText(), "运行中 (PID 321)");
    EXPECT_EQ(job("a", {}, -9).statusText(), "已停止 (退出码 -9)");
    EXPECT_EQ(job("a", {}, 0).statusText(), "已停止");

    // clang-format off
    const QStringList labelsAndNames{
        "com.example.sync-agent", "sync agent", "org.project.backup_job.daily", "backup job.daily",
        "local.dev.redis", "local.dev.redis", "com.acme", "com.acme", "io.x", "io.x",
        "com.foo..bar-baz", "bar baz", "my_local_job", "my local job", "Com.Acme.tool", "Com.Acme.tool"};
    // clang-format on
    for (qsizetype i = 0; i < labelsAndNames.size(); i += 2)
        EXPECT_EQ(job(labelsAndNames[i]).friendlyName(), labelsAndNames[i + 1]);

    const QStringList names{"用户 Agent", "全局 Agent", "系统 Daemon", "其他"};
    for (qsizetype i = 0; i < names.size(); ++i)
        EXPECT_EQ(domainFromRawValue(names[i]), allDomains().value(i)) << i;
    for (const char* other : {"其它", "unknown", "用户 agent"})
        EXPECT_EQ(domainFromRawValue(other), std::nullopt);
}

TEST(JobsRecord, DomainFollowsTheDefinitionPath)
{
    const std::pair<std::optional<QString>, Domain> cases[] = {
        {std::nullopt, Domain::unknown},
        {"/Users/dev/Library/LaunchAgents/a.plist", Domain::userAgent},
        {"/Library/LaunchAgents/a.plist", Domain::globalAgent},
        {"/System/Library/LaunchAgents/a.plist", Domain::globalAgent},
        {"/Users/dev/Library/LaunchAgents/LaunchDaemons/a.plist", Domain::systemDaemon},
        {"/opt/jobs/a.plist", Domain::unknown},
        {"/users/dev/library/launchagents/a.plist", Domain::unknown},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(domainForLabel("label", path), expected) << path.value_or("-").toStdString();
}

TEST(JobsTable, ParsesRowsAsPrinted)
{
    const QString output = "\nPID\tStatus\tLabel\n-\t0\tcom.x.a\n123\t-15\tcom.x.b\n12\t\tfoo\n"
                           "abc\tdef\tlabel\nonly\tone tab\n\n\t\t\n7\t1\tfour\textra\n"
                           "+8\t 1\t spaced label \n2147483648\t-2147483648\tbig\n";
    const QList<JobTableRow> expected{
        {std::nullopt, 0, "com.x.a"},
        {123, -15, "com.x.b"},
        {12, 0, "foo"},
        {std::nullopt, 0, "label"},
        {std::nullopt, 0, ""},
        {7, 1, "four"},
        {8, 0, " spaced label "},
        {std::nullopt, -2147483647 - 1, "big"},
    };
    EXPECT_EQ(parseJobTable(output), expected);
    EXPECT_TRUE(parseJobTable(u"1\t0\tonly-a-header\n").isEmpty());
}

TEST(JobsTable, JoinSortsByLowerCasedLabelStably)
{
    const QList<JobTableRow> rows{{1, 0, "b"}, {2, 0, "A"}, {3, 0, "a"},
                                  {4, 0, "ä"}, {5, 0, "B"}, {6, 0, "Ä"}};
    const QList<LaunchdJob> jobs =
        joinJobs(rows, {{"a", {"/Library/LaunchDaemons/a.plist", "/bin/a", "每天 09:00", {}}}});
    QStringList labels;
    for (const LaunchdJob& job : jobs)
        labels.append(job.label);
    EXPECT_EQ(labels, QStringList({"A", "a", "b", "B", "ä", "Ä"}));
    EXPECT_NE(jobs[0].id, jobs[1].id);
    // Definitions match labels exactly, case included.
    EXPECT_EQ(jobs[0], LaunchdJob({jobs[0].id, "A", 2, 0, Domain::unknown, {}, {}, {}}));
    EXPECT_EQ(jobs[1], LaunchdJob({jobs[1].id, "a", 3, 0, Domain::systemDaemon,
                                   "/Library/LaunchDaemons/a.plist", "/bin/a", "每天 09:00"}));
}
