// The port inventory's costs: parsing the listing, a whole scan against the bare tool runs it
// makes, and `ss` as a reference for what the listing tool itself costs.
#include "PortScanner.h"
#include "PortScannerParsing.h"
#include "ProcessRunner.h"
#include "platform/Platform.h"

#include <QUuid>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// lsof field output for this many sockets, shaped like the two listing runs: TCP listeners, then
// UDP sockets, each run naming its processes again (p, c, u, L), each socket with t, P and n.
// Processes own 1 to 8 sockets; some names repeat on IPv4 and IPv6, some UDP sockets are connected.
QString syntheticListing(int sockets)
{
    QString tcp;
    QString udp;
    tcp.reserve(sockets * 40);
    udp.reserve(sockets * 20);
    int made = 0;
    for (int process = 0; made < sockets; ++process) {
        const QString header =
            QStringLiteral("p%1\nc%2\nu%3\nL%4\n")
                .arg(300 + process)
                .arg(process % 3 == 0 ? QStringLiteral("postgres") : QStringLiteral("node"))
                .arg(process % 2 ? 1000 : 0)
                .arg(process % 2 ? QStringLiteral("dev") : QStringLiteral("root"));
        const int count = 1 + process % 8;
        bool tcpHeader = false;
        bool udpHeader = false;
        for (int s = 0; s < count && made < sockets; ++s, ++made) {
            const int port = 1024 + (made % 60000);
            const bool isUdp = made % 4 == 3;
            const bool v6 = made % 3 == 1;
            QString& run = isUdp ? udp : tcp;
            bool& named = isUdp ? udpHeader : tcpHeader;
            if (!named)
                run += header;
            named = true;
            run += v6 ? QStringLiteral("tIPv6\n") : QStringLiteral("tIPv4\n");
            run += isUdp ? QStringLiteral("PUDP\nn") : QStringLiteral("PTCP\nn");
            if (isUdp && made % 50 == 47)
                run += QStringLiteral("10.0.0.5:%1->10.0.0.1:443\n").arg(port);
            else if (v6)
                run += QStringLiteral("[::1]:%1\n").arg(port);
            else
                run += QStringLiteral("127.0.0.1:%1\n").arg(port);
        }
    }
    return tcp + udp;
}

void BM_Parse100kSockets(benchmark::State& state)
{
    static const QString listing = syntheticListing(100000);
    const qint64 bytes = listing.toUtf8().size();
    for (auto _ : state) {
        auto ports = PortScanner::parse(listing);
        benchmark::DoNotOptimize(ports.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["sockets"] = 100000;
}
BENCHMARK(BM_Parse100kSockets)->Unit(benchmark::kMillisecond);

void BM_CreateUuid(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QUuid::createUuid());
}
BENCHMARK(BM_CreateUuid);

// Listeners of this process, so that the scan has something of its own to find.
class Listeners {
public:
    explicit Listeners(int each)
    {
        for (int i = 0; i < each; ++i) {
            open(AF_INET, SOCK_STREAM);
            open(AF_INET6, SOCK_STREAM);
            open(AF_INET, SOCK_DGRAM);
        }
    }
    ~Listeners()
    {
        for (int fd : fds_)
            ::close(fd);
    }

private:
    void open(int domain, int type)
    {
        const int fd = ::socket(domain, type | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        fds_.push_back(fd);
        sockaddr_storage address{};
        address.ss_family = static_cast<sa_family_t>(domain);
        const socklen_t length = domain == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && type == SOCK_STREAM)
            ::listen(fd, 4);
    }
    std::vector<int> fds_;
};

Listeners& listeners()
{
    static Listeners instance(10);
    return instance;
}

// A whole scan against the tool runs it makes (both listing runs and the working-directory
// query, through the same runner), alternating within each iteration so that both see the same
// machine. The iteration time is the scan's; the counters give both means and our overhead.
void BM_ScanAgainstBareToolRuns(benchmark::State& state)
{
    listeners();
    using Clock = std::chrono::steady_clock;
    const QString tool = Platform::lsofPath();
    const QStringList cwdQuery = PortScanner::detail::workingDirArguments(
        PortScanner::detail::workingDirPids(PortScanner::scan()));
    double scanSeconds = 0;
    double bareSeconds = 0;
    qsizetype records = 0;
    for (auto _ : state) {
        const auto bareStart = Clock::now();
        for (const QStringList& arguments : Platform::socketListingRuns())
            benchmark::DoNotOptimize(ProcessRunner::run(tool, arguments));
        benchmark::DoNotOptimize(ProcessRunner::run(tool, cwdQuery));
        const auto scanStart = Clock::now();
        records = PortScanner::scan().size();
        const auto scanEnd = Clock::now();
        const double scan = std::chrono::duration<double>(scanEnd - scanStart).count();
        bareSeconds += std::chrono::duration<double>(scanStart - bareStart).count();
        scanSeconds += scan;
        state.SetIterationTime(scan);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["records"] = static_cast<double>(records);
    state.counters["scan_ms"] = scanSeconds / n * 1e3;
    state.counters["bare_runs_ms"] = bareSeconds / n * 1e3;
    state.counters["overhead_pct"] = (scanSeconds / bareSeconds - 1) * 100;
}
BENCHMARK(BM_ScanAgainstBareToolRuns)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(5.0);

void BM_RunningApplications(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Platform::runningApplications());
}
BENCHMARK(BM_RunningApplications)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Reference: the socket listing of iproute2 for the same machine.
void BM_SsReference(benchmark::State& state)
{
    listeners();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ProcessRunner::run(QStringLiteral("/usr/bin/ss"), {QStringLiteral("-ltunp")}));
}
BENCHMARK(BM_SsReference)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
