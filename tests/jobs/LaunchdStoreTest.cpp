#include "Stores.h"
#include "TestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

LaunchdJob job(const QString& label, std::optional<QString> schedule,
               std::optional<qint32> pid = std::nullopt,
               std::optional<QString> program = std::nullopt)
{
    LaunchdJob j;
    j.id = QUuid::createUuid();
    j.label = label;
    j.pid = pid;
    j.program = std::move(program);
    j.schedule = std::move(schedule);
    return j;
}

QStringList labelsOf(const QList<LaunchdJob>& jobs)
{
    QStringList labels;
    for (const LaunchdJob& j : jobs)
        labels.append(j.label);
    return labels;
}

TEST(LaunchdStoreFilter, ScheduledJobsOnlyThenAppleRunningAndText)
{
    LaunchdStore store;
    EXPECT_TRUE(store.hideApple());
    const QString daily = QStringLiteral("每天 09:00");
    store.setJobs({
        job("com.apple.example", daily, 10),
        job("com.applesauce.job", daily),
        job("com.example.sync-agent", daily, std::nullopt, QStringLiteral("/usr/bin/true")),
        job("com.example.unscheduled", std::nullopt, 11, QStringLiteral("/usr/bin/rsync")),
        job("local.backup", daily, 12, QStringLiteral("/usr/bin/rsync -a")),
    });
    EXPECT_EQ(labelsOf(store.filtered()),
              (QStringList{"com.applesauce.job", "com.example.sync-agent", "local.backup"}));

    store.setRunningOnly(true);
    EXPECT_EQ(labelsOf(store.filtered()), QStringList{"local.backup"});
    store.setHideApple(false);
    EXPECT_EQ(labelsOf(store.filtered()), (QStringList{"com.apple.example", "local.backup"}));
    store.setRunningOnly(false);

    const struct {
        QString filter;
        QStringList expected;
    } cases[] = {
        {"SYNC", {"com.example.sync-agent", "local.backup"}}, // label, program
        {"sync agent", {"com.example.sync-agent"}},           // only in the friendly name
        {"rsync", {"local.backup"}}, // the unscheduled rsync job stays hidden
        {"每天", {}},                // the schedule is not searched
        {" ", {"com.example.sync-agent", "local.backup"}},
        {"APPLE", {"com.apple.example", "com.applesauce.job"}},
    };
    for (const auto& c : cases) {
        store.setFilter(c.filter);
        EXPECT_EQ(labelsOf(store.filtered()), c.expected) << c.filter.toStdString();
    }
}

} // namespace
