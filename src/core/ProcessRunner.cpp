#include "ProcessRunner.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ProcessRunner {
namespace {

using Clock = std::chrono::steady_clock;

QString describeError(int errorNumber)
{
    char buffer[256] = {};
    // The GNU variant may return a static string instead of filling the buffer.
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

ByteResult launchFailure(const QString& executablePath, int errorNumber)
{
    return {QByteArray(),
            QStringLiteral("无法启动进程 ") + executablePath + QStringLiteral(": ") +
                describeError(errorNumber),
            -1};
}

ByteResult timeoutFailure(const QString& executablePath, std::chrono::milliseconds limit)
{
    const qint64 ms = limit.count();
    const QString span = ms % 1000 == 0 ? QString::number(ms / 1000) + QStringLiteral(" 秒")
                                        : QString::number(ms) + QStringLiteral(" 毫秒");
    return {QByteArray(),
            QStringLiteral("进程运行超时 ") + executablePath + QStringLiteral(": 超过 ") + span +
                QStringLiteral("未结束，已终止"),
            -1};
}

QString decodeUtf8(const QByteArray& bytes)
{
    // Stateless: a sequence cut off at the end counts as an error instead of being kept for later.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString() : text;
}

// A descriptor closed exactly once, on every path.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_); // never retried: on Linux the descriptor is gone even after EINTR
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// A pipe whose ends are close-on-exec and above the three standard descriptors, so that dup2 onto
// 1 or 2 in the child always makes a fresh, inheritable copy.
bool makePipe(Descriptor& readEnd, Descriptor& writeEnd, int& errorNumber)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        errorNumber = errno;
        return false;
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    for (Descriptor* end : {&readEnd, &writeEnd}) {
        if (end->get() > STDERR_FILENO)
            continue;
        const int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) {
            errorNumber = errno;
            return false;
        }
        end->reset(moved);
    }
    return true;
}

void reap(pid_t pid, int* status)
{
    int ignored = 0;
    while (::waitpid(pid, status ? status : &ignored, 0) < 0 && errno == EINTR) {
    }
}

// Exit code for a normal exit; for a child ended by a signal, 128 plus the signal number, as shells
// report it, so that it never reads as success nor as the launch-failure value.
qint32 statusOf(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return -1;
}

int openPidDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); // close-on-exec by default
#else
    (void)pid;
    return -1;
#endif
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    bool actionsReady = false;
    bool attributesReady = false;

    ~SpawnSetup()
    {
        if (actionsReady)
            posix_spawn_file_actions_destroy(&actions);
        if (attributesReady)
            posix_spawnattr_destroy(&attributes);
    }
};

int prepare(SpawnSetup& setup, int outWrite, int errWrite)
{
    if (int error = posix_spawn_file_actions_init(&setup.actions))
        return error;
    setup.actionsReady = true;
    if (int error = posix_spawn_file_actions_adddup2(&setup.actions, outWrite, STDOUT_FILENO))
        return error;
    if (int error = posix_spawn_file_actions_adddup2(&setup.actions, errWrite, STDERR_FILENO))
        return error;

    if (int error = posix_spawnattr_init(&setup.attributes))
        return error;
    setup.attributesReady = true;
    // The calling thread may block or ignore signals; the tool should start with the defaults.
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    return posix_spawnattr_setflags(&setup.attributes,
                                    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

} // namespace

Result run(const QString& executablePath, const QStringList& arguments)
{
    return run(executablePath, arguments, defaultTimeLimit);
}

Result run(const QString& executablePath, const QStringList& arguments,
           std::chrono::milliseconds timeLimit)
{
    ByteResult result = runForBytes(executablePath, arguments, timeLimit);
    return {decodeUtf8(result.stdOut), std::move(result.stdErr), result.status};
}

ByteResult runForBytes(const QString& executablePath, const QStringList& arguments,
                       std::chrono::milliseconds timeLimit)
{
    // A limit of centuries means none; clamping keeps the deadline from overflowing the clock.
    constexpr std::chrono::milliseconds longestLimit = std::chrono::hours(24 * 365 * 100);
    const Clock::time_point deadline = Clock::now() + std::min(timeLimit, longestLimit);

    // A NUL cannot cross into a C string: the path or argument would silently be cut short.
    if (executablePath.contains(QChar(u'\0')))
        return launchFailure(executablePath, EINVAL);
    const QByteArray path = QFile::encodeName(executablePath);
    std::vector<QByteArray> argumentBytes;
    argumentBytes.reserve(static_cast<size_t>(arguments.size()) + 1);
    argumentBytes.push_back(path);
    for (const QString& argument : arguments) {
        if (argument.contains(QChar(u'\0')))
            return launchFailure(executablePath, EINVAL);
        argumentBytes.push_back(argument.toUtf8());
    }
    std::vector<char*> argv;
    argv.reserve(argumentBytes.size() + 1);
    for (QByteArray& bytes : argumentBytes)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    Descriptor outRead, outWrite, errRead, errWrite;
    int errorNumber = 0;
    if (!makePipe(outRead, outWrite, errorNumber) || !makePipe(errRead, errWrite, errorNumber))
        return launchFailure(executablePath, errorNumber);

    SpawnSetup setup;
    if (int error = prepare(setup, outWrite.get(), errWrite.get()))
        return launchFailure(executablePath, error);

    pid_t pid = -1;
    // posix_spawn, not posix_spawnp: the path is taken as it is, never looked up in PATH.
    if (int error = ::posix_spawn(&pid, path.constData(), &setup.actions, &setup.attributes,
                                  argv.data(), environ)) {
        return launchFailure(executablePath, error);
    }
    outWrite.reset();
    errWrite.reset();

    Descriptor pidDescriptor(openPidDescriptor(pid));
    QByteArray outBytes;
    QByteArray errBytes;
    std::array<char, 65536> buffer;
    bool exited = false;
    int waitStatus = 0;

    for (;;) {
        const bool pipesOpen = outRead.valid() || errRead.valid();
        if (!pipesOpen && (exited || !pidDescriptor.valid()))
            break;

        std::array<pollfd, 3> watched{};
        nfds_t count = 0;
        int outSlot = -1, errSlot = -1, pidSlot = -1;
        if (outRead.valid()) {
            outSlot = static_cast<int>(count);
            watched[count++] = {outRead.get(), POLLIN, 0};
        }
        if (errRead.valid()) {
            errSlot = static_cast<int>(count);
            watched[count++] = {errRead.get(), POLLIN, 0};
        }
        if (pidDescriptor.valid() && !exited) {
            pidSlot = static_cast<int>(count);
            watched[count++] = {pidDescriptor.get(), POLLIN, 0};
        }

        const auto remaining =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) {
            if (!exited)
                ::kill(pid, SIGKILL);
            if (!exited)
                reap(pid, nullptr);
            return timeoutFailure(executablePath, timeLimit);
        }
        const int timeout = remaining > 1000000 ? 1000000 : static_cast<int>(remaining);
        const int ready = ::poll(watched.data(), count, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break; // cannot happen with valid descriptors; fall through to the blocking reap
        }

        auto drain = [&](int slot, Descriptor& fd, QByteArray& into) {
            if (slot < 0 || watched[static_cast<size_t>(slot)].revents == 0)
                return;
            const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
            if (got > 0)
                into.append(buffer.data(), got);
            else if (got == 0 || (errno != EINTR && errno != EAGAIN))
                fd.reset();
        };
        drain(outSlot, outRead, outBytes);
        drain(errSlot, errRead, errBytes);

        if (pidSlot >= 0 && watched[static_cast<size_t>(pidSlot)].revents != 0) {
            reap(pid, &waitStatus);
            exited = true;
        }
    }

    if (!exited)
        reap(pid, &waitStatus);
    return {std::move(outBytes), decodeUtf8(errBytes), statusOf(waitStatus)};
}

} // namespace ProcessRunner
