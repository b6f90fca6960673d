#pragma once

#include "ContainerOwner.h"
#include "EngineApi.h"
#include "PortMatching.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>
#include <future>
#include <optional>

// The containers behind listening sockets: what the scan calls once per scan.
namespace Containers {

// What the scan knows of one socket and of the process that owns it.
struct SocketFacts {
    ListeningSocket socket;
    ProcessFacts process;
};

// The container behind one socket.
struct ContainerDescription {
    // Without a prefix: "web", "shop/api" (Compose), "172.17.0.2:80", "0123456789ab". Chosen by
    // whoever started the container: show it through SafeText::visible().
    QString name;
    // The image, when an engine listed the container.
    std::optional<QString> image;
    // The full container id, when known.
    std::optional<QString> id;
    // The engine socket that listed the container.
    std::optional<QString> engineSocket;

    // "容器 " + name.
    QString displayName() const;
    // Whether an engine listed it, so that stopContainer(*engineSocket, *id) can be offered.
    bool canStop() const { return id.has_value() && engineSocket.has_value(); }

    bool operator==(const ContainerDescription&) const = default;
};

struct Descriptions {
    // One entry per socket, in the order given; absent where the socket's owner is no container
    // owner, or one that tells nothing about its container (dockerd, rootlesskit, ...) and no
    // engine named the container.
    QList<std::optional<ContainerDescription>> containers;
    // At most one, for a banner line "无法访问容器引擎：" + reason: set only when a container
    // socket was left unnamed by the engines and an engine that could have named it failed.
    std::optional<QString> engineProblem;
};

// Asks every engine found in the environment (findEngines) for its running containers, the
// engines side by side, each within `limit`. Safe to call from any thread.
QList<EngineListing> listEngines(const QProcessEnvironment& environment,
                                 std::chrono::milliseconds limit = 2s);

// listEngines on a thread of its own, so that it runs while the sockets are walked. The result
// is ready at most `limit` (and the time to start a thread) after the call.
std::future<QList<EngineListing>> startListing(const QProcessEnvironment& environment,
                                               std::chrono::milliseconds limit = 2s);

// Names the container behind each socket: a container the engines listed (by the id the
// process gives, else by protocol, host port and host address), else what the process itself
// says (conmon's name, docker-proxy's target, the cgroup's id).
Descriptions describe(const QList<SocketFacts>& sockets, const QList<EngineListing>& listings);

} // namespace Containers
