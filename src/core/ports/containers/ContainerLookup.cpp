#include "ContainerLookup.h"

#include <system_error>

namespace Containers {
namespace {

bool servedBy(Engine owner, Engine engine)
{
    return owner == Engine::either || owner == engine;
}

bool isAnyAddress(const QString& address)
{
    return address == u"*" || address.isEmpty();
}

bool matches(const EngineContainer& container, const ContainerOwner& owner,
             const ListeningSocket& socket)
{
    // A process inside a container is that container, whatever ports it has published.
    if (owner.containerId)
        return container.id.startsWith(*owner.containerId);
    for (const PublishedPort& port : container.ports) {
        if (owner.containerPort && port.privatePort != *owner.containerPort)
            continue;
        if (publishes(port, socket))
            return true;
    }
    return false;
}

struct Found {
    const EngineContainer* container = nullptr;
    const EngineListing* listing = nullptr;
};

// The engines the owner points at are searched first: a Docker and a Podman container may
// publish the same port on different addresses of one family.
Found findContainer(const ContainerOwner& owner, const ListeningSocket& socket,
                    const QList<EngineListing>& listings)
{
    for (const bool preferred : {true, false}) {
        for (const EngineListing& listing : listings) {
            if (servedBy(owner.engine, listing.socket.engine) != preferred)
                continue;
            for (const EngineContainer& container : listing.containers) {
                if (matches(container, owner, socket))
                    return {&container, &listing};
            }
        }
    }
    return {};
}

// Another user's process, of which nothing is known.
std::optional<ContainerOwner> unseenOwner()
{
    ContainerOwner owner;
    owner.engine = Engine::either;
    return owner;
}

std::optional<QString> problemFor(const ContainerOwner& owner, const QList<EngineListing>& listings)
{
    for (const EngineListing& listing : listings) {
        if (listing.problem && servedBy(owner.engine, listing.socket.engine))
            return listing.problem->reason();
    }
    return std::nullopt;
}

} // namespace

QString ContainerDescription::displayName() const
{
    return QStringLiteral("容器 ") + name;
}

QList<EngineListing> listEngines(const QProcessEnvironment& environment,
                                 std::chrono::milliseconds limit)
{
    const QList<EngineSocket> engines = findEngines(environment);
    QList<EngineListing> listings;
    std::vector<std::future<EngineListing>> running;
    for (qsizetype i = 1; i < engines.size(); ++i) {
        try {
            running.push_back(std::async(std::launch::async, listContainers, engines[i], limit));
        } catch (const std::system_error&) {
            // No thread to spare: this engine is asked after the others.
            running.push_back(std::async(std::launch::deferred, listContainers, engines[i], limit));
        }
    }
    if (!engines.isEmpty())
        listings.append(listContainers(engines.first(), limit));
    for (auto& listing : running)
        listings.append(listing.get());
    return listings;
}

std::future<QList<EngineListing>> startListing(const QProcessEnvironment& environment,
                                               std::chrono::milliseconds limit)
{
    try {
        return std::async(std::launch::async, listEngines, environment, limit);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, listEngines, environment, limit);
    }
}

Descriptions describe(const QList<SocketFacts>& sockets, const QList<EngineListing>& listings)
{
    Descriptions descriptions;
    descriptions.containers.reserve(sockets.size());
    for (const SocketFacts& facts : sockets) {
        const auto owner = facts.ownerSeen ? recognizeOwner(facts.process) : unseenOwner();
        if (!owner) {
            descriptions.containers.append(std::nullopt);
            continue;
        }
        ListeningSocket socket = facts.socket;
        // The scan writes "*" for both any-addresses; docker-proxy's -host-ip tells which.
        if (isAnyAddress(socket.address) && owner->hostAddress)
            socket.address = *owner->hostAddress;

        if (const Found found = findContainer(*owner, socket, listings); found.container) {
            const QString& image = found.container->image;
            descriptions.containers.append(ContainerDescription{
                found.container->name(),
                image.isEmpty() ? std::nullopt : std::optional<QString>(image), found.container->id,
                found.listing->socket.path, owner->insideContainer});
            continue;
        }
        // Nothing is known of an unseen owner: it may be no container's at all.
        if (!facts.ownerSeen) {
            descriptions.containers.append(std::nullopt);
            continue;
        }
        const auto fallback = owner->fallbackName();
        descriptions.containers.append(
            fallback ? std::optional<ContainerDescription>(
                           ContainerDescription{*fallback, std::nullopt, owner->containerId,
                                                std::nullopt, owner->insideContainer})
                     : std::nullopt);
        if (!descriptions.engineProblem)
            descriptions.engineProblem = problemFor(*owner, listings);
    }
    return descriptions;
}

} // namespace Containers
