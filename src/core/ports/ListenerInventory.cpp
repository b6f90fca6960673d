#include "ListenerInventory.h"

#include "FreshIds.h"
#include "PortScannerParsing.h"
#include "SafeText.h"
#include "SystemdServices.h"

#include <QByteArrayView>

#include <algorithm>
#include <map>
#include <set>

namespace {

// What every record of one process shares; texts are made once and shared by its records.
struct Owner {
    QString command;
    QString user;
    std::optional<QString> commandLine;
    std::optional<quint64> startTime;
    std::optional<QString> workingDir;
    std::optional<QByteArray> workingDirBytes;
    std::optional<ServiceUnit> service;
};

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

Owner ownerOf(const Platform::ProcessFacts& facts, UserNames& users)
{
    Owner owner;
    owner.command = SafeText::fromBytes(facts.command);
    owner.user = users.of(facts.uid);
    if (!facts.arguments.isEmpty()) {
        QStringList arguments;
        arguments.reserve(facts.arguments.size());
        for (const QByteArray& argument : facts.arguments)
            arguments.append(SafeText::fromBytes(argument));
        owner.commandLine = arguments.join(QLatin1Char(' '));
    }
    owner.startTime = facts.startTime;
    if (facts.workingDir) {
        owner.workingDir = SafeText::fromBytes(*facts.workingDir);
        if (!QByteArrayView(*facts.workingDir).isValidUtf8())
            owner.workingDirBytes = facts.workingDir;
    }
    owner.service = SystemdServices::unitOfCgroup(facts.cgroupPath);
    return owner;
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
    std::map<std::tuple<QString, int, QString>, ServiceUnit> units;
    for (const ServicePort& port : ports) {
        if (port.service)
            units.try_emplace({port.service->name, static_cast<int>(port.service->manager),
                               port.service->busAddress},
                              *port.service);
    }
    if (units.empty())
        return;
    QList<ServiceUnit*> asked;
    for (auto& [key, unit] : units)
        asked.append(&unit);
    SystemdServices::lookUpRestarts(asked);
    for (ServicePort& port : ports) {
        if (port.service)
            port.service->restarts =
                units
                    .at({port.service->name, static_cast<int>(port.service->manager),
                         port.service->busAddress})
                    .restarts;
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
    auto append = [&](const Platform::ListeningSocket& socket, qint32 pid) -> ServicePort& {
        ServicePort& record = ports.emplaceBack();
        record.id = ids.next();
        record.port = socket.port;
        record.networkProtocol = protocolText(socket.udp);
        record.address = socket.address;
        record.pid = pid;
        return record;
    };

    const QHash<qint32, Platform::RunningApplication> applications = [&] {
        QList<Platform::ProcessFacts> owners;
        for (const auto& [pid, descriptors] : held)
            owners.append(processes.value(pid));
        return Platform::runningApplications(owners);
    }();

    for (auto& [pid, descriptors] : held) {
        std::sort(descriptors.begin(), descriptors.end());
        const Owner owner = ownerOf(processes.value(pid), users);
        const auto application = applications.constFind(pid);
        std::set<std::pair<quint16, bool>> seen;
        for (const auto& [fd, index] : descriptors) {
            const Platform::ListeningSocket& socket = sockets[index];
            if (!seen.insert({socket.port, socket.udp}).second)
                continue;
            ServicePort& record = append(socket, pid);
            record.command = owner.command;
            record.user = owner.user;
            record.commandLine = owner.commandLine;
            record.startTime = owner.startTime;
            record.workingDir = owner.workingDir;
            record.workingDirBytes = owner.workingDirBytes;
            record.service = owner.service;
            if (application != applications.cend()) {
                record.appName = application->localizedName;
                record.bundleID = application->bundleIdentifier;
                record.iconName = application->iconName;
            }
        }
    }

    std::set<std::pair<quint16, bool>> seenUnowned;
    for (qsizetype i = 0; i < sockets.size(); ++i) {
        const Platform::ListeningSocket& socket = sockets[i];
        if (owned[static_cast<size_t>(i)] || !seenUnowned.insert({socket.port, socket.udp}).second)
            continue;
        append(socket, 0).user = users.of(socket.uid);
    }
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
