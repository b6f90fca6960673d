#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Everything the program needs to know of the operating system. One implementation per system,
// chosen by the build.
namespace Platform {

// Whether this is macOS, where what the system itself ships is Apple's.
bool isMacOS();

// The socket-listing tool and the launchd tool, by absolute path.
QString lsofPath();
QString launchctlPath();

// The argument lists of the socket listing; their outputs are parsed as one text, in this order.
QList<QStringList> socketListingRuns();

// The current user's home directory, read afresh on every call.
QString homeDirectory();
// The login name of the user running the program.
QString loginName();
// The real user id of the program.
quint32 realUserId();

// The five folders that hold launchd job definitions, in the order in which they are read.
QStringList launchdFolders();

// A running desktop application.
struct RunningApplication {
    qint32 pid = 0;
    std::optional<QString> localizedName;
    std::optional<QString> bundleIdentifier;
    // An icon name for the icon theme, or an absolute path of an icon file.
    std::optional<QString> iconName;
};

// ---- The socket inventory: listening sockets, the processes that hold them, their users ----

// A TCP socket in the listening state or a UDP socket without a peer, as the kernel lists it.
struct ListeningSocket {
    quint64 inode = 0;
    bool udp = false;
    // "*" for an any-address, else an IPv4 or IPv6 literal (IPv6 without brackets).
    QString address;
    quint16 port = 0;
    // The socket's owner.
    quint32 uid = 0;
};

struct SocketTable {
    QList<ListeningSocket> sockets;
    // Why the table could not be read; `sockets` is then empty.
    std::optional<QString> error;
};

// The kernel's table of listening sockets; nothing where the system has no table of its own to
// read (the scan then runs the listing tool).
std::optional<SocketTable> listeningSockets();

// A descriptor through which a process holds a socket.
struct SocketHolder {
    qint32 pid = 0;
    qint32 fd = 0;

    bool operator==(const SocketHolder&) const = default;
};

// Every descriptor of these processes that holds one of these sockets (by inode), by inode, in
// ascending pid and descriptor order. A process that cannot be looked into (another user's, when
// not root) holds nothing here.
QHash<quint64, QList<SocketHolder>> socketHoldersIn(const QList<qint32>& pids,
                                                    const QSet<quint64>& inodes);
// Every process now running, by pid, each with a number that stays the same while that process
// runs and differs for a process given the same pid later (on Linux the inode number of its /proc
// folder). A process may also come to have another number while it runs; it then only looks new.
QHash<qint32, quint64> runningProcesses();
// The socket inode behind each descriptor, while that descriptor is a socket, in the given order.
QList<std::optional<quint64>> socketInodes(const QList<SocketHolder>& holders);

// What the system tells of a running process.
struct ProcessFacts {
    qint32 pid = 0;
    qint32 parentPid = 0;
    quint32 uid = 0;
    // The short command name the kernel keeps.
    QByteArray command;
    // The argument list; empty for a process without one (a kernel thread, a zombie).
    QByteArrayList arguments;
    // An opaque value that differs between two processes given the same pid (on Linux the clock
    // ticks since boot at which the process started).
    quint64 startTime = 0;
    // The process's control-group membership as the system writes it, and the path in it that
    // names its units (the unified hierarchy's, else the systemd one's).
    QByteArray cgroups;
    QString cgroupPath;
    // The working directory, when it can be read.
    std::optional<QByteArray> workingDir;
};

// The facts of these processes, in the given order; a process that is gone is left out.
QList<ProcessFacts> processFacts(const QList<qint32>& pids);
// The start time of a running process, as in ProcessFacts.
std::optional<quint64> processStartTime(qint32 pid);

// The desktop applications among these processes (each the process that leads its application
// unit), by pid.
QHash<qint32, RunningApplication> runningApplications(const QList<ProcessFacts>& processes);

// The account name of a user id in the user database, or the id in digits when it has none.
QString userName(quint32 uid);

// A handle on one process rather than on its pid (on Linux a pidfd): a signal sent through it
// reaches that process or, once it has ended, none; its descriptor becomes readable once the
// process has ended. Closed with the object.
class ProcessHandle {
public:
    ProcessHandle() = default;
    explicit ProcessHandle(int descriptor) : m_descriptor(descriptor) {}
    ProcessHandle(ProcessHandle&& other) noexcept;
    ProcessHandle& operator=(ProcessHandle&& other) noexcept;
    ~ProcessHandle();

    bool isValid() const { return m_descriptor >= 0; }
    int descriptor() const { return m_descriptor; }

private:
    int m_descriptor = -1;
};

// The process that has this pid now, held by its handle, as long as it is the one that started at
// `startTime` (any process with the pid, without one).
struct HeldProcess {
    enum class Outcome { held, reused, failed };
    Outcome outcome = Outcome::failed;
    // The error number when the process could not be held.
    int error = 0;
    qint32 pid = 0;
    // Invalid where the system has no such handles: the pid then stands for the process.
    ProcessHandle handle;
};
HeldProcess holdProcess(qint32 pid, std::optional<quint64> startTime);
// Sends a signal to a held process; 0, or the error number.
int signalHeld(const HeldProcess& process, int signal);

namespace testing {
// Makes the socket table fail as if the kernel refused it with this error number.
void setSocketTableFault(std::optional<int> errorNumber);
} // namespace testing

// ---- end of the socket inventory ----

// Seams for tests: they point the program at fakes. The shipped program never calls them.
namespace testing {
void setLaunchctlPath(const std::optional<QString>& path);
void setLsofPath(const std::optional<QString>& path);
void setLaunchdFolders(const std::optional<QStringList>& folders);
} // namespace testing

// cron: the crontab tool, the system table and the folder of further system tables, by absolute
// path.
QString crontabPath();
QString systemCrontabPath();
QString cronTablesFolder();

namespace testing {
void setCrontabPath(const std::optional<QString>& path);
void setSystemCrontabPath(const std::optional<QString>& path);
void setCronTablesFolder(const std::optional<QString>& folder);
} // namespace testing

} // namespace Platform
