#include "PortScanner.h"
#include "PortScannerParsing.h"
#include "Printing.h"

#include <QSet>

#include <gtest/gtest.h>

#include <pwd.h>

using PortScanner::detail::SocketAddress;

namespace {

// Field output from lines written one per element.
QString listing(std::initializer_list<const char*> lines)
{
    QString text;
    for (const char* line : lines)
        text += QString::fromUtf8(line) + QLatin1Char('\n');
    return text;
}

// The fields a test compares: everything but the fresh id.
struct Row {
    qint64 port;
    QString protocol;
    QString address;
    qint32 pid;
    QString command;
    QString user;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row)
{
    return out << row.port << ' ' << row.protocol.toStdString() << ' ' << row.address.toStdString()
               << ' ' << row.pid << ' ' << row.command.toStdString() << ' '
               << row.user.toStdString();
}

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

TEST(PortParse, WorkedExampleParsesDeduplicatesAndSorts)
{
    const QString output = listing({"p812",
                                    "cpostgres",
                                    "u501",
                                    "Ldev",
                                    "f7",
                                    "tIPv6",
                                    "PTCP",
                                    "n[::1]:5432",
                                    "f8",
                                    "PTCP",
                                    "n127.0.0.1:5432",
                                    "p90",
                                    "cdnsd",
                                    "u0",
                                    "Lroot",
                                    "f3",
                                    "PUDP",
                                    "n*:5353",
                                    "f4",
                                    "n10.0.0.5:49152->10.0.0.1:53",
                                    "f5",
                                    "n*:*"});
    const auto parsed = PortScanner::parse(output);
    EXPECT_EQ(rows(parsed), (std::vector<Row>{{5432, "TCP", "::1", 812, "postgres", "dev"},
                                              {5353, "UDP", "*", 90, "dnsd", "root"}}));
    for (const auto& port : parsed) {
        EXPECT_FALSE(port.id.isNull());
        EXPECT_FALSE(port.appName || port.bundleID || port.workingDir);
    }
    EXPECT_NE(parsed[0].id, parsed[1].id);

    auto sorted = parsed;
    PortScanner::detail::sortByPortAndProtocol(sorted);
    EXPECT_EQ(sorted[0].port, 5353);
    EXPECT_EQ(sorted[1].port, 5432);
}

TEST(PortParse, RecordKeysAndOrder)
{
    struct Case {
        const char* what;
        QString output;
        std::vector<Row> expected;
    };
    const std::vector<Case> cases{
        {"two processes on one port both count, in listing order",
         listing({"p10", "ca", "Lx", "PTCP", "n*:80", "p11", "cb", "Ly", "PTCP", "n*:80"}),
         {{80, "TCP", "*", 10, "a", "x"}, {80, "TCP", "*", 11, "b", "y"}}},
        {"same process, TCP and UDP on one port: two records",
         listing({"p10", "ca", "Lx", "PUDP", "n*:53", "PTCP", "n127.0.0.1:53"}),
         {{53, "UDP", "*", 10, "a", "x"}, {53, "TCP", "127.0.0.1", 10, "a", "x"}}},
        {"non-numeric pid gives pid 0",
         listing({"pabc", "ca", "Lx", "PTCP", "n*:80", "p 7", "n*:81"}),
         {{80, "TCP", "*", 0, "a", "x"}, {81, "TCP", "*", 0, "", ""}}},
        {"a signed pid is accepted",
         listing({"p+42", "PTCP", "n*:1", "p-3", "n*:2"}),
         {{1, "TCP", "*", 42, "", ""}, {2, "TCP", "*", -3, "", ""}}},
        {"no P line yet: TCP; lower case is raised",
         listing({"p1", "n*:22", "Pudp", "n*:22", "Ptcp", "n[::]:22"}),
         {{22, "TCP", "*", 1, "", ""}, {22, "UDP", "*", 1, "", ""}}},
        {"the protocol stays across processes",
         listing({"p1", "PUDP", "n*:5000", "p2", "n*:5001"}),
         {{5000, "UDP", "*", 1, "", ""}, {5001, "UDP", "*", 2, "", ""}}},
        {"port 0, asterisk port, connected and colon-less names are skipped",
         listing({"p1", "PTCP", "n*:0", "n*:*", "n1.2.3.4:5->6.7.8.9:10", "nlocalhost", "n*:8080"}),
         {{8080, "TCP", "*", 1, "", ""}}},
        {"CR is part of the line, empty lines and unknown letters are ignored",
         QStringLiteral("\n\np1\r\np2\n\nx:99\nf9\n\nn*:99\r\n"),
         {{99, "TCP", "*", 2, "", ""}}},
        {"empty output", QString(), {}},
        {"last line without newline",
         QStringLiteral("p5\nPTCP\nn*:7"),
         {{7, "TCP", "*", 5, "", ""}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rows(PortScanner::parse(c.output)), c.expected) << c.what;
}

TEST(PortParse, CommandAndUserBelongToTheirOwnProcess)
{
    // The second process has neither a command nor a login name line: it must not inherit them.
    const auto ports = PortScanner::parse(
        listing({"p1", "cnginx", "u0", "Lroot", "PTCP", "n*:80", "p2", "PTCP", "n*:81"}));
    EXPECT_EQ(rows(ports), (std::vector<Row>{{80, "TCP", "*", 1, "nginx", "root"},
                                             {81, "TCP", "*", 2, "", ""}}));

    // A "u" line names each process's user afresh; the "L" line still wins when it follows.
    const uid_t me = ::getuid();
    const auto byUid = PortScanner::parse(
        listing({"p1", "u0", "PTCP", "n*:80", "p2", qPrintable(QStringLiteral("u%1").arg(me)),
                 "n*:81", "p3", "u0", "Lother", "n*:82"}));
    EXPECT_EQ(byUid[0].user, accountFor(0));
    EXPECT_EQ(byUid[1].user, accountFor(me));
    EXPECT_EQ(byUid[2].user, QStringLiteral("other"));

    // Unknown user ids come back as digits; malformed ones change nothing.
    const auto odd = PortScanner::parse(listing({"p1", "u4000000123", "n*:1", "p2", "u 5", "n*:2",
                                                 "p3", "u-1", "n*:3", "p4", "u", "n*:4"}));
    EXPECT_EQ(odd[0].user, QStringLiteral("4000000123"));
    EXPECT_EQ(odd[1].user, QString());
    EXPECT_EQ(odd[2].user, QString());
    EXPECT_EQ(odd[3].user, QString());
}

TEST(PortParse, SplitsSocketNames)
{
    struct Case {
        const char16_t* name;
        std::optional<SocketAddress> expected;
    };
    const std::vector<Case> cases{
        {u"*:80", SocketAddress{"*", 80}},
        {u"127.0.0.1:631", SocketAddress{"127.0.0.1", 631}},
        {u"[::1]:5432", SocketAddress{"::1", 5432}},
        {u"[fe80::1%lo0]:7000", SocketAddress{"fe80::1%lo0", 7000}},
        {u":9000", SocketAddress{"*", 9000}},
        {u"[]:9001", SocketAddress{"*", 9001}},
        {u"[::]:443 (LISTEN)", SocketAddress{"::", 443}},
        {u"host:0080x", SocketAddress{"host", 80}},
        {u"*:9223372036854775807", SocketAddress{"*", 9223372036854775807LL}},
        {u"*:*", std::nullopt},
        {u"10.0.0.5:49152->10.0.0.1:443", std::nullopt},
        {u"nocolon", std::nullopt},
        {u"*:", std::nullopt},
        {u"*:9223372036854775808", std::nullopt},
        {u"*:+80", std::nullopt},
        {u"*:8\u0660", std::nullopt},      // a non-ASCII decimal digit in the run
        {u"*:80\u00b2", std::nullopt},     // superscript two is numeric but not a digit
        {u"*:\U0001D7D880", std::nullopt}, // mathematical digit outside the basic plane
        {u"*:\uff18\uff10", std::nullopt}, // full-width digits
    };
    for (const auto& c : cases) {
        const QString name = QString::fromUtf16(c.name);
        EXPECT_EQ(PortScanner::detail::parseAddress(name), c.expected) << name.toStdString();
    }
}

TEST(PortParse, DecodesLsofEscapesInNames)
{
    struct Case {
        const char* escaped;
        const char* expected;
    };
    const std::vector<Case> cases{
        {"/tmp/\\xe4\\xb8\\xad\\xe6\\x96\\x87 dir", "/tmp/中文 dir"},
        {"/tmp/\\xC3\\xA9", "/tmp/é"},
        {"/tmp/back\\\\slash", "/tmp/back\\slash"},
        {"/a\\tb\\nc\\rd\\be\\ff", "/a\tb\nc\rd\be\ff"},
        {"/ctl^Ax/esc^[y", "/ctl\x01x/esc\x1by"},
        {"/caret^x/^H/^", "/caret^x/^H/^"}, // lsof writes ^ itself unescaped
        {"/already/中文", "/already/中文"},
        {"/odd\\q\\x4", "/odd\\q\\x4"},       // not an escape lsof writes: kept
        {"/bad\\xff\\xfe", "/bad\\xff\\xfe"}, // not UTF-8 once decoded: left as printed
        {"/mix\\\\xe4", "/mix\\xe4"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PortScanner::detail::decodeLsofText(QString::fromUtf8(c.escaped)),
                  QString::fromUtf8(c.expected))
            << c.escaped;
    }

    // Socket names go through the same decoding before they are split.
    const auto ports = PortScanner::parse(listing({"p1", "PTCP", "n[fe80::1%\\x65th0]:80"}));
    ASSERT_EQ(ports.size(), 1);
    EXPECT_EQ(ports[0].address, QStringLiteral("fe80::1%eth0"));
}

TEST(PortParse, WorkingDirectoryQuery)
{
    QList<ServicePort> ports;
    for (qint32 pid : {812, 90, 812, 0, -4, 812, 4410})
        ports.append(ServicePort{QUuid::createUuid(), 1, "TCP", "*", pid, "c", "u", {}, {}, {}});
    EXPECT_EQ(PortScanner::detail::workingDirArguments(PortScanner::detail::workingDirPids(ports)),
              (QStringList{"-a", "-d", "cwd", "-p", "812,90,4410", "-Fpn"}));
    EXPECT_TRUE(PortScanner::detail::workingDirPids({ports[3], ports[4]}).isEmpty());

    const auto directories = PortScanner::detail::parseWorkingDirs(QStringLiteral(
        "p812\nfcwd\nn/srv/api\nn/second\n\np90\nn/tmp/\\xe4\\xb8\\xad\n"
        "p77\nn/proc/77/cwd (readlink: Permission denied)\npx\nn/for/zero\np-5\nn/neg\n"
        "n/neg/again\np4410\n"));
    EXPECT_EQ(
        directories,
        (QHash<qint32, QString>{
            {812, "/srv/api"}, {90, QStringLiteral("/tmp/中")}, {0, "/for/zero"}, {-5, "/neg"}}));

    PortScanner::detail::applyWorkingDirs(ports, directories);
    EXPECT_EQ(ports[0].workingDir, QStringLiteral("/srv/api"));
    EXPECT_EQ(ports[2].workingDir, QStringLiteral("/srv/api"));
    EXPECT_EQ(ports[1].workingDir, QStringLiteral("/tmp/中"));
    EXPECT_EQ(ports[6].workingDir, std::nullopt); // lsof said nothing for 4410
}

TEST(PortParse, RunningApplicationsNameTheirRecords)
{
    QList<ServicePort> ports;
    for (qint32 pid : {5, 6, 7})
        ports.append(ServicePort{QUuid::createUuid(), 1, "TCP", "*", pid, "cmd", "u", {}, {}, {}});
    const QList<Platform::RunningApplication> applications{
        {5, QStringLiteral("旧名"), QStringLiteral("org.old"), {}},
        {6, std::nullopt, QStringLiteral("org.nameless"), {}},
        {5, QStringLiteral("终端"), QStringLiteral("org.gnome.Terminal"), {}},
    };
    PortScanner::detail::applyRunningApps(ports, applications);
    EXPECT_EQ(ports[0].appName, QStringLiteral("终端")); // the later entry for a pid wins
    EXPECT_EQ(ports[0].bundleID, QStringLiteral("org.gnome.Terminal"));
    EXPECT_EQ(ports[0].displayName(), QStringLiteral("终端"));
    EXPECT_EQ(ports[1].appName, std::nullopt);
    EXPECT_EQ(ports[1].bundleID, QStringLiteral("org.nameless"));
    EXPECT_EQ(ports[1].displayName(), QStringLiteral("cmd"));
    EXPECT_FALSE(ports[2].appName || ports[2].bundleID);
}

TEST(PortParse, SortIsStableByPortThenProtocol)
{
    QList<ServicePort> ports;
    const std::vector<std::pair<qint64, const char*>> input{{443, "UDP"}, {80, "UDP"}, {443, "TCP"},
                                                            {80, "TCP"},  {80, "UDP"}, {22, "TCP"}};
    for (qint32 i = 0; i < static_cast<qint32>(input.size()); ++i)
        ports.append(ServicePort{
            QUuid::createUuid(), input[i].first, input[i].second, "*", i, "", "", {}, {}, {}});
    PortScanner::detail::sortByPortAndProtocol(ports);
    std::vector<std::pair<qint64, qint32>> order;
    for (const auto& p : ports)
        order.emplace_back(p.port, p.pid);
    EXPECT_EQ(order, (std::vector<std::pair<qint64, qint32>>{
                         {22, 5}, {80, 3}, {80, 1}, {80, 4}, {443, 2}, {443, 0}}));
}

TEST(PortParse, DuplicatesAreFoundAcrossRunsAndInBusyProcesses)
{
    // One process with 60 listeners, then named again later (as the second listing run does) with
    // the same sockets once more plus one new one; another process in between shares the ports.
    QString output = QStringLiteral("p7\ncbusy\nPTCP\n");
    for (int port = 1; port <= 60; ++port)
        output += QStringLiteral("n*:%1\n").arg(port);
    output += QStringLiteral("p8\ncother\nn*:1\nn*:1\n");
    output += QStringLiteral("p7\ncbusy\n");
    for (int port = 60; port >= 1; --port)
        output += QStringLiteral("n[::]:%1\n").arg(port);
    output += QStringLiteral("n*:61\nPUDP\nn*:1\n");

    const auto ports = PortScanner::parse(output);
    ASSERT_EQ(ports.size(), 63);
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(rows({ports[i]}), (std::vector<Row>{{i + 1, "TCP", "*", 7, "busy", ""}}));
    EXPECT_EQ(rows({ports[60], ports[61], ports[62]}),
              (std::vector<Row>{{1, "TCP", "*", 8, "other", ""},
                                {61, "TCP", "*", 7, "busy", ""},
                                {1, "UDP", "*", 7, "busy", ""}}));
}
