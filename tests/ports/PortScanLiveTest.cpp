// The scan against real sockets of the test's own and real processes that hold them.
#include "ListenerInventory.h"
#include "PortScanner.h"
#include "Printing.h"
#include "TestSockets.h"
#include "TestSupport.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <set>
#include <tuple>

#include <arpa/inet.h>
#include <linux/sched.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const qint32 self = static_cast<qint32>(::getpid());

bool connectTo(int fd, int port)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0;
}

QList<ServicePort> recordsOf(const QList<ServicePort>& ports, qint32 pid)
{
    QList<ServicePort> found;
    std::copy_if(ports.begin(), ports.end(), std::back_inserter(found),
                 [&](const ServicePort& p) { return p.pid == pid; });
    return found;
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

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// /bin/sleep holding a copy of `socket` at descriptor 9, started with this very pid (root only,
// and only once no process has it); -1 when that is not possible.
pid_t sleeperWithPid(pid_t pid, int socket)
{
    clone_args args{};
    args.exit_signal = SIGCHLD;
    args.set_tid = reinterpret_cast<quint64>(&pid);
    args.set_tid_size = 1;
    const long child = ::syscall(SYS_clone3, &args, sizeof args);
    if (child == 0) {
        ::dup2(socket, 9);
        char path[] = "/bin/sleep", seconds[] = "120";
        char* argv[] = {path, seconds, nullptr};
        ::execve(path, argv, environ);
        ::_exit(127);
    }
    return static_cast<pid_t>(child);
}

// What a scan tells of these processes' listeners, ids aside.
using Seen = std::tuple<qint32, qint64, QString, QString, QString, QString, quint64>;
std::set<Seen> seenOf(const QList<ServicePort>& ports, const std::set<qint32>& pids)
{
    std::set<Seen> seen;
    for (const ServicePort& p : ports) {
        if (pids.count(p.pid)) {
            seen.emplace(p.pid, p.port, p.networkProtocol, p.address, p.command,
                         p.commandLine.value_or(QString()), p.startTime.value_or(0));
        }
    }
    return seen;
}

} // namespace

// A follow-up starts from where the scan before found each socket; whatever happened since, it
// must list what a whole scan lists, whichever processes' descriptors are due to be read again.
TEST(PortScanLive, AFollowUpFindsWhatAWholeScanFinds)
{
    TestSockets sockets;
    const auto [held, heldPort] = sockets.open(AF_INET, SOCK_STREAM, true);
    ASSERT_GT(heldPort, 0);
    std::set<qint32> pids{self};
    ListenerInventory inventory;
    ASSERT_TRUE(inventory.scan());
    // Before each change: the inventory at each turn of the rereads, by follow-ups that find
    // nothing new. After it: each of them lists what a whole scan lists.
    std::vector<ListenerInventory> turns;
    auto beforeChange = [&] {
        turns.clear();
        for (int turn = 0; turn < ListenerInventory::rereadEvery; ++turn) {
            turns.push_back(inventory);
            inventory.followUp();
        }
    };
    auto expectAsWhole = [&](const char* what) {
        const auto whole = ListenerInventory().scan().value_or(PortScanner::ScanResult{}).ports;
        EXPECT_FALSE(seenOf(whole, pids).empty()) << what;
        for (size_t turn = 0; turn < turns.size(); ++turn) {
            const auto followed = turns[turn].followUp().value_or(PortScanner::ScanResult{}).ports;
            EXPECT_EQ(seenOf(followed, pids), seenOf(whole, pids)) << what << ", turn " << turn;
        }
        inventory = turns.front();
    };

    beforeChange();
    const auto [fresh, freshPort] = sockets.open(AF_INET6, SOCK_DGRAM, true);
    expectAsWhole("a new listener in a process seen before");

    beforeChange();
    auto heir = std::make_unique<Sleeper>(held);
    ASSERT_TRUE(runsSleep(heir->pid));
    pids.insert(heir->pid);
    expectAsWhole("a new process that inherited a socket");

    // As a daemon's parent does, the only holder of a socket closes it once a new process has it.
    const auto [handed, handedPort] = sockets.open(AF_INET, SOCK_STREAM, true);
    ASSERT_GT(handedPort, 0);
    inventory.followUp();
    beforeChange();
    Sleeper keeper(handed);
    ASSERT_TRUE(runsSleep(keeper.pid));
    pids.insert(keeper.pid);
    ::close(handed);
    std::erase(sockets.fds, handed);
    expectAsWhole("a new process that inherited a socket its only holder closed");
    keeper.end();

    // The descriptor that held the new listener now holds another socket, while the heir keeps
    // holding the first.
    beforeChange();
    Sleeper second(fresh);
    ASSERT_TRUE(runsSleep(second.pid));
    pids.insert(second.pid);
    expectAsWhole("a second heir");
    beforeChange();
    const auto [other, otherPort] = sockets.open(AF_INET, SOCK_STREAM, true);
    ASSERT_GT(otherPort, 0);
    ASSERT_EQ(::dup2(other, fresh), fresh);
    expectAsWhole("a descriptor that holds another socket now");

    // The only holder of a socket hands it over to a process seen before, then ends.
    beforeChange();
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, second.pid, 0));
    const int lent = static_cast<int>(::syscall(SYS_pidfd_getfd, handle, 9, 0));
    ::close(handle);
    ASSERT_GE(lent, 0) << std::strerror(errno);
    sockets.fds.push_back(lent);
    second.end();
    expectAsWhole("a socket that lost its holder");

    // The heir ends and a new process is given its pid, holding the same socket at the same
    // descriptor: only its start time tells them apart.
    beforeChange();
    const qint32 heirPid = heir->pid;
    heir.reset();
    QTest::qWait(50);
    const pid_t successor = sleeperWithPid(heirPid, held);
    if (successor != heirPid)
        GTEST_SKIP() << "cannot choose a pid here: " << std::strerror(errno);
    ASSERT_TRUE(runsSleep(successor));
    expectAsWhole("a process given the pid of one that ended");
    ::kill(successor, SIGKILL);
    ::waitpid(successor, nullptr, 0);
}

TEST(PortScanLive, ListsListenersWithTheirProcessButNoConnectedSockets)
{
    TestSockets sockets;
    const auto [tcp4, tcp4Port] = sockets.open(AF_INET, SOCK_STREAM, true);
    // The same port on IPv6 in the same process adds no row: the lower descriptor's address shows.
    const auto sameOn6 = sockets.open(AF_INET6, SOCK_STREAM, true, tcp4Port, true).second;
    const auto dualStack = sockets.open(AF_INET6, SOCK_STREAM, false).second;
    const auto v6only = sockets.open(AF_INET6, SOCK_STREAM, true, 0, true).second;
    const auto [udp4, udp4Port] = sockets.open(AF_INET, SOCK_DGRAM, false);
    const auto udp6 = sockets.open(AF_INET6, SOCK_DGRAM, true).second;
    // TCP and UDP on one port are two rows, TCP first.
    const auto udpOnTcpPort = sockets.open(AF_INET, SOCK_DGRAM, true, tcp4Port).second;
    const auto [connectedUdp, connectedUdpPort] = sockets.open(AF_INET, SOCK_DGRAM, true);
    ASSERT_TRUE(tcp4Port && udp4Port && connectedUdpPort && udpOnTcpPort);
    const bool ipv6 = dualStack && v6only && udp6 && sameOn6;
    ASSERT_TRUE(connectTo(connectedUdp, udp4Port));
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockets.fds.push_back(client);
    ASSERT_TRUE(connectTo(client, tcp4Port));
    sockaddr_in local{};
    socklen_t length = sizeof local;
    ::getsockname(client, reinterpret_cast<sockaddr*>(&local), &length);

    const PortScanner::ScanResult result = PortScanner::scanResult();
    ASSERT_FALSE(result.error) << result.error->toStdString();
    const QList<ServicePort> mine = recordsOf(result.ports, self);

    using Row = std::tuple<qint64, QString, QString>;
    std::vector<Row> rows;
    for (const ServicePort& p : mine)
        rows.emplace_back(p.port, p.networkProtocol, p.address);
    std::vector<Row> expected{
        {tcp4Port, "TCP", "127.0.0.1"}, {tcp4Port, "UDP", "127.0.0.1"}, {udp4Port, "UDP", "*"}};
    if (ipv6) {
        expected.insert(expected.end(),
                        {{dualStack, "TCP", "*"}, {v6only, "TCP", "::1"}, {udp6, "UDP", "::1"}});
    }
    std::sort(expected.begin(), expected.end());
    std::vector<Row> sortedRows = rows;
    std::sort(sortedRows.begin(), sortedRows.end());
    EXPECT_EQ(sortedRows, expected);
    EXPECT_FALSE(find(result.ports, self, connectedUdpPort, "UDP"));
    EXPECT_FALSE(find(result.ports, self, ntohs(local.sin_port), "TCP"));
    EXPECT_TRUE(std::is_sorted(result.ports.begin(), result.ports.end(), [](auto& a, auto& b) {
        return a.port < b.port || (a.port == b.port && a.networkProtocol < b.networkProtocol);
    }));

    // What the records tell of this process.
    QStringList arguments;
    for (const QByteArray& argument : readAll("/proc/self/cmdline").split('\0'))
        arguments.append(QString::fromUtf8(argument));
    arguments.removeLast();
    const ServicePort& any = mine.first();
    EXPECT_EQ(any.command, QString::fromUtf8(readAll("/proc/self/comm").trimmed()));
    EXPECT_EQ(any.user, Platform::loginName());
    EXPECT_EQ(any.commandLine, arguments.join(' '));
    EXPECT_EQ(any.startTime, Platform::processStartTime(self));
    EXPECT_TRUE(any.startTime.has_value());
    EXPECT_EQ(any.workingDir, QFileInfo(QDir::currentPath()).canonicalFilePath());
    EXPECT_FALSE(any.appName.has_value());
    EXPECT_FALSE(any.service.has_value());
}

TEST(PortScanLive, EveryProcessHoldingAnInheritedSocketHasItsRowAndItsOwnDirectory)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    TestSockets sockets;
    const auto [shared, port] = sockets.open(AF_INET, SOCK_STREAM, true);
    ASSERT_GT(port, 0);

    // Directory names are whatever their makers chose: bytes that are not UTF-8, a character that
    // turns the text around it, a tab.
    const QByteArray base = QFile::encodeName(QFileInfo(root.path()).canonicalFilePath());
    const std::vector<std::pair<QByteArray, QString>> folders{
        {"plain", "plain"},
        {"中文 目录", "中文 目录"},
        {"bad\xff\xfe", "bad\\xFF\\xFE"},
        {"ev\xe2\x80\xaename\tx", QString::fromUtf8("ev\xe2\x80\xaename\tx")}};
    std::list<Sleeper> children;
    for (const auto& [name, shown] : folders) {
        const QByteArray path = base + '/' + name;
        ASSERT_EQ(::mkdir(path.constData(), 0700), 0);
        ASSERT_TRUE(runsSleep(children.emplace_back(shared, Sleeper::Term::ends, path).pid));
    }
    ListenerInventory inventory;
    const auto ports = inventory.scan().value_or(PortScanner::ScanResult{}).ports;
    // It keeps where each socket was held, for a later scan to look there first.
    struct stat socketFile {};
    ASSERT_EQ(::fstat(shared, &socketFile), 0);
    const auto holders = inventory.holders().value(socketFile.st_ino);
    EXPECT_TRUE(holders.contains(Platform::SocketHolder{self, shared}));
    EXPECT_TRUE(find(ports, self, port, "TCP"));
    auto child = children.begin();
    for (size_t i = 0; i < folders.size(); ++i, ++child) {
        EXPECT_TRUE(holders.contains(Platform::SocketHolder{child->pid, 9}));
        EXPECT_EQ(Platform::socketInodes({{child->pid, 9}}).value(0), socketFile.st_ino);
        EXPECT_EQ(inventory.processes().value(child->pid).arguments,
                  (QByteArrayList{"/bin/sleep", "120"}));
        const auto record = find(ports, child->pid, port, "TCP");
        child->end();
        EXPECT_EQ(Platform::socketInodes({{child->pid, 9}}).value(0), std::nullopt);
        ASSERT_TRUE(record) << folders[i].first.toStdString();
        EXPECT_EQ(record->command, "sleep");
        EXPECT_EQ(record->commandLine, "/bin/sleep 120");
        EXPECT_EQ(record->workingDir, QString::fromUtf8(base) + '/' + folders[i].second);
        // The directory is opened by its real bytes, which only the undecodable one carries.
        EXPECT_EQ(record->workingDirPath(), base + '/' + folders[i].first);
        EXPECT_EQ(record->workingDirBytes.has_value(), i == 2);
    }
}

TEST(PortScanLive, ThousandsOfSocketsInOneProcess)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 4000)
        GTEST_SKIP() << "too few descriptors allowed";
    {
        TestSockets sockets;
        QSet<qint64> opened;
        for (int i = 0; i < 3000; ++i)
            opened.insert(sockets.open(AF_INET, SOCK_STREAM, true).second);
        ASSERT_FALSE(opened.contains(0));
        QSet<qint64> listed;
        for (const ServicePort& p : recordsOf(PortScanner::scan(), self))
            listed.insert(p.port);
        EXPECT_EQ(listed, opened);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

// Run as root: a scan by "nobody" cannot look into the processes of root, and the reverse can.
TEST(PortScanLive, AnotherUsersListenerIsListedWithItsOwnerButWithoutItsProcess)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run processes of another user";
    TestSockets sockets;
    const int port = sockets.open(AF_INET, SOCK_STREAM, true).second;
    ASSERT_GT(port, 0);

    const HelperRun run = runHelper({QStringLiteral("scan-as-nobody")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    const QStringList helper = lines.takeFirst().split(' ');
    ASSERT_EQ(helper.size(), 2);
    EXPECT_TRUE(lines.contains(QStringLiteral("%1 TCP 0 root ").arg(port)))
        << run.out.toStdString();
    EXPECT_TRUE(
        lines.contains(QStringLiteral("%1 TCP %2 nobody stores_helper").arg(helper[1], helper[0])))
        << run.out.toStdString();
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains(QStringLiteral(" %1 ").arg(self))) << line.toStdString();

    // A process of nobody's whose /proc folder belongs to root (it is not dumpable): its user is
    // still nobody.
    QProcess listener;
    listener.start(QStringLiteral(STORES_HELPER), {QStringLiteral("listen-as-nobody")});
    ASSERT_TRUE(listener.waitForReadyRead(10000));
    const qint64 nobodysPort = listener.readLine().trimmed().toLongLong();
    const auto record =
        find(PortScanner::scan(), static_cast<qint32>(listener.processId()), nobodysPort, "TCP");
    listener.kill();
    listener.waitForFinished();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->user, "nobody");
    EXPECT_EQ(record->command, "stores_helper");
}
