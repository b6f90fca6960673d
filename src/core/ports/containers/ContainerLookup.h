#pragma once

#include "ContainerDescription.h"
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
    // False for a socket whose process the scan could not look into (another user's): only a
    // container that an engine lists as publishing it can name it then.
    bool ownerSeen = true;
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
// says (conmon's name, docker-proxy's target, the cgroup's id). A socket of an unseen owner is
// named only by a container published exactly there.
Descriptions describe(const QList<SocketFacts>& sockets, const QList<EngineListing>& listings);

} // namespace Containers
