// An engine's container listing, and every socket it publishes matched back against it.
#include "ContainerLookup.h"

#include <cstddef>
#include <cstdint>

using namespace Containers;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto containers = parseContainerList(bytes);
    if (!containers)
        return 0;
    const QString engine = QStringLiteral("/run/docker.sock");
    const QList<EngineListing> listings{{{Engine::docker, engine}, *containers, std::nullopt}};

    // A socket for every published port, held by dockerd or by a process the scan could not see,
    // must be named after a container that publishes it.
    QList<SocketFacts> sockets;
    for (const EngineContainer& container : *containers) {
        for (const PublishedPort& port : container.ports) {
            if (!port.publicPort)
                continue;
            const ListeningSocket socket{port.type, *port.publicPort, port.ip};
            sockets.append(SocketFacts{socket, {"dockerd", {}, {}}});
            sockets.append(SocketFacts{socket, {}, false});
        }
    }
    const qsizetype published = sockets.size();
    sockets.append(SocketFacts{{"TCP", 8080, "*"},
                               {"docker-proxy",
                                {"docker-proxy", "-proto", "tcp", "-host-ip", "::", "-host-port",
                                 "8080", "-container-ip", "fd00::2", "-container-port", "80"},
                                {}}});
    sockets.append(
        SocketFacts{{"UDP", 53, "::1"}, {"conmon", {"conmon", "-c", "0123456789abcdef"}, {}}});

    const Descriptions descriptions = describe(sockets, listings);
    if (descriptions.containers.size() != sockets.size() || descriptions.engineProblem)
        __builtin_trap();
    for (qsizetype i = 0; i < published; ++i) {
        const auto& description = descriptions.containers[i];
        if (!description || !description->canStop() || description->name.isEmpty() ||
            *description->engineSocket != engine)
            __builtin_trap();
        bool publishes = false;
        for (const EngineContainer& container : *containers) {
            if (container.id != *description->id)
                continue;
            for (const PublishedPort& port : container.ports)
                publishes = publishes || Containers::publishes(port, sockets[i].socket);
        }
        if (!publishes)
            __builtin_trap();
    }
    return 0;
}
