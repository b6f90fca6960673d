#pragma once

#include "PortScanner.h"
#include "platform/Platform.h"

#include <QHash>
#include <QList>

#include <optional>

// The scan from the system's own socket table: the listening sockets, the descriptors through
// which processes hold them, and the facts of those processes, made into records. It keeps what it
// found, so that a later scan can start from where each socket was held.
class ListenerInventory {
public:
    // Nothing where the system has no socket table of its own to read. The records are not sorted.
    std::optional<PortScanner::ScanResult> scan();

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

private:
    QHash<quint64, QList<Platform::SocketHolder>> m_holders;
    QHash<qint32, Platform::ProcessFacts> m_processes;
};
