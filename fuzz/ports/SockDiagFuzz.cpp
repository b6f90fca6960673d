// Replies of the kernel's sock_diag dumps, as a datagram could hold them.
#include "SocketDiagParsing.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses a TCP or a UDP dump.
    const bool udp = data[0] & 1;
    const QByteArrayView datagram(reinterpret_cast<const char*>(data + 1),
                                  static_cast<qsizetype>(size - 1));
    QList<Platform::ListeningSocket> sockets;
    Platform::detail::AddressTexts addresses;
    const auto progress = Platform::detail::readDiagDatagram(datagram, udp, sockets, addresses);
    using State = Platform::detail::DiagProgress::State;
    if ((progress.state == State::failed) != (progress.error > 0))
        __builtin_trap();
    for (const auto& socket : sockets) {
        if (socket.port == 0 || socket.address.isEmpty() || socket.udp != udp)
            __builtin_trap();
    }
    return 0;
}
