#pragma once

#include "PortScanner.h"
#include "platform/Platform.h"

#include <QHash>
#include <QList>
#include <QSet>

#include <chrono>
#include <map>
#include <optional>
#include <tuple>

// The scan from the system's own socket table: the listening sockets, the descriptors through
// which processes hold them, and the facts of those processes, made into records. It keeps what it
// found, so that a later scan can start from where each socket was held.
class ListenerInventory {
public:
    using Clock = std::chrono::steady_clock;
    // How long a follow-up may rely on what an earlier scan found before a whole scan is due.
    static constexpr std::chrono::seconds wholeScanInterval{30};
    // How many follow-ups a process's descriptors may be taken as they were. Each read is one
    // system call per descriptor, which is most of what a follow-up costs where nothing changed.
    static constexpr int rereadEvery = 4;

    // Nothing where the system has no socket table of its own to read. The records are not sorted.
    std::optional<PortScanner::ScanResult> scan();
    // A scan that starts from what the last one found. The descriptors that held sockets are read
    // again, each process's once in rereadEvery follow-ups, and sooner when the process is found
    // holding a socket it did not hold before or one of its sockets turns up in a new process.
    // Only sockets that are new or have lost their holders are looked for in every process, and
    // new processes are looked into whole (they may have inherited any socket). Processes that
    // still hold their sockets keep the facts read before.
    // Found late, when the process's descriptors are read again: a process that closed its copy of
    // a socket that lives on in a process seen before (one that held it too, or was handed it).
    // Found in no follow-up: a process that went on holding its sockets while it took in one more
    // from another process, or changed its name, directory or arguments; the next whole scan
    // finds them.
    std::optional<PortScanner::ScanResult> followUp();
    // A follow-up, or a whole scan when none has been made for wholeScanInterval.
    std::optional<PortScanner::ScanResult> rescan();

    // Which descriptors held each listening socket (by inode) at the last scan.
    const QHash<quint64, QList<Platform::SocketHolder>>& holders() const { return m_holders; }
    // The processes that held them, by pid, with their argument lists and cgroup paths.
    const QHash<qint32, Platform::ProcessFacts>& processes() const { return m_processes; }

    // Turns a socket table, the holders of its sockets and the facts of their processes into
    // records: one per process, port and protocol (the address of its lowest descriptor), in pid
    // order; a socket no known process holds is one record per port and protocol with pid 0 and
    // the socket's owner as user. Application, directory and service facts are filled in; whether
    // a service restarts its process is not looked up.
    static QList<ServicePort> records(const QList<Platform::ListeningSocket>& sockets,
                                      const QHash<quint64, QList<Platform::SocketHolder>>& holders,
                                      const QHash<qint32, Platform::ProcessFacts>& processes);

    // A service unit: its name, manager and bus.
    using UnitKey = std::tuple<QString, int, QString>;

private:
    // The same, with the part of the records that one process's records share, kept by pid:
    // processes found there are not made into records again.
    static QList<ServicePort> records(const QList<Platform::ListeningSocket>& sockets,
                                      const QHash<quint64, QList<Platform::SocketHolder>>& holders,
                                      const QHash<qint32, Platform::ProcessFacts>& processes,
                                      QHash<qint32, ServicePort>& shared);

    QHash<quint64, QList<Platform::SocketHolder>> m_holders;
    QHash<qint32, Platform::ProcessFacts> m_processes;
    // Every socket and every process the last scan saw, held or not.
    QSet<quint64> m_sockets;
    QHash<qint32, quint64> m_running;
    std::optional<Clock::time_point> m_lastWholeScan;
    quint64 m_followUps = 0;
    QHash<qint32, ServicePort> m_shared;
    // Whether each service unit seen since the last whole scan restarts its process.
    std::map<UnitKey, bool> m_restarts;
};
