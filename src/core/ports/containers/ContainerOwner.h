#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Whether a socket's owning process stands for a container, told from the process alone.
namespace Containers {

// Who runs the container, as far as the process tells.
enum class Engine {
    docker,
    podman,
    // containerd or CRI-O under Kubernetes: no engine socket of ours answers for them.
    kubernetes,
    // A helper both Docker and Podman use (slirp4netns).
    either,
};

// What the socket scan knows of the process that owns a socket.
struct ProcessFacts {
    // The short command name (/proc/PID/comm).
    QString command;
    // The argument list, the program itself first.
    QStringList arguments;
    // The process's cgroup path on the unified hierarchy, e.g. /system.slice/docker-<id>.scope.
    QString cgroupPath;
};

// A container owner and what its own facts say about the container.
struct ContainerOwner {
    Engine engine = Engine::docker;
    // The full container id, from the cgroup path or conmon's -c.
    std::optional<QString> containerId;
    // The container's name, from conmon's -n.
    std::optional<QString> name;
    // docker-proxy's arguments: where it forwards to and what it listens on.
    std::optional<QString> containerAddress;
    std::optional<qint64> containerPort;
    std::optional<QString> hostAddress;
    std::optional<qint64> hostPort;
    // Lower case, as the engine writes it: "tcp", "udp", "sctp".
    std::optional<QString> protocol;
    // Only the cgroup path tells: the process runs in the container itself.
    bool insideContainer = false;

    // What can be shown with no engine to ask: the name, else the container's address and port
    // (IPv6 in brackets), else the first 12 characters of the id. Without the "容器 " prefix.
    // Absent for owners that say nothing about their container (dockerd, rootlesskit, ...).
    std::optional<QString> fallbackName() const;

    bool operator==(const ContainerOwner&) const = default;
};

// The owner a process stands for: docker-proxy, dockerd, rootlesskit, slirp4netns, conmon,
// pasta or rootlessport by command name (or argv[0]), or any process whose cgroup path names a
// container scope. Absent for every other process.
std::optional<ContainerOwner> recognizeOwner(const ProcessFacts& process);

// The container named by the innermost matching component of a cgroup path:
// docker-<id>.scope, docker/<id>, libpod-<id>.scope, libpod-payload-<id>,
// cri-containerd-<id>.scope, crio-<id>.scope. Ids are 12 to 64 lower-case hex digits.
struct CgroupContainer {
    Engine engine = Engine::docker;
    QString id;

    bool operator==(const CgroupContainer&) const = default;
};
std::optional<CgroupContainer> containerOfCgroup(QStringView cgroupPath);

} // namespace Containers
