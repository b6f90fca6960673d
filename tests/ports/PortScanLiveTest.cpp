#include "PortScanner.h"
#include "PortScannerParsing.h"
#include "Printing.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

class Socket {
public:
    Socket(int domain, int type, int flags = SOCK_CLOEXEC) : fd_(::socket(domain, type | flags, 0))
    {
    }
    ~Socket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// Binds to an ephemeral port of this address and returns the port, or 0.
int bindAny(const Socket& socket, const char* address)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (std::strchr(address, ':')) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        if (::inet_pton(AF_INET6, address, &in6->sin6_addr) != 1)
            return 0;
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        if (::inet_pton(AF_INET, address, &in4->sin_addr) != 1)
            return 0;
        length = sizeof *in4;
    }
    if (::bind(socket.fd(), reinterpret_cast<sockaddr*>(&storage), length) != 0)
        return 0;
    length = sizeof storage;
    ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&storage), &length);
    return ntohs(storage.ss_family == AF_INET6
                     ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

bool connectTo(const Socket& socket, int port)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &peer.sin_addr);
    return ::connect(socket.fd(), reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
}

QString ownCommand()
{
    QFile comm(QStringLiteral("/proc/self/comm"));
    return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed() : QString();
}

QList<ServicePort> recordsOf(const QList<ServicePort>& ports, qint32 pid)
{
    QList<ServicePort> own;
    for (const auto& port : ports) {
        if (port.pid == pid)
            own.append(port);
    }
    return own;
}

const ServicePort* find(const QList<ServicePort>& ports, qint64 port, const QString& protocol)
{
    for (const auto& record : ports) {
        if (record.port == port && record.networkProtocol == protocol)
            return &record;
    }
    return nullptr;
}

// A child that sleeps in a directory, holding an inherited listening socket.
class ChildInDirectory {
public:
    ChildInDirectory(const QString& directory, int inheritedFd)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(directory).constData());
        // dup2 onto a new number clears close-on-exec, so the sleeper keeps the socket.
        posix_spawn_file_actions_adddup2(&actions, inheritedFd, 9);
        char sleepPath[] = "/bin/sleep";
        char seconds[] = "60";
        char* argv[] = {sleepPath, seconds, nullptr};
        if (::posix_spawn(&pid_, sleepPath, &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildInDirectory()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        if (had_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray saved_;
};

} // namespace

TEST(PortScanLive, FindsTheTestsOwnListenersButNoConnectedSockets)
{
    Socket tcp4(AF_INET, SOCK_STREAM);
    const int tcp4Port = bindAny(tcp4, "127.0.0.1");
    ASSERT_GT(tcp4Port, 0);
    ASSERT_EQ(::listen(tcp4.fd(), 4), 0);

    Socket tcp6(AF_INET6, SOCK_STREAM);
    const int tcp6Port = tcp6.fd() >= 0 ? bindAny(tcp6, "::") : 0;
    if (tcp6Port > 0) {
        ASSERT_EQ(::listen(tcp6.fd(), 4), 0);
    }

    Socket udp(AF_INET, SOCK_DGRAM);
    const int udpPort = bindAny(udp, "127.0.0.1");
    ASSERT_GT(udpPort, 0);

    Socket connectedUdp(AF_INET, SOCK_DGRAM);
    const int connectedUdpPort = bindAny(connectedUdp, "127.0.0.1");
    ASSERT_GT(connectedUdpPort, 0);
    ASSERT_TRUE(connectTo(connectedUdp, udpPort));

    Socket client(AF_INET, SOCK_STREAM);
    ASSERT_TRUE(connectTo(client, tcp4Port));
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(client.fd(), reinterpret_cast<sockaddr*>(&local), &length);
    const int clientPort = ntohs(local.sin_port);

    const auto ports = PortScanner::scan();
    const auto own = recordsOf(ports, static_cast<qint32>(::getpid()));
    const QString workingDir = QFileInfo(QDir::currentPath()).canonicalFilePath();

    const ServicePort* listener = find(own, tcp4Port, "TCP");
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(listener->address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(listener->command, ownCommand());
    EXPECT_EQ(listener->user, Platform::loginName());
    EXPECT_EQ(listener->workingDir, workingDir);
    EXPECT_FALSE(listener->appName.has_value());

    const ServicePort* datagram = find(own, udpPort, "UDP");
    ASSERT_NE(datagram, nullptr);
    EXPECT_EQ(datagram->address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(datagram->workingDir, workingDir);

    if (tcp6Port > 0) {
        const ServicePort* v6 = find(own, tcp6Port, "TCP");
        ASSERT_NE(v6, nullptr);
        EXPECT_EQ(v6->address, QStringLiteral("*"));
    }

    EXPECT_EQ(find(own, connectedUdpPort, "UDP"), nullptr);
    EXPECT_EQ(find(own, clientPort, "TCP"), nullptr);
    EXPECT_EQ(own.size(), tcp6Port > 0 ? 3 : 2);

    for (qsizetype i = 1; i < ports.size(); ++i) {
        const auto& a = ports[i - 1];
        const auto& b = ports[i];
        EXPECT_TRUE(a.port < b.port ||
                    (a.port == b.port && a.networkProtocol <= b.networkProtocol));
    }
}

TEST(PortScanLive, ChildrenShowTheirOwnWorkingDirectoryEvenWithoutLocale)
{
    // Under the C locale lsof escapes every non-ASCII byte of a path.
    EnvironmentOverride locale("LC_ALL", "C");
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QStringList names{QStringLiteral("plain"), QStringLiteral("中文 目录"),
                            QStringLiteral("back\\slash\ttab")};

    Socket shared(AF_INET, SOCK_STREAM);
    const int port = bindAny(shared, "127.0.0.1");
    ASSERT_GT(port, 0);
    ASSERT_EQ(::listen(shared.fd(), 4), 0);

    std::vector<std::unique_ptr<ChildInDirectory>> children;
    QHash<qint32, QString> expected;
    for (const QString& name : names) {
        const QString directory = root.filePath(name);
        ASSERT_TRUE(QDir().mkpath(directory));
        children.push_back(std::make_unique<ChildInDirectory>(directory, shared.fd()));
        ASSERT_GT(children.back()->pid(), 0);
        expected.insert(children.back()->pid(), QFileInfo(directory).canonicalFilePath());
    }

    const auto ports = PortScanner::scan();
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const auto childRecords = recordsOf(ports, it.key());
        const ServicePort* record = find(childRecords, port, "TCP");
        ASSERT_NE(record, nullptr) << it.value().toStdString();
        EXPECT_EQ(record->command, QStringLiteral("sleep"));
        EXPECT_EQ(record->workingDir, it.value());
    }
}

TEST(PortScanLive, MissingToolGivesAnEmptyList)
{
    Platform::testing::setLsofPath(QStringLiteral("/nonexistent/lsof"));
    const auto ports = PortScanner::scan();
    Platform::testing::setLsofPath(std::nullopt);
    EXPECT_TRUE(ports.isEmpty());
}

TEST(PortScanLive, WorkingDirectoryQueryRunsOnceForAllProcessesAndOnlyWhenNeeded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString log = dir.filePath(QStringLiteral("calls"));
    const QString tool = dir.filePath(QStringLiteral("lsof"));
    QFile script(tool);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\nprintf 'p12\\nfcwd\\nn/srv/twelve\\n'\n")
            .arg(log)
            .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Platform::testing::setLsofPath(tool);

    QList<ServicePort> orphans{
        ServicePort{QUuid::createUuid(), 80, "TCP", "*", 0, "", "", {}, {}, {}}};
    PortScanner::detail::enrichWithWorkingDir(orphans);
    EXPECT_FALSE(QFile::exists(log));
    EXPECT_EQ(orphans[0].workingDir, std::nullopt);

    QList<ServicePort> ports;
    for (qint32 pid : {12, 13, 12, 0, 12})
        ports.append(ServicePort{QUuid::createUuid(), 80, "TCP", "*", pid, "", "", {}, {}, {}});
    PortScanner::detail::enrichWithWorkingDir(ports);
    Platform::testing::setLsofPath(std::nullopt);

    QFile calls(log);
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    EXPECT_EQ(calls.readAll(), QByteArray("-a -d cwd -p 12,13 -Fpn\n"));
    for (const auto& port : ports)
        EXPECT_EQ(port.workingDir,
                  port.pid == 12 ? std::optional<QString>("/srv/twelve") : std::nullopt);
}
