#include "ContainerOwner.h"
#include "Printing.h"

#include <gtest/gtest.h>

using namespace Containers;

namespace {

const QString dockerId = "609be3616e3825a4bf83c6b624478dcec62ac2fac8e9811ee137a71eddce4ca0";
const QString podmanId = "d80dc0a202c84e8fa4dcb3023143dff30cb5d99dae8c4731d84dab05aab52efb";

std::optional<ContainerOwner> owner(const QString& command, const QString& line,
                                    const QString& cgroup = {})
{
    return recognizeOwner({command, line.isEmpty() ? QStringList() : line.split(u' '), cgroup});
}

} // namespace

TEST(ContainerOwner, CommandLinesOfTheEngineHelpers)
{
    // docker-proxy as Docker 27 starts it, and in the other spellings Go's flags accept.
    EXPECT_EQ(owner("docker-proxy",
                    "/usr/bin/docker-proxy -proto tcp -host-ip 0.0.0.0 -host-port 8080 "
                    "-container-ip 172.17.0.2 -container-port 80 -use-listen-fd",
                    "/system.slice/docker.service"),
              (ContainerOwner{Engine::docker, std::nullopt, std::nullopt, "172.17.0.2", 80,
                              "0.0.0.0", 8080, "tcp"}));
    const auto udp = owner("docker-proxy", "docker-proxy --proto=UDP -host-ip=:: --host-port 5353 "
                                           "-container-ip fd00::2 -container-port=53 -- "
                                           "-container-port 54");
    EXPECT_EQ(udp->protocol, "udp");
    EXPECT_EQ(udp->hostAddress, "::");
    EXPECT_EQ(udp->fallbackName(), "[fd00::2]:53");
    // A port that is no port names nothing rather than a wrong target.
    EXPECT_EQ(owner("docker-proxy", "docker-proxy -container-ip 172.17.0.9 -container-port 99999")
                  ->fallbackName(),
              std::nullopt);

    // conmon as Podman 4 starts it: the name is -n's, not that of an exit-command argument that
    // reads "-n".
    const QString data = "/var/lib/containers/storage/overlay-containers/" + podmanId + "/userdata";
    const auto conmon =
        owner("conmon",
              "/usr/bin/conmon --api-version 1 -c " + podmanId + " -u " + podmanId +
                  " -r /usr/bin/crun -b " + data + " -p " + data +
                  "/pidfile -n pg --exit-dir /run/libpod/exits --full-attach -s -l journald "
                  "--runtime-arg --log-format=json --conmon-pidfile " +
                  data +
                  "/conmon.pid --exit-command /usr/bin/podman --exit-command-arg --root "
                  "--exit-command-arg /var/lib/containers/storage --exit-command-arg -n "
                  "--exit-command-arg imposter --exit-command-arg cleanup --exit-command-arg " +
                  podmanId,
              "/machine.slice/libpod-conmon-" + podmanId + ".scope");
    ASSERT_TRUE(conmon);
    EXPECT_EQ(conmon->engine, Engine::podman);
    EXPECT_EQ(conmon->name, "pg");
    EXPECT_EQ(conmon->containerId, podmanId);
    EXPECT_EQ(owner("conmon", "conmon --cid " + podmanId)->fallbackName(), podmanId.left(12));
}

TEST(ContainerOwner, OwnersByNameAndByCgroup)
{
    const std::optional<Engine> none;
    const std::vector<std::tuple<QString, QString, QString, std::optional<Engine>, QString>> cases{
        {"dockerd", "", "/system.slice/docker.service", Engine::docker, ""},
        {"slirp4netns", "", "", Engine::either, ""},
        {"pasta.avx2", "", "", Engine::podman, ""},
        {"rootlessport", "", "", Engine::podman, ""},
        // comm is whatever the program set; argv[0] still says what it is.
        {"exe", "/usr/bin/rootlesskit --net=slirp4netns", "", Engine::docker, ""},
        // Processes inside containers, by the scope their cgroup driver made; the innermost
        // container counts, and a helper inside one takes its engine.
        {"node", "", "/system.slice/docker-" + dockerId + ".scope", Engine::docker, dockerId},
        {"sh", "", "/docker/" + podmanId + "/docker/" + dockerId, Engine::docker, dockerId},
        {"pg", "", "/machine.slice/libpod-" + podmanId + ".scope/container", Engine::podman,
         podmanId},
        {"pg", "", "/libpod_parent/libpod-payload-" + podmanId, Engine::podman, podmanId},
        {"dns", "", "/kubepods.slice/kubepods-pod4f1c.slice/cri-containerd-" + dockerId + ".scope",
         Engine::kubernetes, dockerId},
        {"etcd", "", "/kubepods.slice/crio-" + dockerId + ".scope", Engine::kubernetes, dockerId},
        {"slirp4netns", "", "/machine.slice/libpod-" + podmanId + ".scope", Engine::podman,
         podmanId},
        // Not container owners.
        {"docker", "docker compose up", "", none, ""},
        {"node", "", "/machine.slice/libpod-conmon-" + podmanId + ".scope", none, ""},
        {"node", "", "/system.slice/docker-" + dockerId.toUpper() + ".scope", none, ""},
        {"node", "", "/system.slice/docker-abc123.scope", none, ""},
        {"node", "", "/system.slice/docker-" + dockerId + ".scope.d", none, ""},
        {"node", "", "/dockerx/" + dockerId, none, ""},
    };
    for (const auto& [command, line, cgroup, engine, id] : cases) {
        const auto found = owner(command, line, cgroup);
        const std::string label = (command + " in " + cgroup).toStdString();
        ASSERT_EQ(found.has_value(), engine.has_value()) << label;
        if (!found)
            continue;
        EXPECT_EQ(found->engine, *engine) << label;
        EXPECT_EQ(found->containerId.value_or(""), id) << label;
        EXPECT_EQ(found->fallbackName().value_or(""), id.left(12)) << label;
    }
}
