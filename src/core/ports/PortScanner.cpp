#include "PortScanner.h"

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

// Where the system has no socket table of its own, the listing tool's.
ScanResult completed(std::optional<ScanResult> result)
{
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
    return completed(inventory.scan());
}

ScanResult rescanResult(ListenerInventory& inventory)
{
    return completed(inventory.rescan());
}

QList<ServicePort> scan()
{
    return scanResult().ports;
}

} // namespace PortScanner
