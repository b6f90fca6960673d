#pragma once

#include "ContainerList.h"
#include "EngineConnection.h"
#include "EngineSockets.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

// The few calls of the Docker Engine API (also served by Podman) that name and stop containers.
namespace Containers {

using namespace std::chrono_literals;

// The newest API version this program speaks.
inline constexpr const char* clientApiVersion = "1.47";

// The API version to speak with an engine: the lower of the engine's (the Api-Version header of
// /_ping, else "ApiVersion" of /version) and ours, e.g. "1.45". Empty when the engine names no
// version it speaks; requests then go without a version prefix.
struct Negotiation {
    QString version;
    std::optional<EngineProblem> problem;
};
Negotiation negotiateVersion(EngineConnection& connection);

// One engine's running containers.
struct EngineListing {
    EngineSocket socket;
    QList<EngineContainer> containers;
    // Set when the engine could not be listed; the containers are then empty.
    std::optional<EngineProblem> problem;
};

// Negotiates and lists GET /containers/json, all within `limit`.
EngineListing listContainers(const EngineSocket& socket, std::chrono::milliseconds limit = 2s);

struct StopResult {
    bool success = false;
    // On failure: the engine's own message, or why the engine could not be asked.
    QString message;

    bool operator==(const StopResult&) const = default;
};

// POST /containers/{id}/stop?t=10: the engine sends the container's stop signal and kills it
// after ten seconds. Blocks until then (at most `limit`): call it off the GUI thread. A
// container that was already stopped counts as stopped.
StopResult stopContainer(const QString& socketPath, const QString& containerId,
                         std::chrono::milliseconds limit = 30s);

} // namespace Containers
