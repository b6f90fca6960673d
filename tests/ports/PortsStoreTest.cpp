#include "PortScanner.h"
#include "Stores.h"
#include "TestSupport.h"
#include "platform/Platform.h"

#include <QDir>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

ServicePort record(qint64 port, const QString& command, const QString& address = "*",
                   std::optional<QString> workingDir = std::nullopt,
                   std::optional<QString> appName = std::nullopt)
{
    ServicePort r;
    r.id = QUuid::createUuid();
    r.port = port;
    r.networkProtocol = QStringLiteral("TCP");
    r.address = address;
    r.pid = 4242;
    r.command = command;
    r.user = QStringLiteral("u80");
    r.appName = std::move(appName);
    r.workingDir = std::move(workingDir);
    return r;
}

QList<qint64> portsOf(const QList<ServicePort>& records)
{
    QList<qint64> ports;
    for (const ServicePort& r : records)
        ports.append(r.port);
    return ports;
}

TEST(PortsStoreRefresh, AStoreDestroyedWhileItScansDropsTheResult)
{
    allowOverlappingScans();
    std::atomic<int> scansEnded = 0;
    auto slowScan = [&](Gate& gate) {
        return [&] {
            gate.wait();
            ++scansEnded;
            return QList<ServicePort>{record(1, "x")};
        };
    };
    // Destroyed before the scan ends, and destroyed after the result is queued to it.
    Gate beforeEnd, afterEnd;
    auto early = std::make_unique<PortsStore>();
    auto late = std::make_unique<PortsStore>();
    early->setScannerForTesting(slowScan(beforeEnd));
    late->setScannerForTesting(slowScan(afterEnd));
    early->refresh();
    late->refresh();
    early.reset();
    beforeEnd.open();
    afterEnd.open();
    QThreadPool::globalInstance()->waitForDone();
    late.reset();
    settleBackgroundWork();
    EXPECT_EQ(scansEnded, 2);

    // A program that ends while scans run ends cleanly.
    const HelperRun run = runHelper({QStringLiteral("exit-mid-scan")});
    EXPECT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
}

// Run by an unprivileged child, so that a process of another user (this one) cannot be signalled.
TEST(PortsStoreKill, KillManyReportsEveryFailureOnItsOwnLineAndRefreshes)
{
    QProcess foreign;
    foreign.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(foreign.waitForStarted());
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";

    const HelperRun run =
        runHelper({QStringLiteral("kill-many"), QString::number(foreign.processId())});
    ASSERT_FALSE(run.crashed) << run.err.toStdString();
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << run.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("loading=1 live-signal=%1").arg(SIGTERM));
    EXPECT_EQ(lines[1], QStringLiteral("端口 3001（旧应用）：进程不存在（可能已退出）。"));
    EXPECT_EQ(lines[2], QStringLiteral("端口 3002（foreign）：权限不足：该进程可能属于其他用户或"
                                       "系统，需要管理员权限。"));
    // Identifier 0 is refused rather than sent to the caller's process group.
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("端口 3003（zero）：")));
    EXPECT_GT(lines[3].size(), QStringLiteral("端口 3003（zero）：").size());
    // The name shows its direction override as an escape.
    EXPECT_EQ(lines[4],
              QStringLiteral("端口 3004（ev\\u202Ename）：进程号已被其他进程复用（原进程已"
                             "退出）：未发送任何信号。"));
    EXPECT_EQ(foreign.state(), QProcess::Running);
    foreign.kill();
    foreign.waitForFinished();
}

TEST(PortsStoreRefresh, AScanThatCannotListTheSocketsKeepsTheRowsAndSaysWhy)
{
    PortsStore store;
    const QList<ServicePort> earlier{record(80, "nginx")};
    store.setPorts(earlier);
    Platform::testing::setSocketTableFault(EPERM);
    EXPECT_EQ(PortScanner::scanResult().error,
              QStringLiteral("netlink sock_diag: ") + QString::fromLocal8Bit(std::strerror(EPERM)));
    store.refresh();
    ASSERT_TRUE(waitUntilIdle(store));
    Platform::testing::setSocketTableFault(std::nullopt);
    EXPECT_EQ(store.ports(), earlier);
    EXPECT_EQ(store.lastError(), QStringLiteral("无法列出监听端口：netlink sock_diag: ") +
                                     QString::fromLocal8Bit(std::strerror(EPERM)));

    // Once the sockets can be listed again, the table follows them and the failure goes.
    store.refresh();
    ASSERT_TRUE(waitUntilIdle(store));
    EXPECT_NE(store.ports(), earlier);
    EXPECT_EQ(store.lastError(), std::nullopt);
}

TEST(PortsStoreKill, AServiceWhoseManagerCannotBeReachedSaysSoInTheBanner)
{
    PortsStore store;
    ServicePort port = record(5432, "postgres");
    port.service = ServiceUnit{QStringLiteral("postgresql.service"), ServiceUnit::Manager::user,
                               QStringLiteral("unix:path=/nonexistent/bus"), true};
    store.stopService(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.lastError().has_value(); }, 10000));
    EXPECT_TRUE(store.lastError()->startsWith(QStringLiteral("[postgresql.service] ")));
    EXPECT_GT(store.lastError()->size(), QStringLiteral("[postgresql.service] ").size());
    EXPECT_FALSE(store.isLoading());
}

TEST(PortsStoreFilter, SearchesNamesPortsCommandsAddressesAndDirectories)
{
    PortsStore store;
    QList<ServicePort> records{
        record(80, "nginx"),
        record(443, "caddy"),
        record(1080, "socks"),
        record(8000, "python3"),
        record(5432, "postgres", "*", QStringLiteral("/srv/App80")),
        record(9999, "go", "::1", std::nullopt, QStringLiteral("Server80")),
        record(7000, "redis", "10.0.80.1"),
        record(3000, "node", "127.0.0.1", QStringLiteral("/home/İstanbul"),
               QStringLiteral("Ärger")),
        record(6000, "plain", "127.0.0.1", std::nullopt, QString()),
        record(8443, "srv", "*", QDir::homePath() + QStringLiteral("/proj-x")),
    };
    records[1].commandLine = QStringLiteral("/usr/bin/caddy run --config /etc/Caddyfile");
    store.setPorts(records);
    EXPECT_EQ(store.filtered(), records);

    const struct {
        QString filter;
        QList<qint64> expected;
    } cases[] = {
        {"80", {80, 1080, 8000, 5432, 9999, 7000}}, // user and pid hold 80 too but are not searched
        {"NGINX", {80}},
        {"server80", {9999}},
        {"app80", {5432}},
        {"plain", {6000}}, // the command counts even under an (empty) application name
        {"ÄRGER", {3000}},
        {"İSTANBUL", {3000}}, // full lower-casing keeps the dot above: i̇stanbul
        {"istanbul", {}},
        {QString(QChar(0x212A)), {1080}}, // the Kelvin sign lower-cases to k
        {" 80", {}},
        {"::", {9999}},
        {"~/proj-x", {}}, // the full path is searched, not the shortened one
        {"/proj-x", {8443}},
        {"4242", {}}, // nor the process identifier, the user or the protocol
        {"tcp", {}},
        {"caddyfile", {443}}, // the command line counts too
    };
    for (const auto& c : cases) {
        store.setFilter(c.filter);
        EXPECT_EQ(portsOf(store.filtered()), c.expected) << c.filter.toStdString();
    }
}

} // namespace
