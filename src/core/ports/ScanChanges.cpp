#include "ScanChanges.h"

#include <QHash>

namespace {

struct Identity {
    qint32 pid = 0;
    qint64 port = 0;
    QString protocol;
    int occurrence = 0;
    bool operator==(const Identity&) const = default;
};

size_t qHash(const Identity& identity, size_t seed = 0)
{
    return qHashMulti(seed, identity.pid, identity.port, identity.protocol, identity.occurrence);
}

// Every field but the id. (A copy with the other's id would do, at the cost of copying every
// field of every record of every scan.)
bool sameButId(const ServicePort& a, const ServicePort& b)
{
    return a.port == b.port && a.networkProtocol == b.networkProtocol && a.address == b.address &&
           a.pid == b.pid && a.command == b.command && a.user == b.user && a.appName == b.appName &&
           a.bundleID == b.bundleID && a.workingDir == b.workingDir &&
           a.commandLine == b.commandLine && a.startTime == b.startTime &&
           a.iconName == b.iconName && a.workingDirBytes == b.workingDirBytes &&
           a.service == b.service && a.container == b.container;
}

} // namespace

ScanChanges ScanChanges::between(const QList<ServicePort>& before, const QList<ServicePort>& after)
{
    ScanChanges changes{before, std::vector<int>(static_cast<size_t>(after.size()), -1),
                        std::vector<char>(static_cast<size_t>(after.size()), 0)};
    QHash<Identity, int> earlier;
    earlier.reserve(before.size());
    for (qsizetype j = 0; j < before.size(); ++j) {
        const ServicePort& p = before.at(j);
        Identity key{p.pid, p.port, p.networkProtocol, 0};
        while (earlier.contains(key))
            ++key.occurrence;
        earlier.insert(key, static_cast<int>(j));
    }
    std::vector<char> followed(static_cast<size_t>(before.size()), 0);
    for (qsizetype i = 0; i < after.size(); ++i) {
        const ServicePort& p = after.at(i);
        Identity key{p.pid, p.port, p.networkProtocol, 0};
        int j = earlier.value(key, -1);
        while (j >= 0 && followed[static_cast<size_t>(j)]) {
            ++key.occurrence;
            j = earlier.value(key, -1);
        }
        if (j < 0)
            continue;
        followed[static_cast<size_t>(j)] = 1;
        changes.follows[static_cast<size_t>(i)] = j;
        changes.same[static_cast<size_t>(i)] = sameButId(before.at(j), p);
    }
    return changes;
}
