// The port inventory's costs: a whole scan against `ss -ltnup` on the same machine, as it is and
// with 2,000 more processes holding 10,000 listening sockets between them, each also with a
// container engine to ask; with those sockets, a follow-up scan in which nothing changed against
// a whole one, and one after ten listeners came and ten went, checked against a whole scan; and
// the parser of the listing tool's output, which the systems without a socket table of their own
// use.
#include "ContainerRecords.h"
#include "Figures.h"
#include "ListenerInventory.h"
#include "PortScanner.h"
#include "ProcessRunner.h"
#include "StandInEngine.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

void BM_ParseListing100kSockets(benchmark::State& state)
{
    static const QString listing = syntheticListing(100000);
    const qint64 bytes = listing.toUtf8().size();
    for (auto _ : state) {
        auto ports = PortScanner::parse(listing);
        benchmark::DoNotOptimize(ports.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ParseListing100kSockets)->Unit(benchmark::kMillisecond);

// bench_listeners holding listening sockets until it is destroyed.
class Listeners {
public:
    Listeners(int sockets, int processes)
    {
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        std::string path = BENCH_LISTENERS, count = std::to_string(sockets),
                    spread = std::to_string(processes);
        char* argv[] = {path.data(), count.data(), spread.data(), nullptr};
        const bool spawned =
            ::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        stdin_ = input[1];
        char word[6] = {};
        ready_ = spawned && ::read(output[0], word, 5) == 5 && std::string(word) == "ready";
        ::close(output[0]);
    }
    ~Listeners()
    {
        ::close(stdin_);
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    Listeners(const Listeners&) = delete;
    Listeners& operator=(const Listeners&) = delete;

    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    bool ready_ = false;
};

// 10,000 sockets in 2,000 processes, until this program ends.
class ManyListeners {
public:
    static bool start()
    {
        static Listeners instance(10000, 2000);
        return instance.ready();
    }
};

// A Docker engine that answers at once, listing a container for each of 50 docker-proxy processes
// (this program, run under that name) that hold the ports it publishes. While it exists, the
// scans ask it.
class AnsweringEngine {
public:
    static constexpr int proxies = 50;

    // Starts it, or ends it, for the benchmarks that follow.
    static bool use(bool wanted)
    {
        static std::unique_ptr<AnsweringEngine> engine;
        if (!wanted) {
            engine.reset();
            ContainerRecords::testing::setEnvironment(std::nullopt);
            return true;
        }
        if (!engine)
            engine.reset(new AnsweringEngine);
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("DOCKER_HOST"), "unix://" + engine->socket());
        ContainerRecords::testing::setEnvironment(environment);
        return engine->ready_;
    }

    ~AnsweringEngine()
    {
        for (const Proxy& proxy : proxies_) {
            ::close(proxy.input);
            ::waitpid(proxy.pid, nullptr, 0);
        }
    }

private:
    struct Proxy {
        pid_t pid;
        int input;
    };

    AnsweringEngine()
    {
        const QString proxy = dir_.filePath(QStringLiteral("docker-proxy"));
        if (!QFile::link(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), proxy))
            return;
        QJsonArray containers;
        for (int i = 0; i < proxies; ++i) {
            const int port = startProxy(proxy, i);
            if (port == 0)
                return;
            const QString name = QStringLiteral("service-%1").arg(i);
            containers.append(QJsonObject{
                {"Id",
                 QString::fromLatin1(
                     QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex())},
                {"Names", QJsonArray{"/" + name}},
                {"Image", name + ":latest"},
                {"Ports", QJsonArray{QJsonObject{{"IP", "0.0.0.0"},
                                                 {"PrivatePort", 80},
                                                 {"PublicPort", port},
                                                 {"Type", "tcp"}}}}});
        }
        engine_ = std::make_unique<StandInEngine>(
            socket(),
            StandInEngine::afterPing(StandInEngine::recorded(QStringLiteral("docker/_ping.http")),
                                     StandInEngine::json(200, QJsonDocument(containers).toJson())));
        ready_ = engine_->isListening();
    }

    QString socket() const { return dir_.filePath(QStringLiteral("docker.sock")); }

    // A docker-proxy holding a listener on an ephemeral port of the any-address; the port, or 0.
    int startProxy(const QString& program, int index)
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        socklen_t length = sizeof address;
        int input[2];
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 4) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            ::pipe2(input, O_CLOEXEC) != 0) {
            ::close(listener);
            return 0;
        }
        const int port = ntohs(address.sin_port);
        const QByteArray path = QFile::encodeName(program);
        QByteArrayList words{path,
                             "-proto",
                             "tcp",
                             "-host-ip",
                             "0.0.0.0",
                             "-host-port",
                             QByteArray::number(port),
                             "-container-ip",
                             "172.17.0." + QByteArray::number(2 + index),
                             "-container-port",
                             "80"};
        std::vector<char*> argv;
        for (QByteArray& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, listener, 3);
        pid_t pid = -1;
        const bool spawned =
            ::posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(listener);
        if (!spawned) {
            ::close(input[1]);
            return 0;
        }
        proxies_.push_back({pid, input[1]});
        return port;
    }

    QTemporaryDir dir_;
    std::vector<Proxy> proxies_;
    std::unique_ptr<StandInEngine> engine_;
    bool ready_ = false;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Each iteration runs `reference` (false: it failed) and then `measured` (the records it found),
// so that both see the same machine; the iteration time is the measured one's, and the counters
// hold both medians in milliseconds, as `measuredMs` and `referenceMs`, and their ratio.
template <typename Reference, typename Measured>
void timeAgainst(benchmark::State& state, Reference reference, Measured measured,
                 const std::string& measuredMs, const std::string& referenceMs,
                 const std::string& ratio)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> references;
    std::vector<double> measures;
    qsizetype records = 0;
    for (auto _ : state) {
        const auto referenceStart = Clock::now();
        const bool ran = reference();
        const auto measuredStart = Clock::now();
        records = measured();
        const auto measuredEnd = Clock::now();
        if (!ran) {
            state.SkipWithError("the reference failed");
            return;
        }
        references.push_back(std::chrono::duration<double>(measuredStart - referenceStart).count());
        measures.push_back(std::chrono::duration<double>(measuredEnd - measuredStart).count());
        state.SetIterationTime(measures.back());
    }
    state.counters["records"] = static_cast<double>(records);
    state.counters[measuredMs] = median(measures) * 1e3;
    state.counters[referenceMs] = median(references) * 1e3;
    state.counters[ratio] = median(measures) / median(references);
}

void scanAgainstSs(benchmark::State& state)
{
    timeAgainst(
        state,
        [] {
            return ProcessRunner::run(QStringLiteral("/usr/bin/ss"), {QStringLiteral("-ltnup")})
                       .status == 0;
        },
        [] { return PortScanner::scan().size(); }, "scan_ms", "ss_ms", "scan_per_ss");
}

void scanAgainstSs(benchmark::State& state, bool manyListeners, bool engine)
{
    if (manyListeners && !ManyListeners::start()) {
        state.SkipWithError("bench_listeners did not get ready");
        return;
    }
    if (!AnsweringEngine::use(engine)) {
        state.SkipWithError("the stand-in engine or its proxies did not start");
        return;
    }
    scanAgainstSs(state);
}

// The listeners, once started, stay: the benchmarks without them come first.
void BM_ScanAgainstSs_MachineAsItIs(benchmark::State& state)
{
    scanAgainstSs(state, false, false);
}
BENCHMARK(BM_ScanAgainstSs_MachineAsItIs)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(41);

void BM_ScanWithEngineAgainstSs_MachineAsItIsAnd50Containers(benchmark::State& state)
{
    scanAgainstSs(state, false, true);
}
BENCHMARK(BM_ScanWithEngineAgainstSs_MachineAsItIsAnd50Containers)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(41);

void BM_ScanAgainstSs_10000ListenersIn2000Processes(benchmark::State& state)
{
    scanAgainstSs(state, true, false);
}
BENCHMARK(BM_ScanAgainstSs_10000ListenersIn2000Processes)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

void BM_ScanWithEngineAgainstSs_10000ListenersIn2000ProcessesAnd50Containers(
    benchmark::State& state)
{
    scanAgainstSs(state, true, true);
}
BENCHMARK(BM_ScanWithEngineAgainstSs_10000ListenersIn2000ProcessesAnd50Containers)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

// The scans of a screen that refreshes itself, with those 10,000 sockets and no container engine:
// a follow-up in which nothing changed, against the whole scan just before it from the same
// inventory, both as the program runs them (container names, order). Each iteration runs both, so
// that both see the same machine; the iteration time is the follow-up's, and the counters hold
// both medians and their ratio.
void BM_FollowUpAgainstWholeScan_10000Listeners(benchmark::State& state)
{
    if (!ManyListeners::start() || !AnsweringEngine::use(false)) {
        state.SkipWithError("bench_listeners did not get ready");
        return;
    }
    ListenerInventory inventory;
    timeAgainst(
        state, [&] { return !PortScanner::scanResult(inventory).error; },
        [&] { return PortScanner::rescanResult(inventory).ports.size(); }, "follow_up_ms",
        "whole_ms", "follow_up_per_whole");
}
BENCHMARK(BM_FollowUpAgainstWholeScan_10000Listeners)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(21);

// What a scan tells of the processes this benchmark started, to compare two scans by.
std::set<std::tuple<qint32, qint64, QString, QString, QString, quint64>>
ours(const QList<ServicePort>& ports, const std::set<qint32>& pids)
{
    std::set<std::tuple<qint32, qint64, QString, QString, QString, quint64>> found;
    for (const ServicePort& p : ports) {
        if (pids.count(p.pid) || p.command == QLatin1String("bench_listeners"))
            found.emplace(p.pid, p.port, p.networkProtocol, p.address, p.command,
                          p.startTime.value_or(0));
    }
    return found;
}

// Before each follow-up, five listeners of this process and a process holding five more go, and
// as many come: five new ones of this process (a process seen before) and a new process with
// five. The counters tell how many follow-ups listed what a whole scan lists right after.
void BM_Inventory_FollowUpTenListenersCameAndWent(benchmark::State& state)
{
    if (!ManyListeners::start() || !AnsweringEngine::use(false)) {
        state.SkipWithError("bench_listeners did not get ready");
        return;
    }
    const qint32 self = static_cast<qint32>(::getpid());
    auto openOwn = [] {
        std::vector<int> fds;
        for (int i = 0; i < 5; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::listen(fd, 1);
            fds.push_back(fd);
        }
        return fds;
    };
    std::vector<int> own = openOwn();
    auto other = std::make_unique<Listeners>(5, 0);
    ListenerInventory inventory;
    inventory.scan();
    int matched = 0;
    int runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (const int fd : own)
            ::close(fd);
        own = openOwn();
        other = std::make_unique<Listeners>(5, 0);
        state.ResumeTiming();
        const auto followed = inventory.followUp().value_or(PortScanner::ScanResult{}).ports;
        state.PauseTiming();
        const auto whole = ListenerInventory().scan().value_or(PortScanner::ScanResult{}).ports;
        const std::set<qint32> pids{self, other->pid()};
        matched += ours(followed, pids) == ours(whole, pids) && !ours(whole, pids).empty();
        ++runs;
        state.ResumeTiming();
    }
    for (const int fd : own)
        ::close(fd);
    state.counters["runs"] = runs;
    state.counters["matched"] = matched;
}
BENCHMARK(BM_Inventory_FollowUpTenListenersCameAndWent)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Run as docker-proxy: hold the inherited listener until standard input closes.
int actAsProxy()
{
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string_view program = argv[0];
    if (program.substr(program.rfind('/') + 1) == "docker-proxy")
        return actAsProxy();
    benchmark::Initialize(&argc, argv);
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    bool met = true;
    for (const auto& [name, figures] : reporter.figures) {
        const auto ratio = figures.counters.find("scan_per_ss");
        if (ratio == figures.counters.end())
            continue;
        std::printf("%s: scan() %.1f ms, ss -ltnup %.1f ms: %.2fx (limit 1.0x)\n", name.c_str(),
                    figures.counters.at("scan_ms"), figures.counters.at("ss_ms"), ratio->second);
        met = met && ratio->second <= 1.0;
    }

    const auto followUp = reporter.figures.find("BM_FollowUpAgainstWholeScan_10000Listeners");
    if (followUp != reporter.figures.end()) {
        auto& counters = followUp->second.counters;
        std::printf("follow-up scan with nothing changed: %.1f ms, whole scan %.1f ms: %.2f of it "
                    "(limit 0.20)\n",
                    counters["follow_up_ms"], counters["whole_ms"],
                    counters["follow_up_per_whole"]);
        met = met && counters["follow_up_per_whole"] <= 0.2;
    }
    const auto cameAndWent = reporter.figures.find("BM_Inventory_FollowUpTenListenersCameAndWent");
    if (cameAndWent != reporter.figures.end()) {
        const double runs = cameAndWent->second.counters["runs"];
        const double matched = cameAndWent->second.counters["matched"];
        std::printf("follow-up scan after ten listeners came and ten went: %.1f ms; %.0f of %.0f "
                    "listed what a whole scan lists\n",
                    cameAndWent->second.milliseconds, matched, runs);
        met = met && runs > 0 && matched == runs;
    }
    return met ? 0 : 1;
}
