#include "CronRuns.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr char shellPath[] = "/bin/sh";

JobSource::ActionResult failure(QString message)
{
    return {false, std::move(message)};
}

QString describeError(int errorNumber)
{
    char buffer[256] = {};
    // The GNU variant may return a static string instead of filling the buffer.
    return QString::fromLocal8Bit(::strerror_r(errorNumber, buffer, sizeof buffer));
}

// The caller's environment with the entry's variables set over it.
std::vector<QByteArray> environmentWith(const QList<std::pair<QString, QString>>& variables)
{
    std::vector<QByteArray> entries;
    for (char** at = environ; at && *at; ++at)
        entries.emplace_back(*at);
    for (const auto& [name, value] : variables) {
        const QByteArray prefix = name.toUtf8() + '=';
        std::erase_if(entries, [&](const QByteArray& entry) { return entry.startsWith(prefix); });
        entries.push_back(prefix + value.toUtf8());
    }
    return entries;
}

// The command's standard input: a pipe that already holds all of `input` and whose writing end
// is closed, so that the command reads it to its end and nothing here ever waits on the command.
// Returns the reading end, above the three standard descriptors so that it can be put in place
// of standard input, or -1 with errno set.
int pipeHolding(const QByteArray& input)
{
    // A pipe grows to a megabyte for anyone; a cron line never needs that much.
    if (input.size() > (1 << 20)) {
        errno = EFBIG;
        return -1;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    int readEnd = fds[0];
    const int writeEnd = fds[1];
    if (input.size() > ::fcntl(writeEnd, F_GETPIPE_SZ))
        ::fcntl(writeEnd, F_SETPIPE_SZ, static_cast<int>(input.size()));
    ::fcntl(writeEnd, F_SETFL, O_NONBLOCK);
    qsizetype written = 0;
    while (written < input.size()) {
        const ssize_t n = ::write(writeEnd, input.constData() + written,
                                  static_cast<size_t>(input.size() - written));
        if (n > 0)
            written += n;
        else if (n == 0 || errno != EINTR)
            break;
    }
    int error = written == input.size() ? 0 : (errno == EAGAIN ? EFBIG : errno);
    ::close(writeEnd);
    if (!error && readEnd <= STDERR_FILENO) {
        const int moved = ::fcntl(readEnd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        error = moved < 0 ? errno : 0;
        ::close(readEnd);
        readEnd = moved;
    }
    if (error) {
        if (readEnd >= 0)
            ::close(readEnd);
        errno = error;
        return -1;
    }
    return readEnd;
}

struct Spawned {
    pid_t pid = -1;
    int error = 0;
};

// `/bin/sh -c` with the command, in `directory`, with this environment and output discarded.
Spawned spawnShell(const CronCommand& command, std::vector<QByteArray> environment,
                   const QByteArray& directory)
{
    int input = -1;
    if (!command.input.isEmpty() && (input = pipeHolding(command.input.toUtf8())) < 0)
        return {-1, errno};
    const auto closeInput = qScopeGuard([&] {
        if (input >= 0)
            ::close(input);
    });

    posix_spawn_file_actions_t actions;
    if (int error = posix_spawn_file_actions_init(&actions))
        return {-1, error};
    const auto destroyActions = qScopeGuard([&] { posix_spawn_file_actions_destroy(&actions); });
    posix_spawnattr_t attributes;
    if (int error = posix_spawnattr_init(&attributes))
        return {-1, error};
    const auto destroyAttributes = qScopeGuard([&] { posix_spawnattr_destroy(&attributes); });

    int error = input >= 0
                    ? posix_spawn_file_actions_adddup2(&actions, input, 0)
                    : posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!error)
        error = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!error)
        error = posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!error)
        error = posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
    // A job may run for hours; it keeps none of this program's descriptors open that long.
    if (!error)
        error = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // A session of its own, as under cron: no controlling terminal, and a process group led by
    // the shell, so that stopping reaches everything the command started and nothing else.
    if (!error) {
        error = posix_spawnattr_setflags(
            &attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    }
    if (error)
        return {-1, error};

    QByteArray shellCommand = command.shellCommand.toUtf8();
    std::vector<char*> argv{const_cast<char*>(shellPath), const_cast<char*>("-c"),
                            shellCommand.data(), nullptr};
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    error = ::posix_spawn(&pid, shellPath, &actions, &attributes, argv.data(), envp.data());
    return {error ? -1 : pid, error};
}

qint32 exitCodeOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return -WTERMSIG(waitStatus);
    return -1;
}

} // namespace

std::shared_ptr<CronRuns> CronRuns::shared()
{
    static const std::shared_ptr<CronRuns> instance = std::make_shared<CronRuns>();
    return instance;
}

JobSource::ActionResult CronRuns::start(const QString& key, const CronCommand& command,
                                        const QList<std::pair<QString, QString>>& variables,
                                        const QString& workingDirectory)
{
    if (!QFileInfo(workingDirectory).isDir())
        return failure(QStringLiteral("主目录不存在：") + workingDirectory);
    if (command.shellCommand.contains(QChar(u'\0')) || command.input.contains(QChar(u'\0')))
        return failure(QStringLiteral("命令中含有空字符，无法运行"));

    std::unique_lock lock(m_mutex);
    if (const auto going = m_runs.constFind(key); going != m_runs.cend() && !going->exitCode)
        return failure(QStringLiteral("已在运行 (PID %1)").arg(going->pid));

    const Spawned spawned =
        spawnShell(command, environmentWith(variables), QFile::encodeName(workingDirectory));
    if (spawned.error == EFBIG)
        return failure(QStringLiteral("命令的标准输入过长"));
    if (spawned.error)
        return failure(QStringLiteral("无法启动 /bin/sh: ") + describeError(spawned.error));
    const pid_t pid = spawned.pid;
    m_runs.insert(key, Run{pid, std::nullopt});
    try {
        std::thread([self = shared_from_this(), key, pid] { self->watch(key, pid); }).detach();
    } catch (const std::system_error& error) {
        // Without a thread to wait for it, the run could never be shown as ended: take it back.
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_runs.remove(key);
        return failure(QStringLiteral("无法等待运行结束：") + describeError(error.code().value()));
    }
    return {true, {}};
}

void CronRuns::watch(const QString& key, qint32 pid)
{
    // Wait without reaping: until the shell is reaped under the lock, its process id (and so its
    // group's) cannot be reused, and stop() can signal the group without hitting a stranger.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    {
        std::lock_guard lock(m_mutex);
        int status = 0;
        pid_t reaped = -1;
        while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (auto run = m_runs.find(key); run != m_runs.end() && run->pid == pid)
            run->exitCode = reaped == pid ? exitCodeOf(status) : -1;
    }
    m_ended.notify_all();
    emit runEnded(key);
}

bool CronRuns::endedLocked(const QString& key, qint32 pid) const
{
    const auto run = m_runs.constFind(key);
    return run == m_runs.cend() || run->pid != pid || run->exitCode.has_value();
}

JobSource::ActionResult CronRuns::stop(const QString& key)
{
    std::unique_lock lock(m_mutex);
    const auto going = m_runs.constFind(key);
    if (going == m_runs.cend() || going->exitCode)
        return {true, {}};
    const qint32 pid = going->pid;
    for (int signal : {SIGTERM, SIGKILL}) {
        if (::kill(-pid, signal) != 0 && errno != ESRCH) {
            const int error = errno;
            return failure(QStringLiteral("无法结束进程组 %1：").arg(pid) + describeError(error));
        }
        if (m_ended.wait_for(lock, m_stopGrace, [&] { return endedLocked(key, pid); }))
            return {true, {}};
    }
    return failure(QStringLiteral("进程 %1 在 SIGKILL 之后仍未结束").arg(pid));
}

std::optional<CronRuns::Run> CronRuns::run(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_runs.constFind(key);
    if (found == m_runs.cend())
        return std::nullopt;
    return *found;
}

void CronRuns::setStopGraceForTesting(std::chrono::milliseconds grace)
{
    std::lock_guard lock(m_mutex);
    m_stopGrace = grace;
}
