#include "LaunchctlManager.h"
#include "Stores.h"
#include "TestSupport.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

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

// launchctl does not exist here: a script prints its table, and a real definition file supplies
// the schedule.
TEST(LaunchdStoreRefresh, ListsThroughLaunchctlOnAWorkerAndKeepsTheErrorText)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("LaunchAgents"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile plist(folder + QStringLiteral("/com.example.sync-agent.plist"));
    ASSERT_TRUE(plist.open(QIODevice::WriteOnly));
    plist.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>Label</key><string>com.example.sync-agent</string>
<key>ProgramArguments</key><array><string>/usr/bin/rsync</string><string>-a</string></array>
<key>StartInterval</key><integer>3600</integer>
</dict></plist>
)");
    plist.close();

    const QString tool = dir.filePath(QStringLiteral("launchctl"));
    auto writeTool = [&](const QByteArray& body) {
        QFile script(tool);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n" + body);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    };
    writeTool(
        "printf 'PID\\tStatus\\tLabel\\n-\\t0\\tcom.example.sync-agent\\n7\\t0\\tcom.x.none\\n'\n");
    Platform::testing::setLaunchctlPath(tool);
    Platform::testing::setLaunchdFolders(QStringList{folder});

    LaunchdStore store;
    store.setLastError(QStringLiteral("[com.x] 失败"));
    std::atomic<QThread*> listThread = nullptr;
    store.setListerForTesting([&] {
        listThread = QThread::currentThread();
        return LaunchctlManager::list();
    });
    QList<QThread*> publishedOn;
    QObject::connect(&store, &LaunchdStore::jobsChanged,
                     [&] { publishedOn.append(QThread::currentThread()); });

    store.refresh();
    EXPECT_TRUE(store.isLoading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.isLoading(); }, 30000));
    EXPECT_NE(listThread.load(), QThread::currentThread());
    EXPECT_EQ(publishedOn, QList<QThread*>{QThread::currentThread()});
    EXPECT_EQ(store.jobs().size(), 2);
    EXPECT_EQ(labelsOf(store.filtered()), QStringList{"com.example.sync-agent"});
    store.setFilter(QStringLiteral("RSYNC"));
    EXPECT_EQ(store.filtered().size(), 1);

    // A failing listing empties the list and leaves the error text alone.
    writeTool("echo 'Could not list' >&2\nexit 1\n");
    store.refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.isLoading(); }, 30000));
    EXPECT_TRUE(store.jobs().isEmpty());
    EXPECT_EQ(store.lastError(), QStringLiteral("[com.x] 失败"));

    Platform::testing::setLaunchctlPath(std::nullopt);
    Platform::testing::setLaunchdFolders(std::nullopt);
}

TEST(LaunchdStoreRefresh, AnOlderListingThatEndsLastIsDropped)
{
    allowOverlappingScans();
    LaunchdStore store;
    Gate gate;
    store.setListerForTesting([&] {
        gate.wait();
        return QList<LaunchdJob>{job("old", "x")};
    });
    store.refresh();
    const QList<LaunchdJob> newer{job("new", "x")};
    store.setListerForTesting([&] { return newer; });
    store.refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.isLoading(); }, 30000));
    gate.open();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(store.jobs(), newer);
    EXPECT_FALSE(store.isLoading());
}

} // namespace
