#include "PortScanner.h"

#include "ContainerRecords.h"
#include "ListenerInventory.h"
#include "PortScannerParsing.h"

#include <algorithm>

namespace PortScanner {

namespace detail {

void sortByPortAndProtocol(QList<ServicePort>& ports)
{
    std::stable_sort(ports.begin(), ports.end(), [](const ServicePort& a, const ServicePort& b) {
        if (a.port != b.port)
            return a.port < b.port;
        return a.networkProtocol < b.networkProtocol;
    });
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
