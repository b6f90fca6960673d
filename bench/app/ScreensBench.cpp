// The scheduled-jobs and settings screens, offscreen: a search keystroke on a large job list and
// an add or delete on a long common-ports list, each until the table has repainted.
#include "AppSettings.h"
#include "BenchApplication.h"
#include "JobsView.h"
#include "SettingsView.h"
#include "Stores.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

QList<Job> manyJobs(int count)
{
    QList<Job> jobs;
    jobs.reserve(count);
    for (int i = 0; i < count; ++i) {
        Job job;
        job.id = QUuid::createUuid();
        job.identity = {JobSourceKind::launchd, JobScope::user,
                        QStringLiteral("com.vendor%1.job-%2").arg(i % 37).arg(i)};
        job.name = QStringLiteral("job %1").arg(i);
        if (i % 4 == 0)
            job.pid = 1000 + i;
        job.statusText =
            job.pid ? QStringLiteral("运行中 (PID %1)").arg(*job.pid) : QStringLiteral("已停止");
        job.domain = QStringLiteral("用户 Agent");
        job.definitionPath =
            QStringLiteral("/home/dev/Library/LaunchAgents/%1.plist").arg(job.identity.label);
        job.program = QStringLiteral("/usr/local/bin/tool-%1 --run --config /etc/tool/%2.conf")
                          .arg(i % 53)
                          .arg(i);
        job.schedule = QStringLiteral("每天 %1:%2").arg(i % 24, 2, 10, QLatin1Char('0')).arg("00");
        job.actions = {job.pid ? JobAction::stop : JobAction::start, JobAction::unload,
                       JobAction::load};
        jobs.append(job);
    }
    return jobs;
}

// A source that lists the same jobs every time.
class FixedSource : public JobSource {
public:
    explicit FixedSource(QList<Job> jobs) : m_jobs(std::move(jobs)) {}
    JobSourceKind kind() const override { return JobSourceKind::launchd; }
    Listing list() override { return {true, m_jobs, std::nullopt}; }
    ActionResult perform(const Job&, JobAction) override { return {true, {}}; }

private:
    QList<Job> m_jobs;
};

// One iteration is one keystroke: alternately a digit that narrows the list and Backspace.
void BM_JobsSearchKeystroke(benchmark::State& state)
{
    JobSources::Sources sources;
    sources.push_back(std::make_unique<FixedSource>(manyJobs(int(state.range(0)))));
    JobsView view(std::make_shared<JobsStore>(std::move(sources)));
    view.resize(1300, 800);
    view.show();
    if (!QTest::qWaitFor([&] { return !view.store().isLoading(); }, 10000))
        std::abort();
    auto* search = view.findChild<QLineEdit*>("search");
    auto* table = view.findChild<QTableView*>("jobs");
    QTest::keyClicks(search, "job-");
    bool narrow = true;
    for (auto _ : state) {
        if (narrow)
            QTest::keyClick(search, '1');
        else
            QTest::keyClick(search, Qt::Key_Backspace);
        table->viewport()->repaint();
        narrow = !narrow;
    }
    state.counters["rows"] = table->model()->rowCount();
}
BENCHMARK(BM_JobsSearchKeystroke)->Arg(50)->Arg(500)->Unit(benchmark::kMillisecond);

// One iteration adds a port through the add row and deletes it with its row button.
void BM_SettingsAddAndDelete(benchmark::State& state)
{
    std::unique_ptr<AppSettings> settings = AppSettings::createForTesting();
    QList<CommonPort> ports;
    for (int i = 0; i < state.range(0); ++i)
        ports.append(CommonPort{10000 + 2 * i, QStringLiteral("service %1").arg(i)});
    settings->setCommonPorts(ports);
    SettingsView view(*settings);
    view.resize(900, 700);
    view.show();
    auto* port = view.findChild<QLineEdit*>("port");
    auto* table = view.findChild<QTableView*>("commonPorts");
    for (auto _ : state) {
        port->setText(QStringLiteral("10001"));
        QTest::keyClick(port, Qt::Key_Return);
        table->viewport()->repaint();
        qobject_cast<QToolButton*>(table->indexWidget(table->model()->index(1, 2)))->click();
        table->viewport()->repaint();
    }
    state.counters["rows"] = table->model()->rowCount();
}
BENCHMARK(BM_SettingsAddAndDelete)->Arg(17)->Arg(300)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    const BenchApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
