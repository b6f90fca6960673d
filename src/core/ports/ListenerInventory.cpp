#include "ListenerInventory.h"

#include "FreshIds.h"
#include "SafeText.h"
#include "SystemdServices.h"

#include <QByteArrayView>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

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

// Whether a service restarts its process is asked once per unit, of all managers at once.
void lookUpRestarts(QList<ServicePort>& ports)
{
    const auto keyOf = [](const ServiceUnit& unit) {
        return std::tuple(unit.name, static_cast<int>(unit.manager), unit.busAddress);
    };
    std::map<std::tuple<QString, int, QString>, ServiceUnit> units;
    for (const ServicePort& port : ports) {
        if (port.service)
            units.try_emplace(keyOf(*port.service), *port.service);
    }
    if (units.empty())
        return;
    QList<ServiceUnit*> asked;
    for (auto& [key, unit] : units)
        asked.append(&unit);
    SystemdServices::lookUpRestarts(asked);
    for (ServicePort& port : ports) {
        if (port.service)
            port.service->restarts = units.at(keyOf(*port.service)).restarts;
    }
}

} // namespace

QList<ServicePort>
ListenerInventory::records(const QList<Platform::ListeningSocket>& sockets,
                           const QHash<quint64, QList<Platform::SocketHolder>>& holders,
                           const QHash<qint32, Platform::ProcessFacts>& processes)
{
    // The sockets of each known process, by descriptor.
    std::map<qint32, std::vector<std::pair<qint32, qsizetype>>> held;
    std::vector<bool> owned(static_cast<size_t>(sockets.size()), false);
    for (qsizetype i = 0; i < sockets.size(); ++i) {
        for (const Platform::SocketHolder& holder : holders.value(sockets[i].inode)) {
            if (!processes.contains(holder.pid))
                continue;
            held[holder.pid].emplace_back(holder.fd, i);
            owned[static_cast<size_t>(i)] = true;
        }
    }

    QList<ServicePort> ports;
    ports.reserve(sockets.size());
    FreshIds ids;
    UserNames users;
    // One record per port and protocol of a process (or of the unseen owners together).
    auto appendEach = [&](const ServicePort& shared, const std::vector<qsizetype>& indices) {
        std::set<std::pair<quint16, bool>> seen;
        for (const qsizetype index : indices) {
            const Platform::ListeningSocket& socket = sockets[index];
            if (!seen.insert({socket.port, socket.udp}).second)
                continue;
            ServicePort& record = ports.emplaceBack(shared);
            record.id = ids.next();
            record.port = socket.port;
            record.networkProtocol = protocolText(socket.udp);
            record.address = socket.address;
            if (record.pid == 0)
                record.user = users.of(socket.uid);
        }
    };

    QList<Platform::ProcessFacts> owners;
    for (const auto& [pid, descriptors] : held)
        owners.append(processes.value(pid));
    const QHash<qint32, Platform::RunningApplication> applications =
        Platform::runningApplications(owners);
    for (const Platform::ProcessFacts& owner : std::as_const(owners)) {
        auto& descriptors = held[owner.pid];
        std::sort(descriptors.begin(), descriptors.end());
        std::vector<qsizetype> indices;
        for (const auto& [fd, index] : descriptors)
            indices.push_back(index);
        const auto application = applications.constFind(owner.pid);
        appendEach(
            recordOf(owner, users, application == applications.cend() ? nullptr : &*application),
            indices);
    }

    std::vector<qsizetype> unowned;
    for (qsizetype i = 0; i < sockets.size(); ++i) {
        if (!owned[static_cast<size_t>(i)])
            unowned.push_back(i);
    }
    appendEach(ServicePort{}, unowned);
    return ports;
}

std::optional<PortScanner::ScanResult> ListenerInventory::scan()
{
    const std::optional<Platform::SocketTable> table = Platform::listeningSockets();
    if (!table)
        return std::nullopt;
    if (table->error)
        return PortScanner::ScanResult{{}, table->error};

    QSet<quint64> inodes;
    inodes.reserve(table->sockets.size());
    for (const Platform::ListeningSocket& socket : table->sockets)
        inodes.insert(socket.inode);
    m_holders = Platform::socketHolders(inodes);

    QSet<qint32> pids;
    for (const auto& holders : std::as_const(m_holders)) {
        for (const Platform::SocketHolder& holder : holders)
            pids.insert(holder.pid);
    }
    QList<qint32> ordered(pids.begin(), pids.end());
    std::sort(ordered.begin(), ordered.end());
    m_processes.clear();
    for (Platform::ProcessFacts& facts : Platform::processFacts(ordered))
        m_processes.insert(facts.pid, std::move(facts));

    QList<ServicePort> ports = records(table->sockets, m_holders, m_processes);
    lookUpRestarts(ports);
    return PortScanner::ScanResult{std::move(ports), std::nullopt};
}
