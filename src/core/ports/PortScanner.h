#pragma once

#include "Models.h"

#include <QList>
#include <QString>

#include <optional>

// Lists the listening sockets of this machine with their owning processes.
namespace PortScanner {

// Reads the socket table with the owning processes and their facts, sorted by port and protocol.
// Blocks for as long as that takes; call it off the main thread. A listing that fails gives no
// records.
QList<ServicePort> scan();

// A scan, with the reason when the sockets could not be listed at all.
struct ScanResult {
    QList<ServicePort> ports;
    std::optional<QString> error;
    // Why a container engine could not name a container behind a socket, e.g. "没有权限连接
    // /var/run/docker.sock"; it comes from outside (a path, the engine's words).
    std::optional<QString> engineProblem = std::nullopt;
};
ScanResult scanResult();

// Turns the listing tool's field output into records, in output order, without duplicates.
QList<ServicePort> parse(const QString& output);

} // namespace PortScanner
