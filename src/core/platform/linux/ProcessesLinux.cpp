#include "Descriptor.h"
#include "LargeStackPool.h"
#include "ProcParsing.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Platform {
namespace {

using detail::Descriptor;

Descriptor openProc()
{
    return Descriptor(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Calls fn(name, inode) for every entry of an open /proc directory but "." and "..".
template <typename Fn> void forEachEntry(int directory, Fn&& fn)
{
    alignas(dirent64) char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::getdents64(directory, buffer, sizeof buffer);
        if (got <= 0)
            return;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            fn(name, static_cast<quint64>(entry->d_ino));
        }
        // /proc fills the buffer for as long as it has entries: one that left this much room had
        // no more to give, and asking again would only cost a call.
        if (got < static_cast<ssize_t>(sizeof buffer) - 1024)
            return;
    }
}

std::optional<qint32> numberOf(const char* name)
{
    qint64 value = 0;
    if (*name == '\0')
        return std::nullopt;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9' || value > 0x7fffffff / 10)
            return std::nullopt;
        value = value * 10 + (*name - '0');
    }
    return value > 0x7fffffff ? std::nullopt : std::optional<qint32>(static_cast<qint32>(value));
}

// Writes a number that is not negative in decimal at `out`; returns where it ends. Paths are made
// this way for every descriptor looked at, where printf would cost more than the system call.
char* writeNumber(char* out, qint32 value)
{
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

// The processes in /proc, each with the inode number of its folder.
QHash<qint32, quint64> processEntries(int proc)
{
    QHash<qint32, quint64> entries;
    const Descriptor listing(::openat(proc, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing.valid())
        return entries;
    forEachEntry(listing.get(), [&](const char* name, quint64 inode) {
        if (const auto pid = numberOf(name))
            entries.insert(*pid, inode);
    });
    return entries;
}

// Files under /proc report a size of 0, so they are read until end of file. They give all they
// have to one read that offers the room, so a read that leaves room over is the last one.
QByteArray readOpen(int fd, qsizetype limit)
{
    QByteArray contents;
    char buffer[4096];
    while (contents.size() < limit) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            contents.append(buffer, got);
        if (got >= 0 && got < static_cast<ssize_t>(sizeof buffer))
            break;
        if (got < 0 && errno != EINTR)
            break;
    }
    return contents;
}

QByteArray readAt(int directory, const char* name, qsizetype limit)
{
    const Descriptor file(::openat(directory, name, O_RDONLY | O_CLOEXEC));
    return file.valid() ? readOpen(file.get(), limit) : QByteArray();
}

std::optional<QByteArray> linkAt(int directory, const char* name)
{
    char buffer[4096];
    const ssize_t got = ::readlinkat(directory, name, buffer, sizeof buffer);
    if (got < 0 || got == static_cast<ssize_t>(sizeof buffer))
        return std::nullopt;
    return QByteArray(buffer, got);
}

struct Hit {
    quint64 inode;
    qint32 fd;
};

// The descriptors of one process that hold one of the wanted sockets, in descriptor order.
std::vector<Hit> socketsOf(int proc, qint32 pid, const QSet<quint64>& inodes)
{
    std::vector<Hit> hits;
    char path[32];
    std::snprintf(path, sizeof path, "%d/fd", pid);
    const Descriptor fds(::openat(proc, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fds.valid())
        return hits;
    forEachEntry(fds.get(), [&](const char* name, quint64) {
        char target[64];
        const ssize_t got = ::readlinkat(fds.get(), name, target, sizeof target);
        if (got <= 0 || got == static_cast<ssize_t>(sizeof target))
            return;
        const auto inode = detail::socketInodeOfLink(QByteArrayView(target, got));
        const auto fd = numberOf(name);
        if (inode && fd && inodes.contains(*inode))
            hits.push_back(Hit{*inode, *fd});
    });
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.fd < b.fd; });
    return hits;
}

// The process's user: the owner of its files under /proc, which is its effective user while
// others may inspect it. A process that may not be inspected (one that changed its user, or keeps
// others out) has files that belong to root whatever user it runs as: its status says.
quint32 userOf(int proc, const char* folder, const struct stat& statFile)
{
    if (statFile.st_uid != 0)
        return statFile.st_uid;
    char path[32];
    std::snprintf(path, sizeof path, "%s/status", folder);
    return detail::effectiveUidFromStatus(readAt(proc, path, 1 << 16)).value_or(0);
}

std::optional<ProcessFacts> factsOf(int proc, qint32 pid)
{
    // Paths relative to /proc: opening each process's folder first would cost two calls more.
    char folder[16];
    char path[48];
    std::snprintf(folder, sizeof folder, "%d", pid);
    const auto file = [&](const char* name) {
        std::snprintf(path, sizeof path, "%s/%s", folder, name);
        return path;
    };
    const Descriptor statFile(::openat(proc, file("stat"), O_RDONLY | O_CLOEXEC));
    struct stat owner {};
    if (!statFile.valid() || ::fstat(statFile.get(), &owner) != 0)
        return std::nullopt;
    const auto stat = detail::parseStat(readOpen(statFile.get(), 4096));
    if (!stat)
        return std::nullopt;
    ProcessFacts facts;
    facts.pid = pid;
    facts.parentPid = stat->parentPid;
    facts.command = stat->command;
    facts.startTime = stat->startTime;
    facts.uid = userOf(proc, folder, owner);
    facts.arguments = detail::splitCommandLine(readAt(proc, file("cmdline"), 1 << 16));
    facts.cgroups = readAt(proc, file("cgroup"), 1 << 16);
    facts.cgroupPath = detail::unitCgroupPath(facts.cgroups);
    facts.workingDir = linkAt(proc, file("cwd"));
    return facts;
}

int pidfdOpen(qint32 pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int pidfdSendSignal(int pidfd, int signal)
{
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

} // namespace

QHash<qint32, quint64> runningProcesses()
{
    const Descriptor proc = openProc();
    return proc.valid() ? processEntries(proc.get()) : QHash<qint32, quint64>();
}

QHash<quint64, QList<SocketHolder>> socketHoldersIn(const QList<qint32>& unordered,
                                                    const QSet<quint64>& inodes)
{
    QHash<quint64, QList<SocketHolder>> holders;
    const Descriptor proc = openProc();
    if (!proc.valid() || inodes.isEmpty() || unordered.isEmpty())
        return holders;
    QList<qint32> pids = unordered;
    std::sort(pids.begin(), pids.end());
    std::vector<std::vector<Hit>> found(static_cast<size_t>(pids.size()));
    LargeStackPool::run(pids.size(), [&](qsizetype i) {
        found[static_cast<size_t>(i)] = socketsOf(proc.get(), pids[i], inodes);
    });
    for (qsizetype i = 0; i < pids.size(); ++i) {
        for (const Hit& hit : found[static_cast<size_t>(i)])
            holders[hit.inode].append(SocketHolder{pids[i], hit.fd});
    }
    return holders;
}

QList<std::optional<quint64>> socketInodes(const QList<SocketHolder>& holders)
{
    QList<std::optional<quint64>> inodes(holders.size());
    const Descriptor proc = openProc();
    if (!proc.valid())
        return inodes;
    // A worker takes all descriptors of one process: workers reading the same process at the same
    // time would contend for it in the kernel.
    std::vector<qsizetype> order(static_cast<size_t>(holders.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return holders[a].pid < holders[b].pid; });
    std::vector<std::pair<size_t, size_t>> processes;
    for (size_t first = 0; first < order.size();) {
        size_t end = first + 1;
        while (end < order.size() && holders[order[end]].pid == holders[order[first]].pid)
            ++end;
        processes.emplace_back(first, end);
        first = end;
    }
    LargeStackPool::run(static_cast<qsizetype>(processes.size()), [&](qsizetype i) {
        const auto [first, last] = processes[static_cast<size_t>(i)];
        for (size_t at = first; at < last; ++at) {
            const SocketHolder& holder = holders[order[at]];
            // "PID/fd/FD", relative to /proc.
            char path[32];
            char* end = writeNumber(path, holder.pid);
            std::memcpy(end, "/fd/", 4);
            *writeNumber(end + 4, holder.fd) = '\0';
            char target[64];
            const ssize_t got = ::readlinkat(proc.get(), path, target, sizeof target);
            if (got > 0 && got < static_cast<ssize_t>(sizeof target))
                inodes[order[at]] = detail::socketInodeOfLink(QByteArrayView(target, got));
        }
    });
    return inodes;
}

QList<ProcessFacts> processFacts(const QList<qint32>& pids)
{
    QList<ProcessFacts> facts;
    const Descriptor proc = openProc();
    if (!proc.valid())
        return facts;
    std::vector<std::optional<ProcessFacts>> read(static_cast<size_t>(pids.size()));
    LargeStackPool::run(pids.size(), [&](qsizetype i) {
        read[static_cast<size_t>(i)] = factsOf(proc.get(), pids[i]);
    });
    facts.reserve(pids.size());
    for (auto& one : read) {
        if (one)
            facts.append(std::move(*one));
    }
    return facts;
}

std::optional<quint64> processStartTime(qint32 pid)
{
    if (pid < 1)
        return std::nullopt;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    const auto stat = detail::parseStat(readAt(AT_FDCWD, path, 4096));
    return stat ? std::optional<quint64>(stat->startTime) : std::nullopt;
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1))
{
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept
{
    if (this != &other) {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

ProcessHandle::~ProcessHandle()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

HeldProcess holdProcess(qint32 pid, std::optional<quint64> startTime)
{
    HeldProcess held;
    held.pid = pid;
    if (pid < 1) {
        held.error = ESRCH;
        return held;
    }
    // The pidfd holds on to the process that has this pid now; once its start time matches, a
    // signal through it reaches that process or, should it end meanwhile, none.
    ProcessHandle handle(pidfdOpen(pid));
    if (!handle.isValid() && errno != ENOSYS) {
        held.error = errno;
        return held;
    }
    if (startTime) {
        const auto started = processStartTime(pid);
        if (!started) {
            held.error = ESRCH;
            return held;
        }
        if (*started != *startTime) {
            held.outcome = HeldProcess::Outcome::reused;
            return held;
        }
    }
    held.outcome = HeldProcess::Outcome::held;
    held.handle = std::move(handle);
    return held;
}

int signalHeld(const HeldProcess& process, int signal)
{
    const int result = process.handle.isValid()
                           ? pidfdSendSignal(process.handle.descriptor(), signal)
                           : ::kill(process.pid, signal);
    return result == 0 ? 0 : errno;
}

} // namespace Platform
