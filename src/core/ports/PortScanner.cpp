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

ScanResult scanResult()
{
    auto containers = ContainerRecords::startListing();
    ListenerInventory inventory;
    std::optional<ScanResult> result = inventory.scan();
    if (result && !result->error)
        ContainerRecords::describe(*result, inventory.processes(), containers.get());
    if (!result)
        result = detail::lsofScan();
    detail::sortByPortAndProtocol(result->ports);
    return *std::move(result);
}

QList<ServicePort> scan()
{
    return scanResult().ports;
}

} // namespace PortScanner
