#include "ProcessControl.h"
#include "Printing.h"
#include "TestSupport.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <csignal>

using Result = ProcessControl::Result;

TEST(ProcessControl, AGuardedKillSignalsOnlyTheProcessThatStartedAtTheGivenTime)
{
    const QString reused =
        QStringLiteral("进程号已被其他进程复用（原进程已退出）：未发送任何信号。");
    Sleeper child;
    ASSERT_GT(child.pid, 0);
    const auto started = Platform::processStartTime(child.pid);
    ASSERT_TRUE(started);

    // A record made of an earlier process with this pid: nothing reaches the one there now.
    EXPECT_EQ(ProcessControl::killGuarded(child.pid, *started - 1, true), (Result{false, reused}));
    ServicePort record;
    record.pid = child.pid;
    record.startTime = *started + 1;
    EXPECT_EQ(ProcessControl::kill(record, true), (Result{false, reused}));
    EXPECT_FALSE(child.ended());

    record.startTime = started;
    EXPECT_EQ(ProcessControl::kill(record, false), (Result{true, QString()}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return child.ended(); }));
    EXPECT_EQ(child.signal, SIGTERM);
    EXPECT_EQ(ProcessControl::kill(record, false), (Result{false, "进程不存在（可能已退出）。"}));
}

TEST(ProcessControl, RefusesIdentifiersThatAddressGroups)
{
    // Passed on to kill(), 0 or -1 would end this test program itself; a negative pid, the group.
    Sleeper bystander;
    ASSERT_GT(bystander.pid, 0);
    for (qint32 pid : {0, -1, static_cast<qint32>(-bystander.pid)}) {
        EXPECT_EQ(ProcessControl::kill(pid, false),
                  (Result{false, QStringLiteral("进程号无效（%1）：未发送任何信号。").arg(pid)}));
    }
    EXPECT_FALSE(bystander.ended());
}
