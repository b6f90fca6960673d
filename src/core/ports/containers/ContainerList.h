#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace Containers {

// One entry of a container's "Ports": a container port, and where the host publishes it.
struct PublishedPort {
    // The host address; empty when the engine gave none (every address).
    QString ip;
    qint64 privatePort = 0;
    // Absent for a port the container exposes without publishing it.
    std::optional<qint64> publicPort;
    // Lower case: "tcp", "udp", "sctp".
    QString type;

    bool operator==(const PublishedPort&) const = default;
};

// A running container as the engine lists it.
struct EngineContainer {
    QString id;
    // As the engine gives them, e.g. "/web".
    QStringList names;
    QString image;
    std::optional<QString> composeProject;
    std::optional<QString> composeService;
    QList<PublishedPort> ports;

    // "project/service" for a Compose service, else its own name without the leading "/" (the
    // first name without a further "/": the others are link aliases), else the first 12
    // characters of the id.
    QString name() const;

    bool operator==(const EngineContainer&) const = default;
};

// The body of GET /containers/json. Absent when it is not a JSON array; within it, entries that
// are not containers (no "Id") and ports without a usable number are left out.
std::optional<QList<EngineContainer>> parseContainerList(QByteArrayView json);

} // namespace Containers
