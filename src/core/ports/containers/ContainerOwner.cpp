#include "ContainerOwner.h"

#include "CommandOptions.h"
#include "Numbers.h"

#include <QHash>
#include <QSet>

namespace Containers {
namespace {

bool isContainerId(QStringView text)
{
    if (text.size() < 12 || text.size() > 64)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f')))
            return false;
    }
    return true;
}

// The id inside prefix<id>suffix, when the component has exactly that shape.
std::optional<QString> idBetween(QStringView component, QStringView prefix, QStringView suffix)
{
    if (!component.startsWith(prefix) || !component.endsWith(suffix) ||
        component.size() < prefix.size() + suffix.size())
        return std::nullopt;
    const QStringView id =
        component.mid(prefix.size(), component.size() - prefix.size() - suffix.size());
    return isContainerId(id) ? std::optional<QString>(id.toString()) : std::nullopt;
}

std::optional<CgroupContainer> containerOfComponent(QStringView component, QStringView parent)
{
    struct Shape {
        QStringView prefix;
        QStringView suffix;
        Engine engine;
    };
    static constexpr Shape shapes[] = {
        {u"docker-", u".scope", Engine::docker},
        {u"libpod-payload-", u"", Engine::podman},
        {u"libpod-", u".scope", Engine::podman},
        {u"cri-containerd-", u".scope", Engine::kubernetes},
        {u"crio-", u".scope", Engine::kubernetes},
    };
    for (const Shape& shape : shapes) {
        if (auto id = idBetween(component, shape.prefix, shape.suffix))
            return CgroupContainer{shape.engine, *id};
    }
    if (parent == u"docker" && isContainerId(component))
        return CgroupContainer{Engine::docker, component.toString()};
    return std::nullopt;
}

std::optional<Engine> engineOfCommand(QStringView name)
{
    static const QHash<QString, Engine> owners{
        {QStringLiteral("docker-proxy"), Engine::docker},
        {QStringLiteral("dockerd"), Engine::docker},
        {QStringLiteral("rootlesskit"), Engine::docker},
        {QStringLiteral("slirp4netns"), Engine::either},
        {QStringLiteral("conmon"), Engine::podman},
        {QStringLiteral("pasta"), Engine::podman},
        // Debian's passt runs the build for the processor's instruction set under this name.
        {QStringLiteral("pasta.avx2"), Engine::podman},
        {QStringLiteral("rootlessport"), Engine::podman},
    };
    const auto found = owners.constFind(name.toString());
    return found == owners.cend() ? std::nullopt : std::optional<Engine>(*found);
}

std::optional<qint64> portNumber(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    const auto port = parseUInt32Strict(*text);
    return port && *port >= 1 && *port <= 65535 ? std::optional<qint64>(*port) : std::nullopt;
}

std::optional<QString> nonEmpty(const std::optional<QString>& text)
{
    return text && !text->isEmpty() ? text : std::nullopt;
}

// docker-proxy -proto tcp -host-ip 0.0.0.0 -host-port 8080 -container-ip 172.17.0.2
// -container-port 80 (Go's flag syntax).
void readDockerProxy(const QStringList& arguments, ContainerOwner& owner)
{
    const CommandOptions options(arguments, {});
    owner.protocol = nonEmpty(options.value(u"proto"));
    if (owner.protocol)
        *owner.protocol = owner.protocol->toLower();
    owner.hostAddress = nonEmpty(options.value(u"host-ip"));
    owner.hostPort = portNumber(options.value(u"host-port"));
    owner.containerAddress = nonEmpty(options.value(u"container-ip"));
    owner.containerPort = portNumber(options.value(u"container-port"));
}

// conmon -c <id> -n <name> ..., where the exit command's own arguments follow
// --exit-command-arg and may look like options themselves.
void readConmon(const QStringList& arguments, ContainerOwner& owner)
{
    static const QSet<QString> takeAnyValue{QStringLiteral("exit-command-arg"),
                                            QStringLiteral("runtime-arg"),
                                            QStringLiteral("runtime-opt")};
    const CommandOptions options(arguments, takeAnyValue);
    owner.name = nonEmpty(options.value(u"n"));
    if (!owner.name)
        owner.name = nonEmpty(options.value(u"name"));
    auto id = options.value(u"c");
    if (!id)
        id = options.value(u"cid");
    if (id && isContainerId(*id))
        owner.containerId = id;
}

QStringView baseName(QStringView path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace

std::optional<CgroupContainer> containerOfCgroup(QStringView cgroupPath)
{
    const auto components = cgroupPath.split(u'/');
    for (qsizetype i = components.size() - 1; i >= 0; --i) {
        const QStringView parent = i > 0 ? components[i - 1] : QStringView();
        if (auto container = containerOfComponent(components[i], parent))
            return container;
    }
    return std::nullopt;
}

std::optional<ContainerOwner> recognizeOwner(const ProcessFacts& process)
{
    QStringView command = process.command;
    auto engine = engineOfCommand(command);
    if (!engine && !process.arguments.isEmpty()) {
        command = baseName(process.arguments.first());
        engine = engineOfCommand(command);
    }
    const auto cgroup = containerOfCgroup(process.cgroupPath);
    if (!engine && !cgroup)
        return std::nullopt;

    ContainerOwner owner;
    if (engine) {
        owner.engine = *engine;
        if (command == u"docker-proxy")
            readDockerProxy(process.arguments, owner);
        else if (command == u"conmon")
            readConmon(process.arguments, owner);
    }
    if (cgroup && (!engine || owner.engine == Engine::either))
        owner.engine = cgroup->engine;
    owner.insideContainer = !engine;
    if (!owner.containerId && cgroup)
        owner.containerId = cgroup->id;
    return owner;
}

std::optional<QString> ContainerOwner::fallbackName() const
{
    if (name)
        return name;
    if (containerAddress && containerPort) {
        const QString host = containerAddress->contains(u':')
                                 ? QLatin1Char('[') + *containerAddress + QLatin1Char(']')
                                 : *containerAddress;
        return host + QLatin1Char(':') + QString::number(*containerPort);
    }
    if (containerId)
        return containerId->left(12);
    return std::nullopt;
}

} // namespace Containers
