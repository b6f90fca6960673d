#include "PortScanner.h"
#include "PortScannerParsing.h"
#include "Printing.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Sockets of one test, closed at its end.
struct Sockets {
    std::vector<int> fds;
    ~Sockets()
    {
        for (int fd : fds)
            ::close(fd);
    }

    // A socket bound to an ephemeral port of the loopback (or, for IPv6, the wildcard) address;
    // listening when it is TCP. Returns {fd, port}; port 0 when that failed.
    std::pair<int, int> open(int domain, int type)
    {
        const int fd = ::socket(domain, type | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return {-1, 0};
        fds.push_back(fd);
        sockaddr_storage address{};
        address.ss_family = static_cast<sa_family_t>(domain);
        if (domain == AF_INET)
            reinterpret_cast<sockaddr_in*>(&address)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = domain == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            (type == SOCK_STREAM && ::listen(fd, 4) != 0))
            return {fd, 0};
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        return {fd, ntohs(domain == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&address)->sin_port)};
    }
};

bool connectTo(int fd, int port)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
}

std::optional<ServicePort> find(const QList<ServicePort>& ports, qint32 pid, qint64 port,
                                const QString& protocol)
{
    for (const auto& record : ports) {
        if (record.pid == pid && record.port == port && record.networkProtocol == protocol)
            return record;
    }
    return std::nullopt;
}

// Starts /bin/sleep in a directory, holding a copy of the given socket.
pid_t sleeperIn(const QString& directory, int socket)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(directory).constData());
    posix_spawn_file_actions_adddup2(&actions, socket, 9); // the copy is not close-on-exec
    char path[] = "/bin/sleep", seconds[] = "60";
    char* argv[] = {path, seconds, nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, path, &actions, nullptr, argv, environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

TEST(PortScanLive, FindsTheTestsOwnListenersButNoConnectedSockets)
{
    Sockets sockets;
    const auto [tcp4, tcp4Port] = sockets.open(AF_INET, SOCK_STREAM);
    const auto [tcp6, tcp6Port] = sockets.open(AF_INET6, SOCK_STREAM); // 0 without IPv6
    const auto [udp, udpPort] = sockets.open(AF_INET, SOCK_DGRAM);
    const auto [connectedUdp, connectedUdpPort] = sockets.open(AF_INET, SOCK_DGRAM);
    ASSERT_TRUE(tcp4Port && udpPort && connectedUdpPort);
    ASSERT_TRUE(connectTo(connectedUdp, udpPort));
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockets.fds.push_back(client);
    ASSERT_TRUE(connectTo(client, tcp4Port));
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(client, reinterpret_cast<sockaddr*>(&local), &length);

    const auto ports = PortScanner::scan();
    const qint32 self = static_cast<qint32>(::getpid());
    QFile comm(QStringLiteral("/proc/self/comm"));
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    const QString command = QString::fromUtf8(comm.readAll()).trimmed();

    const auto listener = find(ports, self, tcp4Port, "TCP");
    ASSERT_TRUE(listener);
    EXPECT_EQ(listener->address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(listener->command, command);
    EXPECT_EQ(listener->user, Platform::loginName());
    EXPECT_EQ(listener->workingDir, QFileInfo(QDir::currentPath()).canonicalFilePath());
    EXPECT_FALSE(listener->appName.has_value());
    const auto datagram = find(ports, self, udpPort, "UDP");
    ASSERT_TRUE(datagram);
    EXPECT_EQ(datagram->address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(datagram->workingDir, listener->workingDir);
    if (tcp6Port) {
        EXPECT_EQ(find(ports, self, tcp6Port, "TCP").value_or(ServicePort{}).address, "*");
    }

    EXPECT_FALSE(find(ports, self, connectedUdpPort, "UDP"));
    EXPECT_FALSE(find(ports, self, ntohs(local.sin_port), "TCP"));
    EXPECT_EQ(std::count_if(ports.begin(), ports.end(), [&](auto& p) { return p.pid == self; }),
              tcp6Port ? 3 : 2);
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), [](auto& a, auto& b) {
        return a.port < b.port || (a.port == b.port && a.networkProtocol < b.networkProtocol);
    }));
}

TEST(PortScanLive, ChildrenShowTheirOwnWorkingDirectoryEvenWithoutLocale)
{
    // Under the C locale lsof escapes every non-ASCII byte of a path.
    const QByteArray savedLocale = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    Sockets sockets;
    const auto [shared, port] = sockets.open(AF_INET, SOCK_STREAM);
    ASSERT_GT(port, 0);

    std::vector<std::pair<pid_t, QString>> children;
    for (const QString& name : {QStringLiteral("plain"), QStringLiteral("中文 目录"),
                                QStringLiteral("back\\slash\ttab")}) {
        ASSERT_TRUE(QDir(root.path()).mkpath(name));
        children.emplace_back(sleeperIn(root.filePath(name), shared),
                              QFileInfo(root.filePath(name)).canonicalFilePath());
    }
    const auto ports = PortScanner::scan();
    qputenv("LC_ALL", savedLocale);
    for (const auto& [pid, directory] : children) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const auto record = find(ports, pid, port, "TCP");
        ASSERT_TRUE(record) << directory.toStdString();
        EXPECT_EQ(record->command, QStringLiteral("sleep"));
        EXPECT_EQ(record->workingDir, directory);
    }
}

TEST(PortScanLive, ToolRunsThroughThePlatformPath)
{
    // A stand-in for lsof that records its arguments shows the directory query's shape.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString log = dir.filePath(QStringLiteral("calls"));
    QFile script(dir.filePath(QStringLiteral("lsof")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\nprintf 'p12\\nn/srv/twelve\\n'\n")
                     .arg(log)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    Platform::testing::setLsofPath(script.fileName());

    auto records = [](std::initializer_list<qint32> pids) {
        QList<ServicePort> ports;
        for (qint32 pid : pids)
            ports.append(ServicePort{{}, 80, "TCP", "*", pid, "", "", {}, {}, {}});
        return ports;
    };
    QList<ServicePort> orphans = records({0, -4});
    PortScanner::detail::enrichWithWorkingDir(orphans);
    EXPECT_FALSE(QFile::exists(log)); // nothing to ask about: no run
    QList<ServicePort> ports = records({12, 13, 12, 0, -4, 12});
    PortScanner::detail::enrichWithWorkingDir(ports);
    for (const auto& port : ports)
        EXPECT_EQ(port.workingDir,
                  port.pid == 12 ? std::optional<QString>("/srv/twelve") : std::nullopt);
    QFile calls(log);
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    EXPECT_EQ(calls.readAll(), QByteArray("-a -d cwd -p 12,13 -Fpn\n"));

    Platform::testing::setLsofPath(QStringLiteral("/nonexistent/lsof"));
    EXPECT_TRUE(PortScanner::scan().isEmpty());
    Platform::testing::setLsofPath(std::nullopt);
}
