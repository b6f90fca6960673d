#include "ContainerOwner.h"
#include "CommandOptions.h"
#include "Printing.h"

#include <gtest/gtest.h>

using namespace Containers;

namespace {

const QString dockerId =
    QStringLiteral("609be3616e3825a4bf83c6b624478dcec62ac2fac8e9811ee137a71eddce4ca0");
const QString podmanId =
    QStringLiteral("d80dc0a202c84e8fa4dcb3023143dff30cb5d99dae8c4731d84dab05aab52efb");

QStringList words(const QString& line)
{
    return line.split(u' ');
}

// conmon as Podman 4 starts it, with the exit command's arguments after it; one of them is "-n".
QStringList conmonArguments()
{
    const QString storage = "/var/lib/containers/storage/overlay-containers/" + podmanId;
    QStringList arguments = words(
        "/usr/bin/conmon --api-version 1 -c " + podmanId + " -u " + podmanId +
        " -r /usr/bin/crun -b " + storage + "/userdata -p /run/containers/storage/" + podmanId +
        "/userdata/pidfile -n pg --exit-dir /run/libpod/exits --full-attach -s -l journald "
        "--log-level warning --syslog --runtime-arg --log-format=json --runtime-arg --log "
        "--runtime-arg=/run/containers/storage/userdata/oci-log --conmon-pidfile "
        "/run/containers/storage/userdata/conmon.pid --exit-command /usr/bin/podman "
        "--exit-command-arg --root --exit-command-arg /var/lib/containers/storage "
        "--exit-command-arg -n --exit-command-arg imposter --exit-command-arg --network-backend "
        "--exit-command-arg netavark --exit-command-arg container --exit-command-arg cleanup "
        "--exit-command-arg " +
        podmanId);
    return arguments;
}

} // namespace

TEST(ContainerOwner, CommandLinesOfTheEngineHelpers)
{
    // docker-proxy as Docker 27 starts it (Go's flag syntax, a value-less flag at the end).
    ContainerOwner proxy{Engine::docker, std::nullopt, std::nullopt, "172.17.0.2", 80,
                         "0.0.0.0",      8080,         "tcp"};
    EXPECT_EQ(recognizeOwner({"docker-proxy",
                              words("/usr/bin/docker-proxy -proto tcp -host-ip 0.0.0.0 -host-port "
                                    "8080 -container-ip 172.17.0.2 -container-port 80 "
                                    "-use-listen-fd"),
                              "/system.slice/docker.service"}),
              proxy);
    EXPECT_EQ(proxy.fallbackName(), "172.17.0.2:80");

    // The other spellings Go accepts; an IPv6 target is written in brackets.
    const auto udp = recognizeOwner(
        {"docker-proxy",
         words("docker-proxy --proto=UDP -host-ip=:: --host-port 5353 -container-ip fd00:dead::2 "
               "-container-port=53"),
         ""});
    ASSERT_TRUE(udp);
    EXPECT_EQ(udp->protocol, "udp");
    EXPECT_EQ(udp->hostAddress, "::");
    EXPECT_EQ(udp->hostPort, 5353);
    EXPECT_EQ(udp->fallbackName(), "[fd00:dead::2]:53");

    // A port that is no port names nothing rather than a wrong target.
    const auto odd = recognizeOwner(
        {"docker-proxy", words("docker-proxy -container-ip 172.17.0.9 -container-port 99999"), ""});
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->containerPort, std::nullopt);
    EXPECT_EQ(odd->fallbackName(), std::nullopt);

    // conmon: the name from -n, not from an exit-command argument that reads "-n".
    const auto conmon = recognizeOwner(
        {"conmon", conmonArguments(), "/machine.slice/libpod-conmon-" + podmanId + ".scope"});
    ASSERT_TRUE(conmon);
    EXPECT_EQ(conmon->engine, Engine::podman);
    EXPECT_EQ(conmon->name, "pg");
    EXPECT_EQ(conmon->containerId, podmanId);
    EXPECT_EQ(conmon->fallbackName(), "pg");
    EXPECT_EQ(
        recognizeOwner({"conmon", words("/usr/bin/conmon --cid " + podmanId), ""})->fallbackName(),
        podmanId.left(12));
}

TEST(ContainerOwner, OwnersByNameAndByCgroup)
{
    struct Case {
        ProcessFacts process;
        std::optional<Engine> engine;
        std::optional<QString> id;
    };
    const QString user = "/user.slice/user-1000.slice/user@1000.service/";
    const std::vector<Case> cases{
        {{"dockerd", words("/usr/bin/dockerd -H fd://"), "/system.slice/docker.service"},
         Engine::docker,
         std::nullopt},
        {{"rootlesskit", words("rootlesskit --net=slirp4netns --port-driver=builtin dockerd"),
          user + "app.slice/docker.service"},
         Engine::docker,
         std::nullopt},
        {{"slirp4netns", words("slirp4netns --mtu 65520 -r 3 --disable-host-loopback 4242 tap0"),
          ""},
         Engine::either,
         std::nullopt},
        {{"pasta.avx2",
          words("/usr/bin/pasta --config-net -t 8081-8081:80-80 --dns-forward "
                "169.254.0.1 --netns /run/user/1000/netns/netns-1"),
          ""},
         Engine::podman,
         std::nullopt},
        {{"rootlessport", words("rootlessport"), ""}, Engine::podman, std::nullopt},
        // comm is whatever the program set; argv[0] still says what it is.
        {{"exe", words("/usr/bin/rootlesskit --state-dir=/run/user/1000/dockerd-rootless"), ""},
         Engine::docker,
         std::nullopt},
        // Processes inside containers, by the scope their cgroup driver made.
        {{"node", words("node server.js"), "/system.slice/docker-" + dockerId + ".scope"},
         Engine::docker,
         dockerId},
        {{"nginx", {}, "/docker/" + dockerId}, Engine::docker, dockerId},
        {{"sh", {}, "/docker/" + podmanId + "/docker/" + dockerId}, Engine::docker, dockerId},
        {{"postgres", {}, "/machine.slice/libpod-" + podmanId + ".scope/container"},
         Engine::podman,
         podmanId},
        {{"postgres", {}, user + "user.slice/libpod-" + podmanId + ".scope"},
         Engine::podman,
         podmanId},
        {{"postgres", {}, "/libpod_parent/libpod-payload-" + podmanId}, Engine::podman, podmanId},
        {{"coredns",
          {},
          "/kubepods.slice/kubepods-besteffort.slice/kubepods-besteffort-pod4f1c.slice/"
          "cri-containerd-" +
              dockerId + ".scope"},
         Engine::kubernetes,
         dockerId},
        {{"etcd", {}, "/kubepods.slice/kubepods-burstable.slice/crio-" + dockerId + ".scope"},
         Engine::kubernetes,
         dockerId},
        // A helper that happens to run inside a container's scope says which engine it is.
        {{"slirp4netns", {}, "/machine.slice/libpod-" + podmanId + ".scope"},
         Engine::podman,
         podmanId},
        // Not container owners.
        {{"docker", words("docker compose up"), user + "app.slice/vte-spawn-1.scope"},
         std::nullopt,
         std::nullopt},
        {{"containerd", words("/usr/bin/containerd"), "/system.slice/containerd.service"},
         std::nullopt,
         std::nullopt},
        {{"conmon", {}, ""}, Engine::podman, std::nullopt},
        {{"node", {}, "/machine.slice/libpod-conmon-" + podmanId + ".scope"},
         std::nullopt,
         std::nullopt},
        {{"node", {}, "/system.slice/docker-" + dockerId.toUpper() + ".scope"},
         std::nullopt,
         std::nullopt},
        {{"node", {}, "/system.slice/docker-abc123.scope"}, std::nullopt, std::nullopt},
        {{"node", {}, "/system.slice/docker-" + dockerId + ".scope.d"}, std::nullopt, std::nullopt},
        {{"node", {}, "/dockerx/" + dockerId}, std::nullopt, std::nullopt},
        {{"node", {}, "/docker-" + dockerId}, std::nullopt, std::nullopt},
        {{"", {}, ""}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto owner = recognizeOwner(c.process);
        const QString label = c.process.command + " in " + c.process.cgroupPath;
        ASSERT_EQ(owner.has_value(), c.engine.has_value()) << label.toStdString();
        if (!owner)
            continue;
        EXPECT_EQ(owner->engine, *c.engine) << label.toStdString();
        EXPECT_EQ(owner->containerId, c.id) << label.toStdString();
        EXPECT_EQ(owner->fallbackName(),
                  c.id ? std::optional<QString>(c.id->left(12)) : std::nullopt)
            << label.toStdString();
    }
}

TEST(ContainerOwner, OptionReading)
{
    const CommandOptions options(words("prog -a 1 --b=2 -c --d 4 -e=--x --b 3 -f -- -g 7"), {"f"});
    EXPECT_EQ(options.value(u"a"), "1");
    EXPECT_EQ(options.value(u"b"), "3"); // the later one counts
    EXPECT_EQ(options.value(u"c"), "");  // followed by an option: no value
    EXPECT_EQ(options.value(u"d"), "4");
    EXPECT_EQ(options.value(u"e"), "--x");
    EXPECT_EQ(options.value(u"f"), "--"); // takes anything
    EXPECT_EQ(options.value(u"g"), "7");

    // Reading stops at a stray word and at "--"; "-" and "---x" are no options.
    EXPECT_EQ(CommandOptions(words("prog -a 1 stray -b 2"), {}).value(u"b"), std::nullopt);
    EXPECT_EQ(CommandOptions(words("prog -- -b 2"), {}).value(u"b"), std::nullopt);
    EXPECT_EQ(CommandOptions(words("prog - -b 2"), {}).value(u"b"), std::nullopt);
    EXPECT_EQ(CommandOptions(words("prog ---b 2"), {}).value(u"-b"), std::nullopt);
    EXPECT_EQ(CommandOptions({}, {}).value(u"a"), std::nullopt);
}
