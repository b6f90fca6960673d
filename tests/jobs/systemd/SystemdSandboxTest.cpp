// The fenced-in systemd manager that the timer and service tests run against: it must run units,
// and it must never take a process that is not its own.
#include "SystemdSandbox.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QString cgroupOf(const char* pid)
{
    QFile file(QStringLiteral("/proc/%1/cgroup").arg(QLatin1String(pid)));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

TEST(SystemdSandbox, RunsUnitsAndTakesNothingThatIsNotItsOwn)
{
    if (const auto reason = SystemdSandbox::unavailableReason())
        GTEST_SKIP() << reason->toStdString();
    const QString initBefore = cgroupOf("1"), selfBefore = cgroupOf("self");
    QString subtree;
    {
        SystemdSandbox sandbox;
        ASSERT_TRUE(sandbox.isRunning()) << sandbox.error().toStdString();
        subtree = "/sys/fs/cgroup/unified" + sandbox.cgroupPath();
        if (!QDir(subtree).exists())
            subtree = "/sys/fs/cgroup" + sandbox.cgroupPath();
        ASSERT_TRUE(QDir(subtree).exists());

        sandbox.writeUnit("probe.service",
                          "[Service]\nType=oneshot\nExecStart=/bin/sh -c 'exit 3'\n");
        sandbox.systemctl({"daemon-reload"});
        EXPECT_NE(sandbox.systemctl({"start", "probe.service"}).status, 0)
            << "a oneshot that exits 3 fails its start";
        const auto shown = sandbox.systemctl({"show", "-p", "ExecMainStatus", "probe.service"});
        EXPECT_EQ(shown.stdOut.trimmed(), "ExecMainStatus=3") << shown.stdErr.toStdString();

        EXPECT_TRUE(sandbox.tookOnlyItsOwnProcesses());
        EXPECT_EQ(cgroupOf("1"), initBefore);
    }
    EXPECT_FALSE(QDir(subtree).exists()) << "the subtree is removed with the manager";
    EXPECT_EQ(cgroupOf("self"), selfBefore);
    EXPECT_EQ(cgroupOf("1"), initBefore);
}
