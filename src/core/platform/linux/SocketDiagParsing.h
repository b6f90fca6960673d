#pragma once

// The pieces of the Linux socket table, open to tests and fuzzers. Not part of the library's
// contract.

#include "platform/Platform.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <array>

namespace Platform::detail {

// Address texts shared by the sockets of one table: most sockets listen on one of a few.
class AddressTexts {
public:
    // The text of a 4-byte (IPv4) or 16-byte (IPv6) address: "*" for the any-address.
    const QString& text(int family, const std::array<quint32, 4>& address);

private:
    struct Key {
        int family;
        std::array<quint32, 4> address;
        bool operator==(const Key&) const = default;
    };
    friend size_t qHash(const Key& key, size_t seed)
    {
        return qHashMulti(seed, key.family, key.address[0], key.address[1], key.address[2],
                          key.address[3]);
    }
    QHash<Key, QString> texts_;
};

// Where one datagram of a sock_diag dump leaves the dump.
struct DiagProgress {
    enum class State { more, done, failed };
    State state = State::more;
    // The error number the kernel answered with, when failed.
    int error = 0;
};

// Reads one datagram of a dump of TCP (udp false) or UDP sockets: appends the TCP sockets in the
// listening state and the UDP sockets without a peer, each with a port, to `sockets`.
DiagProgress readDiagDatagram(QByteArrayView datagram, bool udp, QList<ListeningSocket>& sockets,
                              AddressTexts& addresses);

// The request for a dump of one family's TCP listeners or UDP sockets without a peer.
QByteArray diagRequest(int family, bool udp, quint32 sequence);

} // namespace Platform::detail
