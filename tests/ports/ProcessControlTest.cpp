#include "ProcessControl.h"
#include "Printing.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstring>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using Result = ProcessControl::Result;

namespace {

const QString noSuchProcess = QStringLiteral("进程不存在（可能已退出）。");

// A sleeping child of this test, ended and reaped at the end of its scope unless reaped before.
struct Sleeper {
    pid_t pid = -1;
    Sleeper()
    {
        char path[] = "/bin/sleep", seconds[] = "60";
        char* argv[] = {path, seconds, nullptr};
        if (::posix_spawn(&pid, path, nullptr, nullptr, argv, environ) != 0)
            pid = -1;
    }
    ~Sleeper()
    {
        if (pid > 0 && running()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    bool running() const { return ::waitpid(pid, nullptr, WNOHANG) == 0; }
    // The signal it ended by, once reaped.
    int endedBy() const
    {
        int status = 0;
        return ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
};

} // namespace

TEST(ProcessControl, SignalsRealChildrenAndWordsTheirAbsence)
{
    for (const auto& [force, signal] : {std::pair{false, SIGTERM}, std::pair{true, SIGKILL}}) {
        const Sleeper child;
        ASSERT_GT(child.pid, 0);
        EXPECT_EQ(ProcessControl::kill(child.pid, force), (Result{true, QString()}));
        EXPECT_EQ(child.endedBy(), signal) << force;
        // Reaped now: the identifier names no process any more.
        EXPECT_EQ(ProcessControl::kill(child.pid, force), (Result{false, noSuchProcess}));
    }
    EXPECT_EQ(ProcessControl::failureMessage(EINVAL),
              QStringLiteral("终止失败：") + QString::fromLocal8Bit(std::strerror(EINVAL)));
}

TEST(ProcessControl, AGuardedKillSignalsOnlyTheProcessThatStartedAtTheGivenTime)
{
    const QString reused =
        QStringLiteral("进程号已被其他进程复用（原进程已退出）：未发送任何信号。");
    const Sleeper child;
    ASSERT_GT(child.pid, 0);
    const auto started = Platform::processStartTime(child.pid);
    ASSERT_TRUE(started);

    // A record made of an earlier process with this pid: nothing reaches the one there now.
    EXPECT_EQ(ProcessControl::killGuarded(child.pid, *started - 1, true), (Result{false, reused}));
    ServicePort record;
    record.pid = child.pid;
    record.startTime = *started + 1;
    EXPECT_EQ(ProcessControl::kill(record, true), (Result{false, reused}));
    EXPECT_TRUE(child.running());

    record.startTime = started;
    EXPECT_EQ(ProcessControl::kill(record, false), (Result{true, QString()}));
    EXPECT_EQ(child.endedBy(), SIGTERM);
    EXPECT_EQ(ProcessControl::kill(record, false), (Result{false, noSuchProcess}));
}

TEST(ProcessControl, RefusesIdentifiersThatAddressGroups)
{
    // Passed on to kill(), 0 or -1 would end this test program itself; a negative pid, the group.
    const Sleeper bystander;
    ASSERT_GT(bystander.pid, 0);
    for (qint32 pid : {0, -1, static_cast<qint32>(-bystander.pid)}) {
        EXPECT_EQ(ProcessControl::kill(pid, false),
                  (Result{false, QStringLiteral("进程号无效（%1）：未发送任何信号。").arg(pid)}));
    }
    EXPECT_TRUE(bystander.running());
}
