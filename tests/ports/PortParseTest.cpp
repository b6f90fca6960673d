// The lsof field listing (where lsof is the scan): untrusted text at every edge.
#include "PortScanner.h"
#include "PortScannerParsing.h"
#include "Printing.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

using PortScanner::detail::SocketAddress;

namespace {

// Everything of a record but its fresh id.
struct Row {
    qint64 port;
    QString protocol, address;
    qint32 pid;
    QString command, user;
    bool operator==(const Row&) const = default;
    friend void PrintTo(const Row& r, std::ostream* out)
    {
        *out << r.port << ' ' << r.protocol.toStdString() << ' ' << r.address.toStdString() << ' '
             << r.pid << ' ' << r.command.toStdString() << ' ' << r.user.toStdString();
    }
};

std::vector<Row> rows(const QList<ServicePort>& ports)
{
    std::vector<Row> result;
    for (const auto& p : ports)
        result.push_back({p.port, p.networkProtocol, p.address, p.pid, p.command, p.user});
    return result;
}

QString accountFor(uid_t uid)
{
    const passwd* entry = ::getpwuid(uid);
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}

} // namespace

TEST(PortParse, RecordsKeysStateAndSkippedLines)
{
    const QString busy = [] {
        // A process with many listeners, named again later (as the second listing run does).
        QString text = QStringLiteral("p7\ncbusy\nPTCP\n");
        for (int port = 1; port <= 60; ++port)
            text += QStringLiteral("n*:%1\n").arg(port);
        text += QStringLiteral("p8\ncother\nn*:1\nn*:1\np7\ncbusy\n");
        for (int port = 60; port >= 1; --port)
            text += QStringLiteral("n[::]:%1\n").arg(port);
        return text + QStringLiteral("n*:61\nPUDP\nn*:1\n");
    }();
    const std::vector<std::pair<QString, std::vector<Row>>> cases{
        // One listener per port, protocol and process: the first address of a pair shows.
        {"p812\ncpostgres\nu501\nLdev\nf7\ntIPv6\nPTCP\nn[::1]:5432\nf8\nPTCP\nn127.0.0.1:5432\n"
         "p90\ncdnsd\nu0\nLroot\nf3\nPUDP\nn*:5353\nf4\nn10.0.0.5:49152->10.0.0.1:53\nf5\nn*:*\n",
         {{5432, "TCP", "::1", 812, "postgres", "dev"}, {5353, "UDP", "*", 90, "dnsd", "root"}}},
        // Two processes on one port both count; one process with TCP and UDP on a port: two.
        {"p10\nca\nLx\nPTCP\nn*:80\np11\ncb\nLy\nn*:80\nPUDP\nn*:80\n",
         {{80, "TCP", "*", 10, "a", "x"},
          {80, "TCP", "*", 11, "b", "y"},
          {80, "UDP", "*", 11, "b", "y"}}},
        // Non-numeric pids give 0; signs are accepted; command and user start empty per process.
        {"pabc\nca\nLx\nn*:80\np 7\nn*:81\np+42\nn*:1\np-3\nn*:2\n",
         {{80, "TCP", "*", 0, "a", "x"},
          {81, "TCP", "*", 0, "", ""},
          {1, "TCP", "*", 42, "", ""},
          {2, "TCP", "*", -3, "", ""}}},
        // No P line yet: TCP; lower case is raised; the protocol carries over to the next process.
        {"p1\nn*:22\nPudp\nn*:22\nPtcp\nn[::]:22\np2\nPUdp\nn*:23\n",
         {{22, "TCP", "*", 1, "", ""}, {22, "UDP", "*", 1, "", ""}, {23, "UDP", "*", 2, "", ""}}},
        // Port 0, asterisk ports, connected and colon-less names; a CR makes "2\r" no number.
        {"p1\nn*:0\nn*:*\nn1.2.3.4:5->6.7.8.9:10\nnhost\n\np2\r\nx:9\nn*:99\r\nn*:8",
         {{99, "TCP", "*", 0, "", ""}, {8, "TCP", "*", 0, "", ""}}},
        {"", {}},
    };
    for (const auto& [output, expected] : cases)
        EXPECT_EQ(rows(PortScanner::parse(output)), expected) << output.toStdString();

    const auto ports = PortScanner::parse(busy);
    ASSERT_EQ(ports.size(), 63);
    EXPECT_EQ(rows(ports.mid(59)), (std::vector<Row>{{60, "TCP", "*", 7, "busy", ""},
                                                     {1, "TCP", "*", 8, "other", ""},
                                                     {61, "TCP", "*", 7, "busy", ""},
                                                     {1, "UDP", "*", 7, "busy", ""}}));
    EXPECT_TRUE(!ports[0].id.isNull() && ports[0].id != ports[1].id);
    EXPECT_FALSE(ports[0].appName || ports[0].bundleID || ports[0].workingDir);

    // The user: the login name, else the user database, else the number; junk gives none.
    const uid_t me = ::getuid();
    QStringList users;
    for (const auto& port : PortScanner::parse(
             QStringLiteral("p1\nu0\nn*:80\np2\nu%1\nn*:81\np3\nu0\nLother\nn*:82\np4\nLroot\n"
                            "u4000000123\nn*:83\np5\nu4000000123\nn*:84\np6\nu 5\nn*:85\np7\n"
                            "u-1\nu\nn*:86\n")
                 .arg(me)))
        users.append(port.user);
    EXPECT_EQ(users,
              (QStringList{accountFor(0), accountFor(me), "other", "root", "4000000123", "", ""}));
}

TEST(PortParse, SplitsSocketNames)
{
    const std::vector<std::pair<const char16_t*, std::optional<SocketAddress>>> cases{
        {u"*:80", SocketAddress{"*", 80}},
        {u"[::1]:5432", SocketAddress{"::1", 5432}},
        {u"[fe80::1%lo0]:7000", SocketAddress{"fe80::1%lo0", 7000}},
        {u":9000", SocketAddress{"*", 9000}},
        {u"[]:9001", SocketAddress{"*", 9001}},
        {u"host:0080x", SocketAddress{"host", 80}},
        {u"*:9223372036854775807", SocketAddress{"*", 9223372036854775807LL}},
        {u"*:*", std::nullopt},
        {u"10.0.0.5:49152->10.0.0.1:443", std::nullopt},
        {u"nocolon", std::nullopt},
        {u"*:9223372036854775808", std::nullopt},
        {u"*:+80", std::nullopt},
        {u"*:8\u0660", std::nullopt},      // numeric, but not an ASCII digit
        {u"*:80\u00b2", std::nullopt},     // superscript two
        {u"*:\U0001D7D880", std::nullopt}, // a digit outside the basic plane
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(PortScanner::detail::parseAddress(QString::fromUtf16(name)), expected)
            << QString::fromUtf16(name).toStdString();
}

TEST(PortParse, DecodesLsofEscapesAndWorkingDirectories)
{
    const std::vector<std::pair<const char*, const char*>> cases{
        {"/tmp/\\xe4\\xb8\\xad\\xe6\\x96\\x87 dir", "/tmp/中文 dir"},
        {"/b\\\\s/\\xC3\\xA9", "/b\\s/é"},
        {"/a\\tb\\nc\\rd\\be\\ff", "/a\tb\nc\rd\be\ff"},
        {"/ctl^Ax/esc^[y", "/ctl\x01x/esc\x1by"},
        {"/caret^x/^H/^", "/caret^x/^H/^"},   // lsof writes ^ itself unescaped
        {"/odd\\q\\x4", "/odd\\q\\x4"},       // not an escape lsof writes
        {"/bad\\xff\\xfe", "/bad\\xff\\xfe"}, // not UTF-8 once decoded: left as printed
        {"/mix\\\\xe4", "/mix\\xe4"},
    };
    for (const auto& [escaped, expected] : cases)
        EXPECT_EQ(PortScanner::detail::decodeLsofText(QString::fromUtf8(escaped)),
                  QString::fromUtf8(expected));
    EXPECT_EQ(PortScanner::parse("p1\nn[fe80::1%\\x65th0]:80\n").value(0).address, "fe80::1%eth0");

    EXPECT_EQ(PortScanner::detail::parseWorkingDirs(QStringLiteral(
                  "p812\nfcwd\nn/srv/api\nn/second\n\np90\nn/tmp/\\xe4\\xb8\\xad\n"
                  "p77\nn/proc/77/cwd (readlink: Permission denied)\npx\nn/zero\np4410\n")),
              (QHash<qint32, QString>{{812, "/srv/api"}, {90, "/tmp/中"}, {0, "/zero"}}));
}

TEST(PortParse, SortIsStableByPortThenProtocol)
{
    auto ports = PortScanner::parse(
        QStringLiteral("p0\nPUDP\nn*:443\np1\nn*:80\np2\nPTCP\nn*:443\np3\nn*:80\n"
                       "p4\nPUDP\nn*:80\np5\nPTCP\nn*:22\n"));
    PortScanner::detail::sortByPortAndProtocol(ports);
    std::vector<qint32> order;
    for (const auto& p : ports)
        order.push_back(p.pid);
    EXPECT_EQ(order, (std::vector<qint32>{5, 3, 1, 4, 2, 0}));
}
