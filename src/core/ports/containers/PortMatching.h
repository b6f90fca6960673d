#pragma once

#include "ContainerList.h"

#include <QString>
#include <QStringView>

namespace Containers {

// A listening socket as the scan reports it: "TCP" or "UDP", the port, and the host address
// ("*" for an any-address, IPv6 without brackets).
struct ListeningSocket {
    QString networkProtocol;
    qint64 port = 0;
    QString address;
};

// Whether a socket at this address can be the one behind a port published at `publishedIp`. An
// any-address ("*", "", "0.0.0.0", "::") only matches an any-address, since the engine's proxy
// listens exactly where the port is published; other addresses compare as addresses, so
// "::0:1" is "::1" and IPv4-mapped IPv6 is its IPv4 address.
bool sameHostAddress(QStringView socketAddress, QStringView publishedIp);

// Whether the container publishes this socket: same protocol, the socket's port as its public
// port, and the same host address.
bool publishes(const PublishedPort& port, const ListeningSocket& socket);

} // namespace Containers
