#include "PortScanner.h"

#include "ContainerRecords.h"
#include "ListenerInventory.h"
#include "PortScannerParsing.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace PortScanner {

namespace detail {

void sortByPortAndProtocol(QList<ServicePort>& ports)
{
    // The order is found on positions and the records moved once into it: moving a record costs
    // more than comparing two.
    std::vector<qsizetype> order(static_cast<size_t>(ports.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype i, qsizetype j) {
        const ServicePort& a = ports.at(i);
        const ServicePort& b = ports.at(j);
        if (a.port != b.port)
            return a.port < b.port;
        return a.networkProtocol < b.networkProtocol;
    });
    QList<ServicePort> sorted;
    sorted.reserve(ports.size());
    for (const qsizetype i : order)
        sorted.append(std::move(ports[i]));
    ports = std::move(sorted);
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
