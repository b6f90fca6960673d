#include "PortScanner.h"

#include "ContainerRecords.h"
#include "ListenerInventory.h"
#include "PortScannerParsing.h"

#include <QStringList>

#include <algorithm>
#include <tuple>
#include <vector>

namespace PortScanner {

namespace detail {

void sortByPortAndProtocol(QList<ServicePort>& ports)
{
    // The order is found on keys taken out of the records, and the records are moved once into
    // it: comparing records spread over memory, or moving them at every step, costs more.
    QStringList protocols;
    for (const ServicePort& record : std::as_const(ports)) {
        if (!protocols.contains(record.networkProtocol))
            protocols.append(record.networkProtocol);
    }
    std::sort(protocols.begin(), protocols.end());
    struct Key {
        qint64 port;
        qsizetype protocol;
        qsizetype index;
    };
    std::vector<Key> keys;
    keys.reserve(static_cast<size_t>(ports.size()));
    for (qsizetype i = 0; i < ports.size(); ++i)
        keys.push_back({ports.at(i).port, protocols.indexOf(ports.at(i).networkProtocol), i});
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return std::tie(a.port, a.protocol, a.index) < std::tie(b.port, b.protocol, b.index);
    });
    // Each cycle of the order is followed once, in place: a second list of records would be
    // fresh memory that the system has to hand over page by page.
    std::vector<char> placed(keys.size(), 0);
    for (size_t start = 0; start < keys.size(); ++start) {
        if (placed[start] || keys[start].index == static_cast<qsizetype>(start))
            continue;
        ServicePort first = std::move(ports[static_cast<qsizetype>(start)]);
        size_t at = start;
        for (;;) {
            placed[at] = 1;
            const auto from = static_cast<size_t>(keys[at].index);
            if (from == start) {
                ports[static_cast<qsizetype>(at)] = std::move(first);
                break;
            }
            ports[static_cast<qsizetype>(at)] = std::move(ports[static_cast<qsizetype>(from)]);
            at = from;
        }
    }
}

} // namespace detail

namespace {

// A scan of the inventory, and the container behind each record; where the system has no socket
// table of its own, the listing tool's.
template <typename Scan> ScanResult completed(ListenerInventory& inventory, Scan scan)
{
    // The engines are asked while the sockets are walked.
    auto containers = ContainerRecords::startListing();
    std::optional<ScanResult> result = scan(inventory);
    if (result && !result->error)
        ContainerRecords::describe(*result, inventory.processes(), containers.get());
    if (!result)
        result = detail::lsofScan();
    detail::sortByPortAndProtocol(result->ports);
    return *std::move(result);
}

} // namespace

ScanResult scanResult()
{
    ListenerInventory inventory;
    return scanResult(inventory);
}

ScanResult scanResult(ListenerInventory& inventory)
{
    return completed(inventory, [](ListenerInventory& kept) { return kept.scan(); });
}

ScanResult rescanResult(ListenerInventory& inventory)
{
    return completed(inventory, [](ListenerInventory& kept) { return kept.rescan(); });
}

QList<ServicePort> scan()
{
    return scanResult().ports;
}

} // namespace PortScanner
