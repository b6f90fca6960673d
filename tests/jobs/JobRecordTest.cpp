#include "LaunchctlParsing.h"

#include <gtest/gtest.h>

using namespace LaunchctlManager;
using Domain = LaunchdJob::Domain;

TEST(JobsRecord, DerivedTexts)
{
    const auto job = [](const QString& label, std::optional<qint32> pid = {}, qint32 status = 0) {
        return LaunchdJob{QUuid::createUuid(), label, pid, status, Domain::unknown, {}, {}, {}};
    };
    // Running and exit codes show on the jobs screen; a clean exit says no more than this.
    EXPECT_EQ(job("a", {}, 0).statusText(), "已停止");

    const std::pair<const char*, const char*> names[] = {
        {"com.example.sync-agent", "sync agent"},
        {"org.project.backup_job.daily", "backup job.daily"},
        {"local.dev.redis", "local.dev.redis"},
        {"com.acme", "com.acme"},
        {"com.foo..bar-baz", "bar baz"},
        {"my_local_job", "my local job"},
        {"Com.Acme.tool", "Com.Acme.tool"},
    };
    for (const auto& [label, name] : names)
        EXPECT_EQ(job(label).friendlyName(), name) << label;

    const std::pair<std::optional<QString>, Domain> domains[] = {
        {std::nullopt, Domain::unknown},
        {"/Users/dev/Library/LaunchAgents/a.plist", Domain::userAgent},
        {"/System/Library/LaunchAgents/a.plist", Domain::globalAgent},
        {"/Users/dev/Library/LaunchAgents/LaunchDaemons/a.plist", Domain::systemDaemon},
        {"/opt/jobs/a.plist", Domain::unknown},
        {"/users/dev/library/launchagents/a.plist", Domain::unknown},
    };
    for (const auto& [path, expected] : domains)
        EXPECT_EQ(domainForLabel("label", path), expected) << path.value_or("-").toStdString();
}

TEST(JobsTable, ParsesRowsAsPrintedAndJoinsThemSortedByLabel)
{
    const QString output = "\nPID\tStatus\tLabel\n-\t0\tcom.x.a\n123\t-15\tcom.x.b\n12\t\tfoo\n"
                           "abc\tdef\tlabel\nonly\tone tab\n\n\t\t\n7\t1\tfour\textra\n"
                           "+8\t 1\t spaced label \n2147483648\t-2147483648\tbig\n";
    EXPECT_EQ(parseJobTable(output), (QList<JobTableRow>{{std::nullopt, 0, "com.x.a"},
                                                         {123, -15, "com.x.b"},
                                                         {12, 0, "foo"},
                                                         {std::nullopt, 0, "label"},
                                                         {std::nullopt, 0, ""},
                                                         {7, 1, "four"},
                                                         {8, 0, " spaced label "},
                                                         {std::nullopt, -2147483647 - 1, "big"}}));
    EXPECT_TRUE(parseJobTable(u"1\t0\tonly-a-header\n").isEmpty());

    // Sorted by lower-cased label, stably; definitions match labels exactly, case included.
    const QList<LaunchdJob> jobs =
        joinJobs({{1, 0, "b"}, {2, 0, "A"}, {3, 0, "a"}, {4, 0, "ä"}, {5, 0, "B"}, {6, 0, "Ä"}},
                 {{"a", {"/Library/LaunchDaemons/a.plist", "/bin/a", "每天 09:00", {}}}});
    QStringList labels;
    for (const LaunchdJob& job : jobs)
        labels.append(job.label);
    EXPECT_EQ(labels, QStringList({"A", "a", "b", "B", "ä", "Ä"}));
    EXPECT_NE(jobs[0].id, jobs[1].id);
    EXPECT_EQ(jobs[0], LaunchdJob({jobs[0].id, "A", 2, 0, Domain::unknown, {}, {}, {}}));
    EXPECT_EQ(jobs[1], LaunchdJob({jobs[1].id, "a", 3, 0, Domain::systemDaemon,
                                   "/Library/LaunchDaemons/a.plist", "/bin/a", "每天 09:00"}));
}
