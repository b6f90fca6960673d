#include "PortMatching.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace Containers {
namespace {

struct HostAddress {
    enum class Kind { anyFamily, anyIPv4, anyIPv6, specific, unparsed };
    Kind kind = Kind::unparsed;
    // IPv4 addresses (also IPv4-mapped ones) in the first four bytes.
    std::array<unsigned char, 16> bytes{};
    int length = 0;
    QString text;
};

HostAddress readAddress(QStringView text)
{
    HostAddress address;
    if (text.isEmpty() || text == u"*") {
        address.kind = HostAddress::Kind::anyFamily;
        return address;
    }
    // A zone ("fe80::1%eth0") names the link, not the address.
    const qsizetype zone = text.indexOf(u'%');
    const QByteArray bare = text.left(zone < 0 ? text.size() : zone).toLatin1();
    in_addr v4{};
    in6_addr v6{};
    if (bare.contains('\0')) {
        // inet_pton would read only up to the NUL.
        address.text = text.toString().toLower();
        return address;
    }
    if (::inet_pton(AF_INET, bare.constData(), &v4) == 1) {
        std::memcpy(address.bytes.data(), &v4, 4);
        address.length = 4;
    } else if (::inet_pton(AF_INET6, bare.constData(), &v6) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            std::memcpy(address.bytes.data(), v6.s6_addr + 12, 4);
            address.length = 4;
        } else {
            std::memcpy(address.bytes.data(), v6.s6_addr, 16);
            address.length = 16;
            if (IN6_IS_ADDR_UNSPECIFIED(&v6)) {
                address.kind = HostAddress::Kind::anyIPv6;
                return address;
            }
        }
    } else {
        address.text = text.toString().toLower();
        return address;
    }
    const bool zero = std::all_of(address.bytes.begin(), address.bytes.begin() + address.length,
                                  [](unsigned char byte) { return byte == 0; });
    address.kind =
        zero && address.length == 4 ? HostAddress::Kind::anyIPv4 : HostAddress::Kind::specific;
    return address;
}

bool isAny(HostAddress::Kind kind)
{
    return kind == HostAddress::Kind::anyFamily || kind == HostAddress::Kind::anyIPv4 ||
           kind == HostAddress::Kind::anyIPv6;
}

} // namespace

bool sameHostAddress(QStringView socketAddress, QStringView publishedIp)
{
    const HostAddress a = readAddress(socketAddress);
    const HostAddress b = readAddress(publishedIp);
    if (isAny(a.kind) || isAny(b.kind)) {
        // "*" says no family; 0.0.0.0 and :: do, and then they must agree.
        return isAny(a.kind) && isAny(b.kind) &&
               (a.kind == HostAddress::Kind::anyFamily || b.kind == HostAddress::Kind::anyFamily ||
                a.kind == b.kind);
    }
    if (a.kind == HostAddress::Kind::unparsed || b.kind == HostAddress::Kind::unparsed)
        return a.kind == b.kind && a.text == b.text;
    return a.length == b.length &&
           std::equal(a.bytes.begin(), a.bytes.begin() + a.length, b.bytes.begin());
}

bool publishes(const PublishedPort& port, const ListeningSocket& socket)
{
    return port.publicPort == socket.port &&
           port.type.compare(socket.networkProtocol, Qt::CaseInsensitive) == 0 &&
           sameHostAddress(socket.address, port.ip);
}

} // namespace Containers
