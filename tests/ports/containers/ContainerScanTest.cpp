// The containers a real scan finds: processes named docker-proxy and conmon, with their arguments,
// holding real listening sockets, named by stand-in engines or, without one, by themselves.
#include "ContainerRecords.h"
#include "PortScanner.h"
#include "Printing.h"
#include "StandInEngine.h"
#include "Stores.h"
#include "TestSockets.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <list>

extern char** environ;

using namespace Containers;

namespace {

const qint32 self = static_cast<qint32>(::getpid());

QString idOf(const QString& name)
{
    return QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex();
}

// A TCP port a container publishes: the host's address and port, and the container's port.
struct Published {
    QString ip;
    int hostPort = 0;
    int containerPort = 80;
};

QJsonObject container(const QString& name, const QString& image, const QList<Published>& ports,
                      const QJsonObject& labels = {})
{
    QJsonArray published;
    for (const Published& port : ports) {
        published.append(QJsonObject{{"IP", port.ip},
                                     {"PrivatePort", port.containerPort},
                                     {"PublicPort", port.hostPort},
                                     {"Type", "tcp"}});
    }
    return {{"Id", idOf(name)}, {"Names", QJsonArray{"/" + name}},
            {"Image", image},   {"Ports", published},
            {"Labels", labels}, {"State", "running"}};
}

StandInEngine::Responder listing(const QJsonArray& containers)
{
    return StandInEngine::afterPing(
        StandInEngine::ping(),
        StandInEngine::json(200, QJsonDocument(containers).toJson(QJsonDocument::Compact)));
}

// The helper program run through a link named like an engine's helper, holding `socket` as its
// descriptor 3 until the test closes its standard input.
struct EngineHelper {
    EngineHelper(const QStringList& arguments, int socket)
    {
        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, socket, 3);
        QByteArrayList bytes;
        std::vector<char*> argv;
        for (const QString& argument : arguments)
            argv.push_back(bytes.emplace_back(QFile::encodeName(argument)).data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        m_input = input[1];
    }
    ~EngineHelper()
    {
        ::close(m_input);
        if (pid > 0)
            ::waitpid(pid, nullptr, 0);
    }

    pid_t pid = -1;
    int m_input = -1;
};

QHash<qint32, std::optional<ContainerDescription>> containersByPid(const QList<ServicePort>& ports)
{
    QHash<qint32, std::optional<ContainerDescription>> containers;
    for (const ServicePort& record : ports)
        containers.insert(record.pid, record.container);
    return containers;
}

class ContainerScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkpath("podman"));
        for (const char* name : {"docker-proxy", "conmon"})
            ASSERT_TRUE(QFile::link(ENGINE_HELPER, path(name)));
        QProcessEnvironment environment;
        environment.insert("DOCKER_HOST", "unix://" + dockerSocket());
        environment.insert("XDG_RUNTIME_DIR", m_dir.path());
        ContainerRecords::testing::setEnvironment(environment);
    }
    void TearDown() override { ContainerRecords::testing::setEnvironment(std::nullopt); }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString dockerSocket() const { return path("docker.sock"); }
    QString podmanSocket() const { return path("podman/podman.sock"); }

    // docker-proxy as Docker starts it, forwarding hostIp:port (the socket `fd`) to port 80.
    pid_t proxy(const QString& hostIp, int port, const QString& containerIp, int fd)
    {
        return start({path("docker-proxy"), "-proto", "tcp", "-host-ip", hostIp, "-host-port",
                      QString::number(port), "-container-ip", containerIp, "-container-port", "80"},
                     fd);
    }
    pid_t conmon(const QString& id, const QString& name, int fd)
    {
        return start({path("conmon"), "--api-version", "1", "-c", id, "-u", id, "-r",
                      "/usr/bin/crun", "-n", name, "--exit-command", "/usr/bin/podman",
                      "--exit-command-arg", "-n", "--exit-command-arg", "imposter"},
                     fd);
    }
    pid_t start(const QStringList& arguments, int fd)
    {
        return m_helpers.emplace_back(arguments, fd).pid;
    }

    QTemporaryDir m_dir;
    TestSockets m_sockets;
    std::list<EngineHelper> m_helpers;
};

} // namespace

TEST_F(ContainerScan, NamesTheContainersBehindRealHelpersAndFallsBackWithoutEngines)
{
    // One port on both any-addresses: the scan shows both as "*", the proxies' -host-ip tell them
    // apart. Other programs may hold the IPv6 side of the first ports tried.
    int v4 = -1, port = 0, v6 = -1, samePort = 0;
    for (int attempt = 0; attempt < 50 && !samePort; ++attempt) {
        std::tie(v4, port) = m_sockets.open(AF_INET, SOCK_STREAM, false);
        std::tie(v6, samePort) = m_sockets.open(AF_INET6, SOCK_STREAM, false, port, true);
    }
    const auto [podSocket, podPort] = m_sockets.open(AF_INET, SOCK_STREAM, true);
    ASSERT_TRUE(port && samePort && podPort);
    const pid_t onV4 = proxy("0.0.0.0", port, "172.18.0.3", v4);
    const pid_t onV6 = proxy("::", port, "fd00::3", v6);
    const pid_t pod = conmon(idOf("web"), "web", podSocket);
    ASSERT_TRUE(onV4 > 0 && onV6 > 0 && pod > 0);

    {
        const QJsonObject compose{{"com.docker.compose.project", "shop"},
                                  {"com.docker.compose.service", "api"}};
        StandInEngine docker(
            dockerSocket(),
            listing({container("shop-api-1", "shop-api:latest", {{"0.0.0.0", port}}, compose),
                     container("six", "hashicorp/http-echo:1.0", {{"::", port}})}));
        StandInEngine podman(podmanSocket(),
                             listing({container("web", "docker.io/library/nginx:latest",
                                                {{"127.0.0.1", podPort}})}));
        const PortScanner::ScanResult result = PortScanner::scanResult();
        const auto containers = containersByPid(result.ports);
        EXPECT_EQ(containers.value(onV4),
                  (ContainerDescription{"shop/api", "shop-api:latest", idOf("shop-api-1"),
                                        dockerSocket()}));
        EXPECT_EQ(containers.value(onV6), (ContainerDescription{"six", "hashicorp/http-echo:1.0",
                                                                idOf("six"), dockerSocket()}));
        EXPECT_EQ(containers.value(pod),
                  (ContainerDescription{"web", "docker.io/library/nginx:latest", idOf("web"),
                                        podmanSocket()}));
        // This process holds the same sockets, and is no container.
        ASSERT_TRUE(containers.contains(self));
        EXPECT_EQ(containers.value(self), std::nullopt);
        EXPECT_EQ(result.engineProblem, std::nullopt);
        EXPECT_EQ(docker.requests().size(), 2);
    }
    QFile::remove(dockerSocket());
    QFile::remove(podmanSocket());

    const PortScanner::ScanResult result = PortScanner::scanResult();
    const auto containers = containersByPid(result.ports);
    EXPECT_EQ(containers.value(onV4),
              (ContainerDescription{"172.18.0.3:80", std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(containers.value(onV6),
              (ContainerDescription{"[fd00::3]:80", std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(containers.value(pod),
              (ContainerDescription{"web", std::nullopt, idOf("web"), std::nullopt}));
    EXPECT_EQ(result.engineProblem, std::nullopt);
}

// The reasons themselves are met by the engine tests; here, the banner they make.
TEST_F(ContainerScan, AFailingEngineCostsOneBannerLineOncePerStore)
{
    const auto [fd, port] = m_sockets.open(AF_INET, SOCK_STREAM, false);
    ASSERT_GT(port, 0);
    const pid_t pid = proxy("0.0.0.0", port, "172.17.0.2", fd);
    const auto denied = StandInEngine::json(403, R"({"message":"permission denied"})");
    StandInEngine engine(dockerSocket(), StandInEngine::afterPing(denied, denied));
    PortsStore store;
    store.refresh();
    ASSERT_TRUE(waitUntilIdle(store));
    EXPECT_EQ(store.lastError(),
              "无法访问容器引擎：" + dockerSocket() + " 返回 HTTP 403：permission denied");
    const auto named = containersByPid(store.ports()).value(pid);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->displayName(), "容器 172.17.0.2:80");

    // Dismissed, it stays away while the same store scans again.
    store.setLastError(std::nullopt);
    store.refresh();
    ASSERT_TRUE(waitUntilIdle(store));
    EXPECT_EQ(store.lastError(), std::nullopt);
}
