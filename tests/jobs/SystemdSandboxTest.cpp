// The fenced-in systemd manager that the timer and service tests run against: it must run units,
// and it must never take a process that is not its own.
#include "SystemdSandbox.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QString cgroupOfProcess(const QString& pid)
{
    QFile file(QStringLiteral("/proc/%1/cgroup").arg(pid));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

TEST(SystemdSandbox, RunsUnitsAndTakesNothingThatIsNotItsOwn)
{
    if (const auto reason = SystemdSandbox::unavailableReason())
        GTEST_SKIP() << reason->toStdString();
    const QString initBefore = cgroupOfProcess(QStringLiteral("1"));
    const QString selfBefore = cgroupOfProcess(QStringLiteral("self"));

    QString subtree;
    {
        SystemdSandbox sandbox;
        ASSERT_TRUE(sandbox.isRunning()) << sandbox.error().toStdString();
        subtree = QStringLiteral("/sys/fs/cgroup/unified") + sandbox.cgroupPath();
        if (!QDir(subtree).exists())
            subtree = QStringLiteral("/sys/fs/cgroup") + sandbox.cgroupPath();
        ASSERT_TRUE(QDir(subtree).exists());

        sandbox.writeUnit(QStringLiteral("probe.service"),
                          QStringLiteral("[Service]\nType=oneshot\nExecStart=/bin/sh -c 'exit 3'\n"));
        sandbox.systemctl({QStringLiteral("daemon-reload")});
        const auto run = sandbox.systemctl({QStringLiteral("start"), QStringLiteral("probe.service")});
        EXPECT_NE(run.status, 0) << "a oneshot that exits 3 fails its start";
        const auto shown = sandbox.systemctl(
            {QStringLiteral("show"), QStringLiteral("-p"), QStringLiteral("ExecMainStatus"),
             QStringLiteral("probe.service")});
        EXPECT_EQ(shown.stdOut.trimmed(), QStringLiteral("ExecMainStatus=3")) << shown.stdErr.toStdString();

        EXPECT_TRUE(sandbox.tookOnlyItsOwnProcesses());
        EXPECT_EQ(cgroupOfProcess(QStringLiteral("1")), initBefore);
    }
    EXPECT_FALSE(QDir(subtree).exists()) << "the subtree is removed with the manager";
    EXPECT_EQ(cgroupOfProcess(QStringLiteral("self")), selfBefore);
    EXPECT_EQ(cgroupOfProcess(QStringLiteral("1")), initBefore);
}
