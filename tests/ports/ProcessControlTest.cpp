#include "ProcessControl.h"
#include "Printing.h"
#include "platform/Platform.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstring>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const QString noSuchProcess = QStringLiteral("进程不存在（可能已退出）。");
const QString notPermitted =
    QStringLiteral("权限不足：该进程可能属于其他用户或系统，需要管理员权限。");

pid_t startSleeper()
{
    char path[] = "/bin/sleep", seconds[] = "60";
    char* argv[] = {path, seconds, nullptr};
    pid_t pid = -1;
    return ::posix_spawn(&pid, path, nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

bool stillRunning(pid_t pid)
{
    return ::waitpid(pid, nullptr, WNOHANG) == 0;
}

void stop(pid_t pid)
{
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

} // namespace

TEST(ProcessControl, SignalsRealChildrenAndWordsTheirAbsence)
{
    for (const auto& [force, signal] : {std::pair{false, SIGTERM}, std::pair{true, SIGKILL}}) {
        const pid_t child = startSleeper();
        ASSERT_GT(child, 0);
        EXPECT_EQ(ProcessControl::kill(child, force), (ProcessControl::Result{true, QString()}));
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << force;
        // Reaped now: the identifier names no process any more.
        EXPECT_EQ(ProcessControl::kill(child, force),
                  (ProcessControl::Result{false, noSuchProcess}));
    }
    EXPECT_EQ(ProcessControl::failureMessage(EINVAL),
              QStringLiteral("终止失败：") + QString::fromLocal8Bit(std::strerror(EINVAL)));
}

TEST(ProcessControl, AGuardedKillSignalsOnlyTheProcessThatStartedAtTheGivenTime)
{
    const QString reused =
        QStringLiteral("进程号已被其他进程复用（原进程已退出）：未发送任何信号。");
    const pid_t child = startSleeper();
    ASSERT_GT(child, 0);
    const auto started = Platform::processStartTime(child);
    ASSERT_TRUE(started);

    // A record made of an earlier process with this pid: nothing reaches the one there now.
    EXPECT_EQ(ProcessControl::killGuarded(child, *started - 1, true),
              (ProcessControl::Result{false, reused}));
    ServicePort record;
    record.pid = child;
    record.startTime = *started + 1;
    EXPECT_EQ(ProcessControl::kill(record, true), (ProcessControl::Result{false, reused}));
    EXPECT_TRUE(stillRunning(child));

    record.startTime = started;
    EXPECT_EQ(ProcessControl::kill(record, false), (ProcessControl::Result{true, QString()}));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(ProcessControl::kill(record, false), (ProcessControl::Result{false, noSuchProcess}));
}

TEST(ProcessControl, RefusesIdentifiersThatAddressGroups)
{
    // Passed on to kill(), 0 or -1 would end this test program itself; a negative pid, the group.
    const pid_t bystander = startSleeper();
    ASSERT_GT(bystander, 0);
    for (qint32 pid : {0, -1, static_cast<qint32>(-bystander)}) {
        EXPECT_EQ(ProcessControl::kill(pid, false),
                  (ProcessControl::Result{
                      false, QStringLiteral("进程号无效（%1）：未发送任何信号。").arg(pid)}));
    }
    EXPECT_TRUE(stillRunning(bystander));
    stop(bystander);
}

TEST(ProcessControl, ProcessOfAnotherUserIsNotPermitted)
{
    if (::geteuid() != 0) {
        if (QFileInfo(QStringLiteral("/proc/1")).ownerId() == ::geteuid())
            GTEST_SKIP() << "pid 1 belongs to this user; no process of another user to signal";
        EXPECT_EQ(ProcessControl::kill(1, false), (ProcessControl::Result{false, notPermitted}));
        return;
    }
    // As root: a forked copy of this program drops to "nobody" and signals a child of root.
    const pid_t target = startSleeper();
    ASSERT_GT(target, 0);
    const pid_t helper = ::fork();
    ASSERT_GE(helper, 0);
    if (helper == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(ProcessControl::kill(target, true) == ProcessControl::Result{false, notPermitted}
                    ? 0
                    : 1);
    }
    int status = 0;
    ::waitpid(helper, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "2: could not drop rights";
    EXPECT_TRUE(stillRunning(target));
    stop(target);
}
