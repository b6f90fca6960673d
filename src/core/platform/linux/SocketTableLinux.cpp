#include "Descriptor.h"
#include "SocketDiagParsing.h"
#include "platform/Platform.h"

#include <QByteArray>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Platform {
namespace detail {
namespace {

// The fault a test forces on the socket table: an error number, or 0 for none.
std::atomic<int> forcedFault{0};

QString reason(int error)
{
    return QStringLiteral("netlink sock_diag: ") + QString::fromLocal8Bit(std::strerror(error));
}

template <typename T> T readAt(QByteArrayView bytes, qsizetype at)
{
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

bool isAnyAddress(const std::array<quint32, 4>& address, int family)
{
    return family == AF_INET ? address[0] == 0 : address == std::array<quint32, 4>{};
}

// Runs one dump to its end. Returns 0, or the error number that ended it.
int dump(int fd, int family, bool udp, quint32 sequence, std::vector<char>& buffer,
         QList<ListeningSocket>& sockets, AddressTexts& addresses)
{
    const QByteArray request = diagRequest(family, udp, sequence);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, request.constData(), static_cast<size_t>(request.size()), 0,
                 reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0)
        return errno;
    for (;;) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        // A datagram larger than the buffer lost its end.
        if (static_cast<size_t>(got) > buffer.size())
            return EMSGSIZE;
        const DiagProgress progress = readDiagDatagram(
            QByteArrayView(buffer.data(), static_cast<qsizetype>(got)), udp, sockets, addresses);
        if (progress.state == DiagProgress::State::done)
            return 0;
        if (progress.state == DiagProgress::State::failed)
            return progress.error;
    }
}

} // namespace

const QString& AddressTexts::text(int family, const std::array<quint32, 4>& address)
{
    const Key key{family, address};
    auto it = texts_.find(key);
    if (it != texts_.end())
        return *it;
    QString text;
    if (isAnyAddress(address, family)) {
        text = QStringLiteral("*");
    } else {
        char buffer[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(family, address.data(), buffer, sizeof buffer);
        text = QString::fromLatin1(buffer);
    }
    return *texts_.insert(key, text);
}

DiagProgress readDiagDatagram(QByteArrayView datagram, bool udp, QList<ListeningSocket>& sockets,
                              AddressTexts& addresses)
{
    qsizetype at = 0;
    while (datagram.size() - at >= static_cast<qsizetype>(sizeof(nlmsghdr))) {
        const auto header = readAt<nlmsghdr>(datagram, at);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.size() - at)
            return {DiagProgress::State::failed, EBADMSG};
        const QByteArrayView payload =
            datagram.sliced(at + NLMSG_HDRLEN, header.nlmsg_len - NLMSG_HDRLEN);
        at += std::min<qsizetype>(NLMSG_ALIGN(header.nlmsg_len), datagram.size() - at);

        if (header.nlmsg_type == NLMSG_DONE)
            return {DiagProgress::State::done, 0};
        if (header.nlmsg_type == NLMSG_ERROR) {
            if (payload.size() < static_cast<qsizetype>(sizeof(int)))
                return {DiagProgress::State::failed, EBADMSG};
            const int error = -readAt<int>(payload, 0);
            return {DiagProgress::State::failed, error > 0 ? error : EBADMSG};
        }
        if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY ||
            payload.size() < static_cast<qsizetype>(sizeof(inet_diag_msg)))
            continue;

        const auto message = readAt<inet_diag_msg>(payload, 0);
        const int family = message.idiag_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        const bool wanted = udp ? message.idiag_state == TCP_CLOSE && message.id.idiag_dport == 0
                                : message.idiag_state == TCP_LISTEN;
        const quint16 port = ntohs(message.id.idiag_sport);
        if (!wanted || port == 0)
            continue;
        std::array<quint32, 4> address;
        std::memcpy(address.data(), message.id.idiag_src, sizeof address);
        if (family == AF_INET)
            address[1] = address[2] = address[3] = 0;
        sockets.append(ListeningSocket{message.idiag_inode, udp, addresses.text(family, address),
                                       port, message.idiag_uid});
    }
    return {DiagProgress::State::more, 0};
}

QByteArray diagRequest(int family, bool udp, quint32 sequence)
{
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = sequence;
    message.request.sdiag_family = static_cast<__u8>(family);
    message.request.sdiag_protocol = udp ? IPPROTO_UDP : IPPROTO_TCP;
    message.request.idiag_states = udp ? 1u << TCP_CLOSE : 1u << TCP_LISTEN;
    return QByteArray(reinterpret_cast<const char*>(&message), sizeof message);
}

} // namespace detail

std::optional<SocketTable> listeningSockets()
{
    if (const int fault = detail::forcedFault.load())
        return SocketTable{{}, detail::reason(fault)};
    const detail::Descriptor netlink(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!netlink.valid())
        return SocketTable{{}, detail::reason(errno)};

    SocketTable table;
    detail::AddressTexts addresses;
    std::vector<char> buffer(64 * 1024);
    quint32 sequence = 0;
    for (const bool udp : {false, true}) {
        for (const int family : {AF_INET, AF_INET6}) {
            const int error = detail::dump(netlink.get(), family, udp, ++sequence, buffer,
                                           table.sockets, addresses);
            // A kernel without IPv6 has no IPv6 table to dump.
            if (error == 0 || (family == AF_INET6 && (error == ENOENT || error == EAFNOSUPPORT)))
                continue;
            return SocketTable{{}, detail::reason(error)};
        }
    }
    return table;
}

namespace testing {

void setSocketTableFault(std::optional<int> errorNumber)
{
    detail::forcedFault = errorNumber.value_or(0);
}

} // namespace testing

} // namespace Platform
