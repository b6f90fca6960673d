#include "ContainerLookup.h"
#include "Printing.h"
#include "StandInEngine.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

using namespace Containers;

namespace {

const QString docker = QStringLiteral("/var/run/docker.sock");
const QString podman = QStringLiteral("/run/user/1000/podman/podman.sock");

// The recordings' container ids are the SHA-256 of their names.
QString idOf(const char* name)
{
    return QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex();
}

EngineListing recordedListing(Engine engine, const QString& socket, const QString& file)
{
    return {
        {engine, socket},
        parseContainerList(StandInEngine::recordedBody(file)).value_or(QList<EngineContainer>()),
        std::nullopt};
}

SocketFacts proxy(const QString& protocol, qint64 port, const QString& hostIp,
                  const QString& target)
{
    const QString containerIp = target.section(u':', 0, -2);
    return {{protocol, port, "*"},
            {"docker-proxy",
             {"docker-proxy", "-proto", protocol.toLower(), "-host-ip", hostIp, "-host-port",
              QString::number(port), "-container-ip", containerIp, "-container-port",
              target.section(u':', -1)},
             "/system.slice/docker.service"}};
}

SocketFacts owned(const QString& protocol, qint64 port, const QString& address,
                  const QString& command, const QString& cgroup = {}, const QStringList& argv = {})
{
    return {{protocol, port, address}, {command, argv, cgroup}};
}

ContainerDescription listed(const QString& name, const QString& image, const char* id,
                            const QString& socket = docker)
{
    return {name, image, idOf(id), socket};
}

ContainerDescription fallback(const QString& name, const std::optional<QString>& id = {})
{
    return {name, std::nullopt, id, std::nullopt};
}

// Held by a process of the container itself rather than by an engine's helper.
ContainerDescription inside(ContainerDescription description)
{
    description.insideContainer = true;
    return description;
}

// A socket whose process the scan could not look into.
SocketFacts unseen(const QString& protocol, qint64 port, const QString& address)
{
    return {{protocol, port, address}, {}, false};
}

} // namespace

TEST(ContainerList, ReadsListingsAndSkipsWhatIsNoContainer)
{
    const auto recordedDocker =
        parseContainerList(StandInEngine::recordedBody("docker/containers.http"));
    ASSERT_TRUE(recordedDocker);
    QStringList names;
    for (const EngineContainer& container : *recordedDocker)
        names.append(container.name());
    // Compose services as project/service; a linked container by its name, not its alias.
    EXPECT_EQ(names, QStringList({"shop/api", "shop/db", "web", "dns", "admin", "ipv6only",
                                  "v4-9000", "hostnet"}));
    EXPECT_EQ(recordedDocker->at(1).ports, (QList<PublishedPort>{{"", 5432, std::nullopt, "tcp"}}));

    const auto odd = parseContainerList(R"([1, null, {"Names": ["/no-id"]},
        {"Id": "0123456789abcdef", "Names": ["/"], "Image": 7,
         "Labels": {"com.docker.compose.project": "p"},
         "Ports": [{"PrivatePort": "80"}, {"PrivatePort": 80, "PublicPort": 0, "Type": "TCP"},
                   {"PrivatePort": 80.5, "PublicPort": 81}, {"PrivatePort": 70000},
                   {"PrivatePort": 53, "PublicPort": 5353, "Type": "UDP", "IP": "::1"}]},
        {"Id": "fedcba9876543210", "Names": ["plain"], "Ports": {"not": "a list"}}])");
    ASSERT_TRUE(odd);
    ASSERT_EQ(odd->size(), 2);
    EXPECT_EQ(odd->at(0).name(),
              "0123456789ab"); // half a Compose label pair is no name
    EXPECT_EQ(odd->at(0).ports,
              (QList<PublishedPort>{{"", 80, std::nullopt, "tcp"}, {"::1", 53, 5353, "udp"}}));
    EXPECT_EQ(odd->at(1).name(), "plain");
    for (const char* broken : {"", "{}", "[{\"Id\": \"abc\"", "\"[]\"", "[]x"})
        EXPECT_EQ(parseContainerList(QByteArrayView(broken)), std::nullopt) << broken;
}

TEST(PortMatching, HostAddresses)
{
    const std::vector<std::tuple<QString, QString, bool>> cases{
        // The scan's "*" is either any-address, the engine's "" every address; once the family is
        // known, the other family's any-address is another socket.
        {"*", "0.0.0.0", true},
        {"*", "::", true},
        {"*", "", true},
        {"0.0.0.0", "::", false},
        // A port published on every address is not served by a socket on one of them.
        {"127.0.0.1", "0.0.0.0", false},
        {"*", "127.0.0.1", false},
        {"::1", "0:0:0:0:0:0:0:1", true},
        {"::1", "127.0.0.1", false},
        {"::ffff:127.0.0.1", "127.0.0.1", true},
        {"fe80::1%eth0", "FE80::1", true},
        {"localhost", "127.0.0.1", false},
        {QStringView(u"127.0.0.1\0evil", 14).toString(), "127.0.0.1", false},
    };
    for (const auto& [socket, published, same] : cases)
        EXPECT_EQ(sameHostAddress(socket, published), same)
            << socket.toStdString() << " vs " << published.toStdString();
}

TEST(ContainerLookup, NamesEachSocketByItsContainer)
{
    const QString hostnetScope = "/system.slice/docker-" + idOf("hostnet") + ".scope";
    const QString podScope = "/kubepods.slice/cri-containerd-" + idOf("pod") + ".scope";
    const QStringList conmon{"conmon", "-c", idOf("pg"), "-n", "pg"};
    const QStringList goneConmon{"conmon", "-c", idOf("gone"), "-n", "gone-db"};
    const std::vector<std::pair<SocketFacts, std::optional<ContainerDescription>>> cases{
        {proxy("TCP", 8080, "0.0.0.0", "172.18.0.3:80"),
         listed("shop/api", "shop-api:latest", "shop-api-1")},
        {proxy("TCP", 8443, "127.0.0.1", "172.17.0.2:443"), listed("web", "nginx:1.25", "web")},
        // One port number: UDP for one container, TCP for another.
        {proxy("UDP", 5353, "0.0.0.0", "172.17.0.4:53"),
         listed("dns", "coredns/coredns:1.11.1", "dns")},
        {proxy("TCP", 5353, "0.0.0.0", "172.17.0.5:8080"), listed("admin", "adminer:4", "admin")},
        // One port on ::1 and on 127.0.0.1, for two containers.
        {owned("TCP", 9000, "::1", "docker-proxy"),
         listed("ipv6only", "hashicorp/http-echo:1.0", "ipv6only")},
        {owned("TCP", 9000, "127.0.0.1", "docker-proxy"),
         listed("v4-9000", "hashicorp/http-echo:1.0", "v4-9000")},
        // dockerd holding the port itself; a process of a host-network container.
        {owned("TCP", 8080, "*", "dockerd"), listed("shop/api", "shop-api:latest", "shop-api-1")},
        {owned("TCP", 3000, "*", "grafana", hostnetScope),
         inside(listed("hostnet", "grafana/grafana:10.4.2", "hostnet"))},
        // Podman: conmon by its id, the rootless forwarder by the published port.
        {owned("TCP", 15432, "*", "conmon", {}, conmon),
         listed("pg", "docker.io/library/postgres:16", "pg", podman)},
        {owned("TCP", 8081, "127.0.0.1", "rootlessport"),
         listed("rootless-web", "docker.io/library/nginx:latest", "rootless-web", podman)},
        // Nothing listed fits: the process's own word.
        {proxy("TCP", 8443, "0.0.0.0", "172.17.0.2:443"), fallback("172.17.0.2:443")},
        {proxy("TCP", 8080, "0.0.0.0", "172.18.0.3:81"), fallback("172.18.0.3:81")},
        {owned("TCP", 15432, "*", "conmon", {}, goneConmon), fallback("gone-db", idOf("gone"))},
        {owned("TCP", 10250, "*", "kubelet", podScope),
         inside(fallback(idOf("pod").left(12), idOf("pod")))},
        // No container: an ordinary process on a published port; dockerd on its own port.
        {owned("TCP", 8080, "*", "node", "/user.slice/user-1000.slice/session-2.scope"),
         std::nullopt},
        {owned("TCP", 2375, "*", "dockerd"), std::nullopt},
        // Another user's process: only a port published exactly there names it.
        {unseen("TCP", 8080, "*"), listed("shop/api", "shop-api:latest", "shop-api-1")},
        {unseen("TCP", 8443, "*"), std::nullopt},
        {unseen("TCP", 22, "*"), std::nullopt},
    };
    QList<SocketFacts> sockets;
    for (const auto& [facts, expected] : cases)
        sockets.append(facts);
    const Descriptions descriptions =
        describe(sockets, {recordedListing(Engine::docker, docker, "docker/containers.http"),
                           recordedListing(Engine::podman, podman, "podman/containers.http")});
    ASSERT_EQ(descriptions.containers.size(), sockets.size());
    for (qsizetype i = 0; i < sockets.size(); ++i)
        EXPECT_EQ(descriptions.containers[i], cases[static_cast<size_t>(i)].second) << "case " << i;
    EXPECT_EQ(descriptions.engineProblem, std::nullopt);
    EXPECT_EQ(descriptions.containers[0]->displayName(), "容器 shop/api");
    EXPECT_TRUE(descriptions.containers[0]->canStop());
    EXPECT_FALSE(descriptions.containers[12]->canStop());
}

TEST(ContainerLookup, AnEngineProblemIsReportedOnlyWhenItCostAName)
{
    const auto failed = [](Engine engine, const QString& socket, EngineProblem::Kind kind) {
        EngineProblem problem;
        problem.kind = kind;
        problem.socketPath = socket;
        problem.limit = 2s;
        return EngineListing{{engine, socket}, {}, problem};
    };
    const EngineListing dockerRefused =
        failed(Engine::docker, docker, EngineProblem::Kind::permissionDenied);
    const EngineListing podmanHung = failed(Engine::podman, podman, EngineProblem::Kind::timedOut);
    const EngineListing podmanListed =
        recordedListing(Engine::podman, podman, "podman/containers.http");
    const SocketFacts dockerSocket = proxy("TCP", 8080, "0.0.0.0", "172.18.0.3:80");
    const SocketFacts podmanSocket =
        owned("TCP", 15432, "*", "conmon", {}, {"conmon", "-c", idOf("pg"), "-n", "pg"});
    const SocketFacts slirp = owned("TCP", 8080, "*", "slirp4netns");
    const SocketFacts sshd = owned("TCP", 22, "*", "sshd", "/system.slice/ssh.service");

    const std::vector<std::tuple<QList<SocketFacts>, QList<EngineListing>, std::optional<QString>>>
        cases{
            {{sshd, podmanSocket, dockerSocket, dockerSocket},
             {dockerRefused, podmanListed},
             "没有权限连接 /var/run/docker.sock"},
            // Docker was not needed, or nothing belonged to a container, or no engine exists.
            {{sshd, podmanSocket}, {dockerRefused, podmanListed}, std::nullopt},
            {{sshd}, {dockerRefused}, std::nullopt},
            {{dockerSocket, podmanSocket}, {}, std::nullopt},
            // Two engines failed: one reason, that of the first engine a socket needed.
            {{podmanSocket, dockerSocket},
             {dockerRefused, podmanHung},
             podman + " 在 2 秒内没有应答"},
            {{slirp}, {dockerRefused, podmanHung}, "没有权限连接 /var/run/docker.sock"},
            // Nothing says another user's socket is a container's.
            {{unseen("TCP", 8080, "*")}, {dockerRefused, podmanHung}, std::nullopt},
        };
    for (const auto& [sockets, listings, problem] : cases)
        EXPECT_EQ(describe(sockets, listings).engineProblem, problem);
    const auto names = describe({dockerSocket, podmanSocket, slirp}, {}).containers;
    EXPECT_EQ(names, (QList<std::optional<ContainerDescription>>{
                         fallback("172.18.0.3:80"), fallback("pg", idOf("pg")), std::nullopt}));
}
