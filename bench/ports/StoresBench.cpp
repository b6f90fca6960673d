// How long the screens wait for their filtered lists on large machines.

#include "Stores.h"

#include <benchmark/benchmark.h>

namespace {

const char* const commands[] = {"node", "postgres", "python3", "nginx", "redis-server",
                                "java", "ruby",     "dnsmasq", "sshd",  "code"};
const char* const addresses[] = {"*", "127.0.0.1", "::1", "192.168.1.20", "fe80::1"};

// One record in ten belongs to an application with a non-ASCII name, as on a Chinese desktop.
QList<ServicePort> makePorts(int count)
{
    QList<ServicePort> ports;
    ports.reserve(count);
    for (int i = 0; i < count; ++i) {
        ServicePort r;
        r.id = QUuid::createUuid();
        r.port = 1024 + i * 6;
        r.networkProtocol = i % 3 ? QStringLiteral("TCP") : QStringLiteral("UDP");
        r.address = QString::fromLatin1(addresses[i % 5]);
        r.pid = 1000 + i;
        r.command = QString::fromLatin1(commands[i % 10]);
        r.user = QStringLiteral("dev");
        if (i % 10 == 0)
            r.appName = QStringLiteral("终端 %1").arg(i);
        if (i % 2 == 0)
            r.workingDir = QStringLiteral("/home/dev/projects/service-%1/src").arg(i);
        ports.append(r);
    }
    return ports;
}

QList<Job> makeJobs(int count)
{
    QList<Job> jobs;
    jobs.reserve(count);
    for (int i = 0; i < count; ++i) {
        Job j;
        j.id = QUuid::createUuid();
        j.identity.label = i % 4 == 0 ? QStringLiteral("com.apple.service-%1").arg(i)
                                      : QStringLiteral("com.example.backup_agent-%1").arg(i);
        j.name = QStringLiteral("backup agent-%1").arg(i);
        j.shippedWithSystem = i % 4 == 0;
        if (i % 3 == 0)
            j.pid = 500 + i;
        j.program = QStringLiteral("/usr/local/bin/tool-%1 --config /etc/tool.conf").arg(i);
        if (i % 5 != 0)
            j.schedule = QStringLiteral("每 %1 分钟").arg(i % 60 + 1);
        jobs.append(j);
    }
    return jobs;
}

void portsFiltered(benchmark::State& state, const char* query)
{
    PortsStore store;
    store.setPorts(makePorts(10000));
    store.setFilter(QString::fromUtf8(query));
    qsizetype kept = 0;
    for (auto _ : state) {
        const QList<ServicePort> shown = store.filtered();
        kept = shown.size();
        benchmark::DoNotOptimize(shown.constData());
    }
    state.counters["kept"] = static_cast<double>(kept);
}

void jobsFiltered(benchmark::State& state, const char* query)
{
    JobsStore store(JobSources::Sources{});
    store.setJobs(makeJobs(5000));
    store.setFilter(QString::fromUtf8(query));
    qsizetype kept = 0;
    for (auto _ : state) {
        const QList<Job> shown = store.filtered();
        kept = shown.size();
        benchmark::DoNotOptimize(shown.constData());
    }
    state.counters["kept"] = static_cast<double>(kept);
}

// The same search with a lower-cased copy of every text, for comparison with the store's in-place
// comparison of ASCII texts.
void portsFilteredByCopies(benchmark::State& state, const char* query)
{
    const QList<ServicePort> ports = makePorts(10000);
    const QString q = QString::fromUtf8(query).toLower();
    qsizetype kept = 0;
    for (auto _ : state) {
        QList<ServicePort> shown;
        for (const ServicePort& r : ports) {
            if (r.displayName().toLower().contains(q) || QString::number(r.port).contains(q) ||
                r.command.toLower().contains(q) || r.address.toLower().contains(q) ||
                (r.workingDir && r.workingDir->toLower().contains(q)))
                shown.append(r);
        }
        kept = shown.size();
        benchmark::DoNotOptimize(shown.constData());
    }
    state.counters["kept"] = static_cast<double>(kept);
}

BENCHMARK_CAPTURE(portsFilteredByCopies, one_char, "8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(portsFilteredByCopies, three_chars_no_match, "zzz")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(portsFiltered, one_char, "8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(portsFiltered, three_chars, "ngi")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(portsFiltered, three_chars_no_match, "zzz")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(portsFiltered, chinese, "终端")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(jobsFiltered, empty, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(jobsFiltered, one_char, "7")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(jobsFiltered, three_chars_no_match, "zzz")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
