#pragma once

#include "ContainerOwner.h"

#include <QList>
#include <QProcessEnvironment>
#include <QString>

// Where the container engines of this machine answer.
namespace Containers {

struct EngineSocket {
    // Docker or Podman.
    Engine engine = Engine::docker;
    QString path;

    bool operator==(const EngineSocket&) const = default;
};

// Every place an engine may answer, in order of preference: Docker at $DOCKER_HOST when that
// names a unix socket, then /var/run/docker.sock, then $XDG_RUNTIME_DIR/docker.sock; Podman at
// /run/podman/podman.sock, then $XDG_RUNTIME_DIR/podman/podman.sock. A relative or empty
// XDG_RUNTIME_DIR counts as unset.
QList<EngineSocket> socketCandidates(const QProcessEnvironment& environment);

// Of the candidates, the first unix socket that exists for Docker and every one that exists for
// Podman (root's and the user's are different engines), each place once: where docker.sock
// leads to Podman's socket, the engine is asked once.
QList<EngineSocket> findEngines(const QProcessEnvironment& environment);

} // namespace Containers
