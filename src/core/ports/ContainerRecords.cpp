#include "ContainerRecords.h"

#include "SafeText.h"

#include <algorithm>
#include <mutex>

namespace ContainerRecords {
namespace {

std::mutex environmentMutex;
std::optional<QProcessEnvironment> environmentForTesting;

QProcessEnvironment environment()
{
    std::lock_guard lock(environmentMutex);
    return environmentForTesting.value_or(QProcessEnvironment::systemEnvironment());
}

// The facts as the container code reads them: texts, with bytes that are not UTF-8 as \xNN.
Containers::ProcessFacts factsOf(const Platform::ProcessFacts& process)
{
    Containers::ProcessFacts facts;
    facts.command = SafeText::fromBytes(process.command);
    facts.arguments.reserve(process.arguments.size());
    for (const QByteArray& argument : process.arguments)
        facts.arguments.append(SafeText::fromBytes(argument));
    facts.cgroupPath = process.cgroupPath;
    return facts;
}

} // namespace

std::future<QList<Containers::EngineListing>> startListing()
{
    return Containers::startListing(environment());
}

void describe(PortScanner::ScanResult& result,
              const QHash<qint32, Platform::ProcessFacts>& processes,
              const QList<Containers::EngineListing>& listings)
{
    const bool anyListed =
        std::any_of(listings.begin(), listings.end(), [](const Containers::EngineListing& listing) {
            return !listing.containers.isEmpty();
        });
    // Few processes serve containers: each process is recognised once, and only the sockets of
    // those that do go on.
    QHash<qint32, std::optional<Containers::ProcessFacts>> owners;
    QList<Containers::SocketFacts> sockets;
    QList<qsizetype> indices;
    for (qsizetype i = 0; i < result.ports.size(); ++i) {
        const ServicePort& record = result.ports.at(i);
        const Containers::ListeningSocket socket{record.networkProtocol, record.port,
                                                 record.address};
        if (record.pid == 0) {
            if (anyListed) {
                sockets.append({socket, {}, false});
                indices.append(i);
            }
            continue;
        }
        auto owner = owners.find(record.pid);
        if (owner == owners.end()) {
            std::optional<Containers::ProcessFacts> facts;
            if (const auto process = processes.constFind(record.pid); process != processes.cend())
                facts = factsOf(*process);
            if (facts && !Containers::recognizeOwner(*facts))
                facts.reset();
            owner = owners.insert(record.pid, facts);
        }
        if (*owner) {
            sockets.append({socket, **owner});
            indices.append(i);
        }
    }
    if (sockets.isEmpty())
        return;
    const Containers::Descriptions descriptions = Containers::describe(sockets, listings);
    for (qsizetype k = 0; k < indices.size(); ++k)
        result.ports[indices[k]].container = descriptions.containers.at(k);
    result.engineProblem = descriptions.engineProblem;
}

namespace testing {

void setEnvironment(const std::optional<QProcessEnvironment>& environment)
{
    std::lock_guard lock(environmentMutex);
    environmentForTesting = environment;
}

} // namespace testing

} // namespace ContainerRecords
