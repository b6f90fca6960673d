#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace Containers {

// The container behind one listening socket.
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
    // The socket is held by a process of the container itself (its cgroup tells), not by one of
    // the engine's helpers: ending that process may well end the container.
    bool insideContainer = false;

    // "容器 " + name.
    QString displayName() const;
    // Whether an engine listed it, so that stopContainer(*engineSocket, *id) can be offered.
    bool canStop() const { return id.has_value() && engineSocket.has_value(); }

    bool operator==(const ContainerDescription&) const = default;
};

inline size_t qHash(const ContainerDescription& container, size_t seed = 0)
{
    return qHashMulti(seed, container.name, container.image.has_value(),
                      container.image.value_or(QString()), container.id.has_value(),
                      container.id.value_or(QString()), container.engineSocket.has_value(),
                      container.engineSocket.value_or(QString()), container.insideContainer);
}

} // namespace Containers
