#include "ListenerInventory.h"

#include "FreshIds.h"
#include "SafeText.h"
#include "SystemdServices.h"

#include <QByteArrayView>

#include <algorithm>
#include <future>
#include <map>
#include <tuple>
#include <vector>

namespace {

class UserNames {
public:
    const QString& of(quint32 uid)
    {
        auto it = names_.find(uid);
        if (it == names_.end())
            it = names_.insert(uid, Platform::userName(uid));
        return *it;
    }

private:
    QHash<quint32, QString> names_;
};

// What every record of one process holds, made once so that its records share the texts.
ServicePort recordOf(const Platform::ProcessFacts& facts, UserNames& users,
                     const Platform::RunningApplication* application)
{
    ServicePort record;
    record.pid = facts.pid;
    record.command = SafeText::fromBytes(facts.command);
    record.user = users.of(facts.uid);
    if (!facts.arguments.isEmpty()) {
        QStringList arguments;
        arguments.reserve(facts.arguments.size());
        for (const QByteArray& argument : facts.arguments)
            arguments.append(SafeText::fromBytes(argument));
        record.commandLine = arguments.join(QLatin1Char(' '));
    }
    record.startTime = facts.startTime;
    if (facts.workingDir) {
        record.workingDir = SafeText::fromBytes(*facts.workingDir);
        if (!QByteArrayView(*facts.workingDir).isValidUtf8())
            record.workingDirBytes = facts.workingDir;
    }
    record.service = SystemdServices::unitOfCgroup(facts.cgroupPath);
    if (application) {
        record.appName = application->localizedName;
        record.bundleID = application->bundleIdentifier;
        record.iconName = application->iconName;
    }
    return record;
}

const QString& protocolText(bool udp)
{
    static const QString tcp = QStringLiteral("TCP");
    static const QString udpText = QStringLiteral("UDP");
    return udp ? udpText : tcp;
}

// Whether a service restarts its process is asked once per unit, of all managers at once; the
// units already in `known` are not asked again.
void lookUpRestarts(QList<ServicePort>& ports, std::map<ListenerInventory::UnitKey, bool>& known)
{
    const auto keyOf = [](const ServiceUnit& unit) {
        return std::tuple(unit.name, static_cast<int>(unit.manager), unit.busAddress);
    };
    std::map<ListenerInventory::UnitKey, ServiceUnit> units;
    for (const ServicePort& port : ports) {
        if (port.service && !known.count(keyOf(*port.service)))
            units.try_emplace(keyOf(*port.service), *port.service);
    }
    if (!units.empty()) {
        QList<ServiceUnit*> asked;
        for (auto& [key, unit] : units)
            asked.append(&unit);
        SystemdServices::lookUpRestarts(asked);
        for (const auto& [key, unit] : units)
            known[key] = unit.restarts;
    }
    for (ServicePort& port : ports) {
        if (port.service)
            port.service->restarts = known.at(keyOf(*port.service));
    }
}

} // namespace

QList<ServicePort>
ListenerInventory::records(const QList<Platform::ListeningSocket>& sockets,
                           const QHash<quint64, QList<Platform::SocketHolder>>& holders,
                           const QHash<qint32, Platform::ProcessFacts>& processes)
{
    QHash<qint32, ServicePort> shared;
    return records(sockets, holders, processes, shared);
}

QList<ServicePort>
ListenerInventory::records(const QList<Platform::ListeningSocket>& sockets,
                           const QHash<quint64, QList<Platform::SocketHolder>>& holders,
                           const QHash<qint32, Platform::ProcessFacts>& processes,
                           QHash<qint32, ServicePort>& shared)
{
    // The sockets of the known processes, by process and descriptor.
    struct Holding {
        qint32 pid;
        qint32 fd;
        qsizetype socket;
    };
    std::vector<Holding> held;
    held.reserve(static_cast<size_t>(sockets.size()));
    std::vector<char> owned(static_cast<size_t>(sockets.size()), 0);
    for (qsizetype i = 0; i < sockets.size(); ++i) {
        const auto found = holders.constFind(sockets[i].inode);
        if (found == holders.cend())
            continue;
        for (const Platform::SocketHolder& holder : *found) {
            if (!processes.contains(holder.pid))
                continue;
            held.push_back({holder.pid, holder.fd, i});
            owned[static_cast<size_t>(i)] = 1;
        }
    }
    std::sort(held.begin(), held.end(), [](const Holding& a, const Holding& b) {
        return std::tie(a.pid, a.fd) < std::tie(b.pid, b.fd);
    });

    QList<ServicePort> ports;
    ports.reserve(sockets.size());
    FreshIds ids;
    UserNames users;
    // One record per port and protocol of a process (or of the unseen owners together), with the
    // address of its first socket: the port and protocol of each record made are marked until the
    // process's records are complete.
    std::vector<char> marked(2 * 65536, 0);
    const auto mark = [&](qint64 port, bool udp) -> char& {
        return marked[2 * static_cast<size_t>(port) + udp];
    };
    const auto append = [&](const ServicePort& common, qsizetype index) {
        const Platform::ListeningSocket& socket = sockets[index];
        char& seen = mark(socket.port, socket.udp);
        if (seen)
            return;
        seen = 1;
        ServicePort& record = ports.emplaceBack(common);
        record.id = ids.next();
        record.port = socket.port;
        record.networkProtocol = protocolText(socket.udp);
        record.address = socket.address;
        if (record.pid == 0)
            record.user = users.of(socket.uid);
    };
    const auto unmarkFrom = [&](qsizetype first) {
        for (qsizetype k = first; k < ports.size(); ++k)
            mark(ports.at(k).port, ports.at(k).networkProtocol == protocolText(true)) = 0;
    };

    QList<Platform::ProcessFacts> unshared;
    for (size_t k = 0; k < held.size(); ++k) {
        const qint32 pid = held[k].pid;
        if ((k == 0 || held[k - 1].pid != pid) && !shared.contains(pid))
            unshared.append(processes.value(pid));
    }
    const QHash<qint32, Platform::RunningApplication> applications =
        Platform::runningApplications(unshared);
    for (const Platform::ProcessFacts& owner : std::as_const(unshared)) {
        const auto application = applications.constFind(owner.pid);
        shared.insert(
            owner.pid,
            recordOf(owner, users, application == applications.cend() ? nullptr : &*application));
    }
    for (size_t k = 0; k < held.size();) {
        const qint32 pid = held[k].pid;
        const ServicePort& common = *shared.constFind(pid);
        const qsizetype first = ports.size();
        for (; k < held.size() && held[k].pid == pid; ++k)
            append(common, held[k].socket);
        unmarkFrom(first);
    }
    const ServicePort unseen;
    for (qsizetype i = 0; i < sockets.size(); ++i) {
        if (!owned[static_cast<size_t>(i)])
            append(unseen, i);
    }
    return ports;
}

std::optional<PortScanner::ScanResult> ListenerInventory::scan()
{
    // With nothing known, a follow-up looks into every process for every socket.
    m_holders.clear();
    m_processes.clear();
    m_sockets.clear();
    m_running.clear();
    m_shared.clear();
    m_restarts.clear();
    std::optional<PortScanner::ScanResult> result = followUp();
    if (result && !result->error)
        m_lastWholeScan = Clock::now();
    return result;
}

std::optional<PortScanner::ScanResult> ListenerInventory::rescan()
{
    if (!m_lastWholeScan || Clock::now() - *m_lastWholeScan >= wholeScanInterval)
        return scan();
    return followUp();
}

std::optional<PortScanner::ScanResult> ListenerInventory::followUp()
{
    // The kernel lists the sockets, and /proc the processes, while the descriptors due to be read
    // again are read.
    struct Machine {
        std::optional<Platform::SocketTable> table;
        QHash<qint32, quint64> running;
    };
    std::future<Machine> listing = std::async(std::launch::async, [] {
        return Machine{Platform::listeningSockets(), Platform::runningProcesses()};
    });

    // The holders found before: those of the processes whose turn it is are read again now, the
    // others are taken as they were unless something below gives cause to doubt them.
    const quint32 turn = static_cast<quint32>(m_followUps++ % rereadEvery);
    const auto due = [turn](qint32 pid) {
        return static_cast<quint32>((static_cast<quint64>(static_cast<quint32>(pid) * 2654435761u) *
                                     rereadEvery) >> 32) == turn;
    };
    QList<Platform::SocketHolder> dueHolders;
    for (const QList<Platform::SocketHolder>& list : std::as_const(m_holders)) {
        for (const Platform::SocketHolder& holder : list) {
            if (due(holder.pid))
                dueHolders.append(holder);
        }
    }
    const QList<std::optional<quint64>> stillHeld = Platform::socketInodes(dueHolders);

    const Machine machine = listing.get();
    const std::optional<Platform::SocketTable>& table = machine.table;
    if (!table)
        return std::nullopt;
    if (table->error)
        return PortScanner::ScanResult{{}, table->error};

    // A process is the one seen before while its pid keeps its number; a pid that passed to
    // another process makes that process new, and what was read of it before goes.
    const QHash<qint32, quint64>& running = machine.running;
    const auto seenBefore = [&](qint32 pid) {
        const auto before = m_running.constFind(pid);
        const auto now = running.constFind(pid);
        return before != m_running.cend() && now != running.cend() && *before == *now;
    };
    QList<qint32> newProcesses;
    QList<qint32> oldProcesses;
    for (auto it = running.cbegin(); it != running.cend(); ++it)
        (seenBefore(it.key()) ? oldProcesses : newProcesses).append(it.key());

    QSet<quint64> sockets;
    sockets.reserve(table->sockets.size());
    for (const Platform::ListeningSocket& socket : table->sockets)
        sockets.insert(socket.inode);
    // The same walk as above, so that the holders read again come in the order they were read.
    QHash<quint64, QList<Platform::SocketHolder>> holders;
    holders.reserve(m_holders.size());
    QList<quint64> takenSockets;
    QList<Platform::SocketHolder> taken;
    qsizetype next = 0;
    for (auto it = m_holders.cbegin(); it != m_holders.cend(); ++it) {
        const bool listed = sockets.contains(it.key());
        for (const Platform::SocketHolder& holder : it.value()) {
            const bool wasDue = due(holder.pid);
            if (wasDue && stillHeld[next++] != it.key())
                continue;
            if (!listed || !seenBefore(holder.pid))
                continue;
            holders[it.key()].append(holder);
            if (!wasDue) {
                takenSockets.append(it.key());
                taken.append(holder);
            }
        }
    }
    // The sockets that are new, or that none of their holders hold any more, are sought
    // everywhere; a new process may have inherited any socket.
    const auto unheld = [&](const auto& inodes) {
        QSet<quint64> found;
        for (const quint64 inode : inodes) {
            if (!holders.contains(inode) &&
                (m_holders.contains(inode) || !m_sockets.contains(inode)))
                found.insert(inode);
        }
        return found;
    };
    const QHash<quint64, QList<Platform::SocketHolder>> inNew =
        Platform::socketHoldersIn(newProcesses, sockets);
    const QSet<quint64> sought = unheld(sockets);
    QList<QHash<quint64, QList<Platform::SocketHolder>>> found{inNew};
    if (!sought.isEmpty())
        found.append(Platform::socketHoldersIn(oldProcesses, sought));

    // A holder taken as it was is read after all when its socket turned up in a new process (its
    // parent may have closed it after the fork) or its process holds a socket it did not before
    // (it may have closed one, or put another in its place). A socket left with no holder then is
    // sought in the processes seen before as well.
    QSet<qint32> changed;
    for (qsizetype k = 1; k < found.size(); ++k) {
        for (const QList<Platform::SocketHolder>& list : std::as_const(found[k])) {
            for (const Platform::SocketHolder& holder : list)
                changed.insert(holder.pid);
        }
    }
    QList<quint64> doubtedSockets;
    QList<Platform::SocketHolder> doubted;
    for (qsizetype i = 0; i < taken.size(); ++i) {
        if (inNew.contains(takenSockets[i]) || changed.contains(taken[i].pid)) {
            doubtedSockets.append(takenSockets[i]);
            doubted.append(taken[i]);
        }
    }
    if (!doubted.isEmpty()) {
        const QList<std::optional<quint64>> doubtedHeld = Platform::socketInodes(doubted);
        QSet<quint64> dropped;
        for (qsizetype i = 0; i < doubted.size(); ++i) {
            if (doubtedHeld[i] == doubtedSockets[i])
                continue;
            QList<Platform::SocketHolder>& list = holders[doubtedSockets[i]];
            list.removeIf([&](const Platform::SocketHolder& holder) {
                return holder.pid == doubted[i].pid && holder.fd == doubted[i].fd;
            });
            if (list.isEmpty())
                holders.remove(doubtedSockets[i]);
            dropped.insert(doubtedSockets[i]);
        }
        QSet<quint64> orphans = unheld(dropped);
        orphans.subtract(sought);
        if (!orphans.isEmpty())
            found.append(Platform::socketHoldersIn(oldProcesses, orphans));
    }
    QSet<quint64> added;
    for (const QHash<quint64, QList<Platform::SocketHolder>>& more : std::as_const(found)) {
        for (auto it = more.cbegin(); it != more.cend(); ++it) {
            holders[it.key()].append(it.value());
            added.insert(it.key());
        }
    }
    // Holders found before are in order already.
    for (const quint64 inode : std::as_const(added)) {
        QList<Platform::SocketHolder>& list = holders[inode];
        std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
            return std::tie(a.pid, a.fd) < std::tie(b.pid, b.fd);
        });
    }

    // Facts are read for the processes not seen holding before; the others keep theirs.
    QSet<qint32> owners;
    for (const QList<Platform::SocketHolder>& list : std::as_const(holders)) {
        for (const Platform::SocketHolder& holder : list)
            owners.insert(holder.pid);
    }
    m_processes.removeIf([&](const auto& entry) {
        return !owners.contains(entry.key()) || !seenBefore(entry.key());
    });
    m_shared.removeIf([&](const auto& entry) { return !m_processes.contains(entry.key()); });
    QList<qint32> unread;
    for (const qint32 pid : std::as_const(owners)) {
        if (!m_processes.contains(pid))
            unread.append(pid);
    }
    std::sort(unread.begin(), unread.end());
    for (Platform::ProcessFacts& facts : Platform::processFacts(unread))
        m_processes.insert(facts.pid, std::move(facts));

    m_holders = std::move(holders);
    m_sockets = std::move(sockets);
    m_running = running;

    QList<ServicePort> ports = records(table->sockets, m_holders, m_processes, m_shared);
    lookUpRestarts(ports, m_restarts);
    return PortScanner::ScanResult{std::move(ports), std::nullopt};
}
