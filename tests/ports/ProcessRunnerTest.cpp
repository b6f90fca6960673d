#include "ProcessRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <sys/wait.h>

namespace {

const QString sh = QStringLiteral("/bin/sh");

ProcessRunner::Result shell(const QString& script)
{
    return ProcessRunner::run(sh, {QStringLiteral("-c"), script});
}

int openDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

// True when some child of this process is still waiting to be reaped.
bool hasUnreapedChild()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

} // namespace

TEST(ProcessRunner, LaunchFailuresComeBackAsValues)
{
    const QString missing = QStringLiteral("/nonexistent/kestrow-no-such-tool");
    const auto result = ProcessRunner::run(missing, {});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.stdOut, QString());
    EXPECT_EQ(result.stdErr, QStringLiteral("无法启动进程 ") + missing + QStringLiteral(": ") +
                                 QString::fromLocal8Bit(std::strerror(ENOENT)));

    // No search path: a bare name is not looked up, even though /bin/sh exists.
    const auto bare =
        ProcessRunner::run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exit 0")});
    EXPECT_EQ(bare.status, -1);
    EXPECT_TRUE(bare.stdErr.startsWith(QStringLiteral("无法启动进程 sh: ")))
        << bare.stdErr.toStdString();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notExecutable = dir.filePath(QStringLiteral("plain.txt"));
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("echo hi\n");
    file.close();
    const auto denied = ProcessRunner::run(notExecutable, {});
    EXPECT_EQ(denied.status, -1);
    EXPECT_EQ(denied.stdErr, QStringLiteral("无法启动进程 ") + notExecutable +
                                 QStringLiteral(": ") +
                                 QString::fromLocal8Bit(std::strerror(EACCES)));
}

TEST(ProcessRunner, CapturesBothStreamsAndExitStatus)
{
    const auto result =
        shell(QStringLiteral("printf 'out 中文\\n'; printf 'err line\\n' >&2; exit 3"));
    EXPECT_EQ(result, (ProcessRunner::Result{QStringLiteral("out 中文\n"),
                                             QStringLiteral("err line\n"), 3}));

    // A signal death is reported as 128 plus the signal number, never as success or -1.
    EXPECT_EQ(shell(QStringLiteral("kill -9 $$")).status, 128 + 9);

    // Arguments reach the child unchanged, one element each, without any shell in between.
    const QStringList arguments{QStringLiteral("two words"), QStringLiteral("\"quoted\" 'single'"),
                                QStringLiteral("$HOME;`id`"), QString(), QStringLiteral("末尾 ")};
    const auto echoed =
        ProcessRunner::run(sh, QStringList{QStringLiteral("-c"),
                                           QStringLiteral("for a; do printf '[%s]' \"$a\"; done"),
                                           QStringLiteral("sh")} +
                                   arguments);
    EXPECT_EQ(echoed.stdOut,
              QStringLiteral("[two words][\"quoted\" 'single'][$HOME;`id`][][末尾 ]"));
    EXPECT_EQ(echoed.status, 0);
}

TEST(ProcessRunner, InvalidUtf8EmptiesOnlyThatStream)
{
    const auto badOut = shell(QStringLiteral("printf 'ok\\377\\n'; printf 'fine\\n' >&2; exit 1"));
    EXPECT_EQ(badOut, (ProcessRunner::Result{QString(), QStringLiteral("fine\n"), 1}));

    // A multi-byte sequence cut off at the very end is invalid too.
    const auto truncated = shell(QStringLiteral("printf 'text' ; printf '\\344\\270' >&2"));
    EXPECT_EQ(truncated, (ProcessRunner::Result{QStringLiteral("text"), QString(), 0}));
}

TEST(ProcessRunner, FloodOnStderrBeforeStdoutClosesDoesNotStall)
{
    // 4 MiB on stderr first, far beyond a pipe's buffer, then stdout.
    const auto result = shell(QStringLiteral(
        "head -c 4194304 /dev/zero | tr '\\0' e >&2; head -c 1048576 /dev/zero | tr '\\0' o"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.stdErr.size(), 4194304);
    EXPECT_EQ(result.stdOut.size(), 1048576);
    EXPECT_EQ(result.stdErr.count(QLatin1Char('e')), 4194304);
    EXPECT_EQ(result.stdOut.count(QLatin1Char('o')), 1048576);
}

TEST(ProcessRunner, TimeLimitKillsAndReapsTheChild)
{
    const auto result = ProcessRunner::run(
        sh, {QStringLiteral("-c"), QStringLiteral("echo started; exec sleep 60")},
        std::chrono::milliseconds(300));
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.stdOut, QString());
    EXPECT_EQ(result.stdErr, QStringLiteral("进程运行超时 /bin/sh: 超过 300 毫秒未结束，已终止"));
    EXPECT_FALSE(hasUnreapedChild());

    // A child that closes both streams but keeps running is still bounded by the limit.
    const auto silent = ProcessRunner::run(
        sh, {QStringLiteral("-c"), QStringLiteral("exec >&- 2>&-; exec sleep 60")},
        std::chrono::seconds(1));
    EXPECT_EQ(silent.status, -1);
    EXPECT_EQ(silent.stdErr, QStringLiteral("进程运行超时 /bin/sh: 超过 1 秒未结束，已终止"));
    EXPECT_FALSE(hasUnreapedChild());

    // A limit too long for the clock is no limit at all, not an overflow.
    const auto unbounded = ProcessRunner::run(sh, {QStringLiteral("-c"), QStringLiteral("echo ok")},
                                              std::chrono::milliseconds::max());
    EXPECT_EQ(unbounded, (ProcessRunner::Result{QStringLiteral("ok\n"), QString(), 0}));
}

TEST(ProcessRunner, LeavesNoDescriptorOrZombieBehindAcrossThreads)
{
    // Warm up anything lazily opened on first use before counting.
    shell(QStringLiteral("true"));
    ProcessRunner::run(QStringLiteral("/nonexistent"), {});
    const int before = openDescriptorCount();

    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 25; ++i) {
                const QString word = QStringLiteral("t%1i%2").arg(t).arg(i);
                const auto ok =
                    ProcessRunner::run(sh, {QStringLiteral("-c"), QStringLiteral("echo $0"), word});
                if (ok.stdOut != word + QLatin1Char('\n') || ok.status != 0)
                    ++wrong;
                if (ProcessRunner::run(QStringLiteral("/nonexistent/x"), {}).status != -1)
                    ++wrong;
                if (ProcessRunner::run(QStringLiteral("sh"), {}).status != -1)
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    ProcessRunner::run(sh, {QStringLiteral("-c"), QStringLiteral("sleep 5")},
                       std::chrono::milliseconds(50));

    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_FALSE(hasUnreapedChild());
}

TEST(ProcessRunner, ChildInheritsEnvironmentAndWorkingDirectory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    qputenv("KESTROW_RUNNER_PROBE", "值 42");
    const auto result = shell(QStringLiteral("pwd -P; printf '%s' \"$KESTROW_RUNNER_PROBE\""));
    qunsetenv("KESTROW_RUNNER_PROBE");
    QDir::setCurrent(previous);
    EXPECT_EQ(result.stdOut, QFileInfo(dir.path()).canonicalFilePath() + QStringLiteral("\n值 42"));
}
