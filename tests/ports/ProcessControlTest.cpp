#include "ProcessControl.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
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
    char path[] = "/bin/sleep";
    char seconds[] = "60";
    char* argv[] = {path, seconds, nullptr};
    pid_t pid = -1;
    return ::posix_spawn(&pid, path, nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// The signal that ended the child, or 0 when it is still running after a while.
int endingSignal(pid_t pid)
{
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
        ::usleep(10000);
    }
    return 0;
}

} // namespace

TEST(ProcessControl, SignalsRealChildren)
{
    for (const auto& [force, signal] : {std::pair{false, SIGTERM}, std::pair{true, SIGKILL}}) {
        const pid_t child = startSleeper();
        ASSERT_GT(child, 0);
        EXPECT_EQ(ProcessControl::kill(child, force), (ProcessControl::Result{true, QString()}));
        EXPECT_EQ(endingSignal(child), signal);

        // Reaped now: the identifier names no process any more.
        EXPECT_EQ(ProcessControl::kill(child, force),
                  (ProcessControl::Result{false, noSuchProcess}));
    }
}

TEST(ProcessControl, RefusesIdentifiersThatAddressGroups)
{
    // Were 0 or -1 passed on to kill(), SIGTERM would end this test program itself (and, for -1,
    // everything else it may signal); the bystander shows that nothing was sent.
    const pid_t bystander = startSleeper();
    ASSERT_GT(bystander, 0);
    for (qint32 pid : {0, -1, -2, static_cast<qint32>(-bystander)}) {
        const auto result = ProcessControl::kill(pid, false);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.message, QStringLiteral("进程号无效（%1）：未发送任何信号。").arg(pid));
    }
    EXPECT_EQ(::waitpid(bystander, nullptr, WNOHANG), 0);
    ::kill(bystander, SIGKILL);
    ::waitpid(bystander, nullptr, 0);
}

TEST(ProcessControl, ProcessOfAnotherUserIsNotPermitted)
{
    if (::geteuid() != 0) {
        // Without root rights, pid 1 belongs to another user on any ordinary system.
        if (QFileInfo(QStringLiteral("/proc/1")).ownerId() == ::geteuid())
            GTEST_SKIP() << "pid 1 belongs to this user; no process of another user to signal";
        EXPECT_EQ(ProcessControl::kill(1, false), (ProcessControl::Result{false, notPermitted}));
        return;
    }
    // As root, a forked copy of this program drops to "nobody" and signals a child of root.
    const pid_t target = startSleeper();
    ASSERT_GT(target, 0);
    const pid_t helper = ::fork();
    ASSERT_GE(helper, 0);
    if (helper == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const auto result = ProcessControl::kill(target, true);
        ::_exit(!result.success && result.message == notPermitted ? 0 : 1);
    }
    int status = 0;
    ::waitpid(helper, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2 means the helper could not drop its rights";
    EXPECT_EQ(::waitpid(target, nullptr, WNOHANG), 0) << "the target must have survived";
    ::kill(target, SIGKILL);
    ::waitpid(target, nullptr, 0);
}

TEST(ProcessControl, OtherErrorsCarryTheSystemsDescription)
{
    EXPECT_EQ(ProcessControl::failureMessage(ESRCH), noSuchProcess);
    EXPECT_EQ(ProcessControl::failureMessage(EPERM), notPermitted);
    EXPECT_EQ(ProcessControl::failureMessage(EINVAL),
              QStringLiteral("终止失败：") + QString::fromLocal8Bit(std::strerror(EINVAL)));
}
