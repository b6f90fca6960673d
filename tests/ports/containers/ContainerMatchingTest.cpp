#include "ContainerLookup.h"
#include "Printing.h"
#include "StandInEngine.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

using namespace Containers;

namespace {

const QString dockerSocket = QStringLiteral("/var/run/docker.sock");
const QString podmanSocket = QStringLiteral("/run/user/1000/podman/podman.sock");

QString idOf(const char* name)
{
    // The recordings' ids are the SHA-256 of the container names.
    return QString::fromLatin1(QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex());
}

EngineListing recordedListing(Engine engine, const QString& socket, const QString& file)
{
    const auto containers = parseContainerList(StandInEngine::recordedBody(file));
    return {{engine, socket}, containers.value_or(QList<EngineContainer>()), std::nullopt};
}

QList<EngineListing> bothEngines()
{
    return {recordedListing(Engine::docker, dockerSocket, "docker/containers.http"),
            recordedListing(Engine::podman, podmanSocket, "podman/containers.http")};
}

QStringList words(const QString& line)
{
    return line.split(u' ');
}

ProcessFacts dockerProxy(const QString& proto, const QString& hostIp, int hostPort,
                         const QString& containerIp, int containerPort)
{
    return {"docker-proxy",
            words(QStringLiteral("/usr/bin/docker-proxy -proto %1 -host-ip %2 -host-port %3 "
                                 "-container-ip %4 -container-port %5")
                      .arg(proto, hostIp, QString::number(hostPort), containerIp,
                           QString::number(containerPort))),
            "/system.slice/docker.service"};
}

ContainerDescription listed(const QString& name, const QString& image, const char* idName,
                            const QString& socket = dockerSocket)
{
    return {name, image, idOf(idName), socket};
}

} // namespace

TEST(ContainerList, ReadsRecordedListingsAndSkipsWhatIsNoContainer)
{
    const auto docker = parseContainerList(StandInEngine::recordedBody("docker/containers.http"));
    ASSERT_TRUE(docker);
    QStringList names;
    for (const EngineContainer& container : *docker)
        names.append(container.name());
    // Compose services by project/service; a linked container by its own name, not its alias.
    EXPECT_EQ(names, QStringList({"shop/api", "shop/db", "web", "dns", "admin", "ipv6only",
                                  "v4-9000", "hostnet"}));
    EXPECT_EQ(docker->at(0).ports,
              (QList<PublishedPort>{{"0.0.0.0", 80, 8080, "tcp"}, {"::", 80, 8080, "tcp"}}));
    EXPECT_EQ(docker->at(1).ports, (QList<PublishedPort>{{"", 5432, std::nullopt, "tcp"}}));
    EXPECT_EQ(docker->at(2).image, "nginx:1.25");

    const auto podman = parseContainerList(StandInEngine::recordedBody("podman/containers.http"));
    ASSERT_TRUE(podman);
    ASSERT_EQ(podman->size(), 2);
    EXPECT_EQ(podman->at(0).name(), "pg");
    EXPECT_EQ(podman->at(0).ports, (QList<PublishedPort>{{"", 5432, 15432, "tcp"}}));

    const auto odd = parseContainerList(R"([1, null, {"Names": ["/no-id"]},
        {"Id": "0123456789abcdef", "Names": ["/"], "Image": 7, "Labels": {"com.docker.compose.project": "p"},
         "Ports": [{"PrivatePort": "80"}, {"PrivatePort": 80, "PublicPort": 0, "Type": "TCP"},
                   {"PrivatePort": 80.5, "PublicPort": 81}, {"PrivatePort": 70000},
                   {"PrivatePort": 53, "PublicPort": 5353, "Type": "UDP", "IP": "::1"}]},
        {"Id": "fedcba9876543210", "Names": ["plain"], "Ports": {"not": "a list"}}])");
    ASSERT_TRUE(odd);
    ASSERT_EQ(odd->size(), 2);
    EXPECT_EQ(odd->at(0).name(), "0123456789ab"); // a label without its partner is no Compose name
    EXPECT_EQ(odd->at(0).image, "");
    EXPECT_EQ(odd->at(0).ports,
              (QList<PublishedPort>{{"", 80, std::nullopt, "tcp"}, {"::1", 53, 5353, "udp"}}));
    EXPECT_EQ(odd->at(1).name(), "plain");
    EXPECT_TRUE(odd->at(1).ports.isEmpty());

    for (const char* broken : {"", "{}", "[", "[{\"Id\": \"abc\"", "\"[]\"", "[]x"})
        EXPECT_EQ(parseContainerList(QByteArrayView(broken)), std::nullopt) << broken;
    EXPECT_EQ(parseContainerList("[]"), QList<EngineContainer>());
}

TEST(PortMatching, HostAddresses)
{
    const std::vector<std::tuple<QString, QString, bool>> cases{
        // "*" is the scan's word for either any-address; the engine's empty IP means every one.
        {"*", "0.0.0.0", true},
        {"*", "::", true},
        {"*", "", true},
        {"", "::", true},
        // Once the family is known, the other family's any-address is another socket.
        {"0.0.0.0", "::", false},
        {"::", "0.0.0.0", false},
        {"0:0::0", "::", true},
        // A port published on every address is not served by a socket on one of them.
        {"127.0.0.1", "0.0.0.0", false},
        {"127.0.0.1", "", false},
        {"*", "127.0.0.1", false},
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.2", false},
        {"::1", "0:0:0:0:0:0:0:1", true},
        {"::1", "127.0.0.1", false},
        {"::ffff:127.0.0.1", "127.0.0.1", true},
        {"fe80::1%eth0", "fe80::1", true},
        {"FD00::A", "fd00::a", true},
        {"localhost", "LOCALHOST", true},
        {"localhost", "127.0.0.1", false},
        {QStringView(u"127.0.0.1\0evil", 14).toString(), "127.0.0.1", false},
    };
    for (const auto& [socket, published, same] : cases)
        EXPECT_EQ(sameHostAddress(socket, published), same)
            << socket.toStdString() << " vs " << published.toStdString();
}

TEST(ContainerLookup, NamesEachSocketByItsContainer)
{
    struct Case {
        const char* what;
        SocketFacts facts;
        std::optional<ContainerDescription> expected;
    };
    const QString user = "/user.slice/user-1000.slice/user@1000.service/";
    const std::vector<Case> cases{
        {"Compose service on IPv4's any-address",
         {{"TCP", 8080, "*"}, dockerProxy("tcp", "0.0.0.0", 8080, "172.18.0.3", 80)},
         listed("shop/api", "shop-api:latest", "shop-api-1")},
        {"the same service's IPv6 proxy",
         {{"TCP", 8080, "*"}, dockerProxy("tcp", "::", 8080, "172.18.0.3", 80)},
         listed("shop/api", "shop-api:latest", "shop-api-1")},
        {"published on loopback only",
         {{"TCP", 8443, "127.0.0.1"}, dockerProxy("tcp", "127.0.0.1", 8443, "172.17.0.2", 443)},
         listed("web", "nginx:1.25", "web")},
        {"one port, UDP for one container and TCP for another",
         {{"UDP", 5353, "*"}, dockerProxy("udp", "0.0.0.0", 5353, "172.17.0.4", 53)},
         listed("dns", "coredns/coredns:1.11.1", "dns")},
        {"the TCP side",
         {{"TCP", 5353, "*"}, dockerProxy("tcp", "0.0.0.0", 5353, "172.17.0.5", 8080)},
         listed("admin", "adminer:4", "admin")},
        {"one port on ::1 and on 127.0.0.1 for two containers",
         {{"TCP", 9000, "::1"}, dockerProxy("tcp", "::1", 9000, "172.17.0.6", 5678)},
         listed("ipv6only", "hashicorp/http-echo:1.0", "ipv6only")},
        {"the IPv4 one",
         {{"TCP", 9000, "127.0.0.1"}, dockerProxy("tcp", "127.0.0.1", 9000, "172.17.0.7", 5678)},
         listed("v4-9000", "hashicorp/http-echo:1.0", "v4-9000")},
        {"dockerd itself holds the port (no userland proxy)",
         {{"TCP", 8080, "*"}, {"dockerd", words("/usr/bin/dockerd -H fd://"), ""}},
         listed("shop/api", "shop-api:latest", "shop-api-1")},
        {"a process inside a host-network container, by its cgroup",
         {{"TCP", 3000, "*"},
          {"grafana", words("grafana server"),
           "/system.slice/docker-" + idOf("hostnet") + ".scope"}},
         listed("hostnet", "grafana/grafana:10.4.2", "hostnet")},
        {"Podman's conmon, by the id it was given",
         {{"TCP", 15432, "*"},
          {"conmon", words("/usr/bin/conmon --api-version 1 -c " + idOf("pg") + " -n pg"), ""}},
         listed("pg", "docker.io/library/postgres:16", "pg", podmanSocket)},
        {"rootless Podman's port forwarder, published on every address",
         {{"TCP", 15432, "*"}, {"rootlessport", {"rootlessport"}, user + "user.slice/x.scope"}},
         listed("pg", "docker.io/library/postgres:16", "pg", podmanSocket)},
        {"pasta on loopback",
         {{"TCP", 8081, "127.0.0.1"}, {"pasta", {"/usr/bin/pasta"}, ""}},
         listed("rootless-web", "docker.io/library/nginx:latest", "rootless-web", podmanSocket)},
        // No listed container fits: what the process itself says.
        {"a proxy on an address the engine did not publish",
         {{"TCP", 8443, "*"}, dockerProxy("tcp", "0.0.0.0", 8443, "172.17.0.2", 443)},
         ContainerDescription{"172.17.0.2:443", std::nullopt, std::nullopt, std::nullopt}},
        {"a proxy to another container port than the one published",
         {{"TCP", 8080, "*"}, dockerProxy("tcp", "0.0.0.0", 8080, "172.18.0.3", 81)},
         ContainerDescription{"172.18.0.3:81", std::nullopt, std::nullopt, std::nullopt}},
        {"conmon of a container the engines did not list",
         {{"TCP", 15432, "*"}, {"conmon", words("conmon -c " + idOf("gone") + " -n gone-db"), ""}},
         ContainerDescription{"gone-db", std::nullopt, idOf("gone"), std::nullopt}},
        {"a Kubernetes pod's process",
         {{"TCP", 10250, "*"},
          {"kubelet-probe", {}, "/kubepods.slice/cri-containerd-" + idOf("pod") + ".scope"}},
         ContainerDescription{idOf("pod").left(12), std::nullopt, idOf("pod"), std::nullopt}},
        // Sockets that belong to no container stay as they are, even on a published port.
        {"an ordinary process on a published port",
         {{"TCP", 8080, "*"}, {"node", words("node server.js"), user + "app.slice/x.scope"}},
         std::nullopt},
        {"dockerd on a port no container publishes",
         {{"TCP", 2375, "*"}, {"dockerd", {}, ""}},
         std::nullopt},
        {"UDP where only TCP is published",
         {{"UDP", 8080, "*"}, {"dockerd", {}, ""}},
         std::nullopt},
    };
    QList<SocketFacts> sockets;
    for (const Case& c : cases)
        sockets.append(c.facts);
    const Descriptions descriptions = describe(sockets, bothEngines());
    ASSERT_EQ(descriptions.containers.size(), sockets.size());
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(descriptions.containers[static_cast<qsizetype>(i)], cases[i].expected)
            << cases[i].what;
    EXPECT_EQ(descriptions.engineProblem, std::nullopt);

    const ContainerDescription& api = *descriptions.containers[0];
    EXPECT_EQ(api.displayName(), "容器 shop/api");
    EXPECT_TRUE(api.canStop());
    EXPECT_FALSE(descriptions.containers[12]->canStop());
}

TEST(ContainerLookup, AnEngineProblemIsReportedOnlyWhenItCostAName)
{
    EngineProblem refused;
    refused.kind = EngineProblem::Kind::permissionDenied;
    refused.socketPath = dockerSocket;
    EngineProblem hung;
    hung.kind = EngineProblem::Kind::timedOut;
    hung.socketPath = podmanSocket;
    hung.limit = std::chrono::milliseconds(2000);

    const QList<EngineListing> dockerRefused{
        {{Engine::docker, dockerSocket}, {}, refused},
        recordedListing(Engine::podman, podmanSocket, "podman/containers.http")};
    const SocketFacts proxy{{"TCP", 8080, "*"},
                            dockerProxy("tcp", "0.0.0.0", 8080, "172.18.0.3", 80)};
    const SocketFacts conmon{{"TCP", 15432, "*"},
                             {"conmon", words("conmon -c " + idOf("pg") + " -n pg"), ""}};
    const SocketFacts ordinary{{"TCP", 22, "*"}, {"sshd", {}, "/system.slice/ssh.service"}};

    // Docker refused, and a docker-proxy socket was left with its fallback name.
    auto result = describe({ordinary, conmon, proxy, proxy}, dockerRefused);
    EXPECT_EQ(result.containers[1]->name, "pg");
    EXPECT_EQ(result.containers[2]->name, "172.18.0.3:80");
    EXPECT_EQ(result.engineProblem, "没有权限连接 /var/run/docker.sock");

    // The refusing engine was not needed: the Podman socket was named by Podman.
    EXPECT_EQ(describe({ordinary, conmon}, dockerRefused).engineProblem, std::nullopt);
    // Nothing belongs to a container: no engine is missed.
    EXPECT_EQ(describe({ordinary}, dockerRefused).engineProblem, std::nullopt);
    // No engine to ask at all: fallback names, no problem.
    result = describe({proxy, conmon}, {});
    EXPECT_EQ(result.containers[0]->name, "172.18.0.3:80");
    EXPECT_EQ(result.containers[1]->name, "pg");
    EXPECT_EQ(result.engineProblem, std::nullopt);

    // Two engines failed: one reason, the first needed engine's.
    const QList<EngineListing> bothFailed{{{Engine::docker, dockerSocket}, {}, refused},
                                          {{Engine::podman, podmanSocket}, {}, hung}};
    EXPECT_EQ(describe({conmon, proxy}, bothFailed).engineProblem,
              podmanSocket + " 在 2 秒内没有应答");
    // slirp4netns may be either engine's.
    EXPECT_EQ(describe({{{"TCP", 8080, "*"}, {"slirp4netns", {}, ""}}}, bothFailed).containers[0],
              std::nullopt);
    EXPECT_EQ(describe({{{"TCP", 8080, "*"}, {"slirp4netns", {}, ""}}}, bothFailed).engineProblem,
              refused.reason());
}
