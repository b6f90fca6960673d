#include "ProcessRunner.h"
#include "Printing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <sys/wait.h>

using Result = ProcessRunner::Result;

namespace {

const QString sh = QStringLiteral("/bin/sh");

Result shell(const QString& script,
             std::chrono::milliseconds limit = ProcessRunner::defaultTimeLimit)
{
    return ProcessRunner::run(sh, {QStringLiteral("-c"), script}, limit);
}

Result launchFailure(const QString& path, int error)
{
    return {"", "无法启动进程 " + path + ": " + QString::fromLocal8Bit(std::strerror(error)), -1};
}

bool hasUnreapedChild()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

} // namespace

TEST(ProcessRunner, LaunchFailuresComeBackAsValues)
{
    const QString missing = QStringLiteral("/nonexistent/kestrow-tool");
    EXPECT_EQ(ProcessRunner::run(missing, {}), launchFailure(missing, ENOENT));
    // No search path: a bare name is a path relative to nothing, even though /bin/sh exists.
    EXPECT_EQ(ProcessRunner::run("sh", {"-c", "exit 0"}), launchFailure("sh", ENOENT));
    QTemporaryDir dir;
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(ProcessRunner::run(plain.fileName(), {}), launchFailure(plain.fileName(), EACCES));
}

TEST(ProcessRunner, CapturesBothStreamsStatusAndArgumentsExactly)
{
    EXPECT_EQ(shell("printf 'out 中文\\n'; printf 'err\\n' >&2; exit 3"),
              (Result{"out 中文\n", "err\n", 3}));
    EXPECT_EQ(shell("kill -9 $$").status, 128 + 9); // a signal death, never 0 or -1

    const QStringList arguments{"two words", "\"quoted\" 'single'", "$HOME;`id`", "", "末尾 "};
    EXPECT_EQ(ProcessRunner::run(
                  sh, QStringList{"-c", "for a; do printf '[%s]' \"$a\"; done", "sh"} + arguments),
              (Result{"[two words][\"quoted\" 'single'][$HOME;`id`][][末尾 ]", "", 0}));

    // Invalid UTF-8, also a sequence cut off at the end, empties that stream only.
    EXPECT_EQ(shell("printf 'ok\\377'; printf 'fine' >&2; exit 1"), (Result{"", "fine", 1}));
    EXPECT_EQ(shell("printf 'text'; printf '\\344\\270' >&2"), (Result{"text", "", 0}));

    // The child runs in this program's working directory and environment.
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(dir.isValid() && QDir::setCurrent(dir.path()));
    qputenv("KESTROW_RUNNER_PROBE", "值 42");
    const auto inherited = shell("pwd -P; printf '%s' \"$KESTROW_RUNNER_PROBE\"");
    qunsetenv("KESTROW_RUNNER_PROBE");
    QDir::setCurrent(previous);
    EXPECT_EQ(inherited.stdOut, QFileInfo(dir.path()).canonicalFilePath() + "\n值 42");

    // A flood on one stream while the other is still open does not stall either.
    EXPECT_EQ(
        shell("head -c 4194304 /dev/zero | tr '\\0' e >&2; head -c 65536 /dev/zero | tr '\\0' o"),
        (Result{QString(65536, u'o'), QString(4194304, u'e'), 0}));
}

TEST(ProcessRunner, TimeLimitKillsAndReapsTheChild)
{
    EXPECT_EQ(shell("echo started; exec sleep 60", std::chrono::milliseconds(300)),
              (Result{"", "进程运行超时 /bin/sh: 超过 300 毫秒未结束，已终止", -1}));
    // Closing both streams does not escape the limit.
    EXPECT_EQ(shell("exec >&- 2>&-; exec sleep 60", std::chrono::seconds(1)),
              (Result{"", "进程运行超时 /bin/sh: 超过 1 秒未结束，已终止", -1}));
    EXPECT_FALSE(hasUnreapedChild());
    // A limit too long for the clock is no limit, not an overflow.
    EXPECT_EQ(shell("echo ok", std::chrono::milliseconds::max()), (Result{"ok\n", "", 0}));
}

TEST(ProcessRunner, LeavesNoDescriptorOrZombieBehindAcrossThreads)
{
    const auto openDescriptors = [] {
        return QDir("/proc/self/fd")
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
            .size();
    };
    shell("true"); // anything opened lazily on first use
    const qsizetype before = openDescriptors();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 25; ++i) {
                const QString word = QStringLiteral("t%1i%2").arg(t).arg(i);
                wrong +=
                    ProcessRunner::run(sh, {"-c", "echo $0", word}) != Result{word + "\n", "", 0};
                wrong += ProcessRunner::run("/nonexistent/x", {}).status != -1;
                wrong += ProcessRunner::run("sh", {}).status != -1;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    shell("sleep 5", std::chrono::milliseconds(50));
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_FALSE(hasUnreapedChild());
}
