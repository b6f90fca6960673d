// The readers behind the scan fed with what the kernel could write: sock_diag replies, /proc
// files, cgroup paths.
#include "Printing.h"
#include "ProcParsing.h"
#include "SocketDiagParsing.h"
#include "SystemdServices.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>

#include <cstring>

using namespace Platform::detail;

namespace {

// A datagram of netlink messages, each aligned as the kernel aligns them.
struct Datagram {
    QByteArray bytes;

    Datagram& message(quint16 type, const void* payload, size_t size)
    {
        nlmsghdr header{};
        header.nlmsg_len = static_cast<quint32>(NLMSG_HDRLEN + size);
        header.nlmsg_type = type;
        bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
        bytes.append(static_cast<const char*>(payload), static_cast<qsizetype>(size));
        bytes.append(QByteArray(NLMSG_ALIGN(size) - size, '\0'));
        return *this;
    }
    Datagram& socket(int family, int state, const char* source, quint16 port, quint16 peer = 0)
    {
        inet_diag_msg diag{};
        diag.idiag_family = static_cast<quint8>(family);
        diag.idiag_state = static_cast<quint8>(state);
        diag.id.idiag_sport = htons(port);
        diag.id.idiag_dport = htons(peer);
        ::inet_pton(family, source, diag.id.idiag_src);
        diag.idiag_uid = 1000;
        diag.idiag_inode = 4242;
        return message(SOCK_DIAG_BY_FAMILY, &diag, sizeof diag);
    }
    Datagram& error(int number)
    {
        nlmsgerr error{};
        error.error = -number;
        return message(NLMSG_ERROR, &error, sizeof error);
    }
};

std::vector<std::pair<QString, quint16>> read(const Datagram& datagram, bool udp,
                                              DiagProgress::State expected, int error = 0)
{
    QList<Platform::ListeningSocket> sockets;
    AddressTexts addresses;
    const DiagProgress progress = readDiagDatagram(datagram.bytes, udp, sockets, addresses);
    EXPECT_EQ(progress.state, expected);
    EXPECT_EQ(progress.error, error);
    std::vector<std::pair<QString, quint16>> found;
    for (const auto& socket : sockets)
        found.emplace_back(socket.address, socket.port);
    return found;
}

} // namespace

TEST(SocketInventory, DiagRepliesGiveListenersAndUnconnectedDatagramSocketsOnly)
{
    using State = DiagProgress::State;
    Datagram tcp;
    tcp.socket(AF_INET, TCP_LISTEN, "0.0.0.0", 80)
        .socket(AF_INET6, TCP_LISTEN, "::", 443)
        .socket(AF_INET6, TCP_LISTEN, "::ffff:127.0.0.1", 8080)
        .socket(AF_INET, TCP_ESTABLISHED, "127.0.0.1", 5000, 80)
        .socket(AF_INET6, TCP_LISTEN, "fe80::1", 0); // no port yet
    EXPECT_EQ(read(tcp, false, State::more),
              (std::vector<std::pair<QString, quint16>>{
                  {"*", 80}, {"*", 443}, {"::ffff:127.0.0.1", 8080}}));

    Datagram udp;
    udp.socket(AF_INET, TCP_CLOSE, "127.0.0.1", 53)
        .socket(AF_INET, TCP_CLOSE, "127.0.0.1", 54, 9) // a peer although not "established"
        .socket(AF_INET6, TCP_ESTABLISHED, "::1", 55, 9)
        .message(NLMSG_DONE, "\0\0\0\0", 4)
        .socket(AF_INET, TCP_CLOSE, "127.0.0.1", 56); // after the end: not read
    EXPECT_EQ(read(udp, true, State::done),
              (std::vector<std::pair<QString, quint16>>{{"127.0.0.1", 53}}));

    EXPECT_TRUE(read(Datagram().error(EPERM), false, State::failed, EPERM).empty());
    // A length that runs past the datagram, a header cut short, a payload too short to read.
    Datagram overlong;
    overlong.socket(AF_INET, TCP_LISTEN, "0.0.0.0", 80);
    overlong.bytes[0] = static_cast<char>(0xff);
    EXPECT_TRUE(read(overlong, false, State::failed, EBADMSG).empty());
    EXPECT_TRUE(read(Datagram{QByteArray(10, '\x01')}, false, State::more).empty());
    EXPECT_TRUE(
        read(Datagram().message(SOCK_DIAG_BY_FAMILY, "abc", 3), false, State::more).empty());
    EXPECT_TRUE(
        read(Datagram().message(NLMSG_ERROR, "ab", 2), false, State::failed, EBADMSG).empty());
}

TEST(SocketInventory, ProcFilesAsTheKernelWritesThem)
{
    // The command may hold spaces and parentheses; it ends at the last ")".
    const QByteArray fields = " S 77 812 812 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 1 0 123456 9 9";
    EXPECT_EQ(parseStat("812 (my (odd) cmd)" + fields), (StatFields{"my (odd) cmd", 77, 123456}));
    EXPECT_EQ(parseStat("812 ()" + fields), (StatFields{"", 77, 123456}));
    EXPECT_EQ(parseStat("812 (cmd) S 77 812"), std::nullopt);
    EXPECT_EQ(parseStat("812 (cmd"), std::nullopt);

    EXPECT_EQ(splitCommandLine(QByteArray("node\0server.js\0\0", 16)),
              (QByteArrayList{"node", "server.js", ""}));
    EXPECT_EQ(splitCommandLine("postgres: checkpointer"), QByteArrayList{"postgres: checkpointer"});
    EXPECT_EQ(socketInodeOfLink("socket:[98765]"), 98765u);
    EXPECT_EQ(socketInodeOfLink("socket:[]"), std::nullopt);
    EXPECT_EQ(socketInodeOfLink("/dev/pts/0"), std::nullopt);
    EXPECT_EQ(effectiveUidFromStatus("Name:\tnginx\nUid:\t0\t33\t33\t33\nGid:\t0\n"), 33u);
    EXPECT_EQ(effectiveUidFromStatus("Name:\tx\nUid:\t0\n"), std::nullopt);

    // The unified hierarchy names the units, unless the process sits at its root (a hybrid host).
    EXPECT_EQ(unitCgroupPath("12:cpu:/x\n0::/system.slice/ssh.service\n"),
              "/system.slice/ssh.service");
    EXPECT_EQ(unitCgroupPath("1:name=systemd:/system.slice/cron.service\n0::/\n"),
              "/system.slice/cron.service");
    EXPECT_EQ(unitCgroupPath("0::/\n"), "/");
}

TEST(SocketInventory, TheServiceUnitOfACgroupPath)
{
    const QString user = QStringLiteral("unix:path=/run/user/1000/bus");
    const std::vector<std::pair<QString, std::optional<ServiceUnit>>> cases{
        {"/system.slice/postgresql@15-main.service",
         ServiceUnit{"postgresql@15-main.service", ServiceUnit::Manager::system, {}, false}},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/vite.service",
         ServiceUnit{"vite.service", ServiceUnit::Manager::user, user, false}},
        // The user manager is itself a service of the system manager.
        {"/user.slice/user-1000.slice/user@1000.service",
         ServiceUnit{"user@1000.service", ServiceUnit::Manager::system, {}, false}},
        {"/system.slice/_cpu.service",
         ServiceUnit{"cpu.service", ServiceUnit::Manager::system, {}, false}},
        {"/user.slice/user-1000.slice/user@1000.service/init.scope", std::nullopt},
        {"/system.slice/docker-0123.scope", std::nullopt},
        {"/system.slice/evil name.service", std::nullopt},
        {"/.service", std::nullopt},
        {"/", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [path, unit] : cases)
        EXPECT_EQ(SystemdServices::unitOfCgroup(path), unit) << path.toStdString();

    // A manager a test started runs its services below a cgroup of its own.
    SystemdServices::testing::setUserManager("/kestrow-test-1", "unix:path=/tmp/bus");
    EXPECT_EQ(
        SystemdServices::unitOfCgroup(u"/kestrow-test-1/app.slice/listener.service"),
        (ServiceUnit{"listener.service", ServiceUnit::Manager::user, "unix:path=/tmp/bus", false}));
    EXPECT_EQ(SystemdServices::unitOfCgroup(u"/kestrow-test-10/listener.service")->manager,
              ServiceUnit::Manager::system);
    SystemdServices::testing::setUserManager("/kestrow-test-1", {});
}
