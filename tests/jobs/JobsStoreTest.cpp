// The store behind the scheduled-jobs screen, over sources scripted to be slow, absent or
// failing at will.
#include "Stores.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

Job job(const QString& label, std::optional<QString> schedule = QStringLiteral("每天 09:00"))
{
    Job j;
    j.id = QUuid::createUuid();
    j.identity = {JobSourceKind::systemd, JobScope::user, label};
    j.name = label;
    j.schedule = std::move(schedule);
    j.actions = {JobAction::start};
    return j;
}

QStringList labelsOf(const QList<Job>& jobs)
{
    QStringList labels;
    for (const Job& j : jobs)
        labels.append(j.identity.label);
    return labels;
}

JobSource::Listing listed(const QList<Job>& jobs, std::optional<QString> error = {})
{
    return {true, jobs, std::move(error)};
}

// A source whose listing and actions are whatever the test sets, run on the store's workers.
class ScriptedSource : public JobSource {
public:
    explicit ScriptedSource(JobSourceKind kind) : m_kind(kind) {}
    JobSourceKind kind() const override { return m_kind; }
    Listing list() override
    {
        ++lists;
        listThread = QThread::currentThread();
        return listing();
    }
    ActionResult perform(const Job& target, JobAction action) override
    {
        return act(target, action);
    }
    void announceChange() { emit changed(); }

    std::function<Listing()> listing = [] { return Listing(); };
    std::function<ActionResult(const Job&, JobAction)> act;
    std::atomic<int> lists = 0;
    std::atomic<QThread*> listThread = nullptr;

private:
    JobSourceKind m_kind;
};

// A launchd source and a systemd source under one store.
struct TwoSources {
    ScriptedSource* first;
    ScriptedSource* second;
    std::unique_ptr<JobsStore> store;

    TwoSources()
    {
        auto a = std::make_unique<ScriptedSource>(JobSourceKind::launchd);
        auto b = std::make_unique<ScriptedSource>(JobSourceKind::systemd);
        first = a.get();
        second = b.get();
        JobSources::Sources sources;
        sources.push_back(std::move(a));
        sources.push_back(std::move(b));
        store = std::make_unique<JobsStore>(std::move(sources));
    }
    bool refreshed()
    {
        store->refresh();
        return waitUntilIdle(*store);
    }
};

// Filters of the screen's own are met there; these are the rules it does not show.
TEST(JobsStoreFilter, UnscheduledJobsNeverShowAndTheScheduleIsNotSearched)
{
    JobsStore store(JobSources::Sources{});
    Job sync = job("com.example.sync-agent");
    sync.name = "sync agent";
    Job unscheduled = job("unscheduled", std::nullopt);
    unscheduled.program = "/usr/bin/rsync";
    Job backup = job("backup.timer");
    backup.program = "/usr/bin/rsync -a";
    store.setJobs({sync, unscheduled, backup});
    const std::pair<QString, QStringList> cases[] = {
        {"", {"com.example.sync-agent", "backup.timer"}},
        {"sync agent", {"com.example.sync-agent"}}, // the name
        {"rsync", {"backup.timer"}},                // the program; the unscheduled one stays hidden
        {"每天", {}},                               // not the schedule
    };
    for (const auto& [filter, expected] : cases) {
        store.setFilter(filter);
        EXPECT_EQ(labelsOf(store.filtered()), expected) << filter.toStdString();
    }
}

TEST(JobsStoreRefresh, ListsSourcesSideBySideAndPublishesOnItsThread)
{
    TwoSources s;
    // The first source answers only once the second has begun: they must list at once.
    Gate secondBegan;
    s.first->listing = [&] {
        secondBegan.wait();
        return listed({job("a")});
    };
    s.second->listing = [&] {
        secondBegan.open();
        return listed({job("b"), job("c")});
    };
    QList<QThread*> publishedOn;
    QObject::connect(s.store.get(), &JobsStore::jobsChanged,
                     [&] { publishedOn.append(QThread::currentThread()); });

    s.store->refresh();
    EXPECT_TRUE(s.store->isLoading());
    ASSERT_TRUE(waitUntilIdle(*s.store));
    EXPECT_EQ(labelsOf(s.store->jobs()), (QStringList{"a", "b", "c"}));
    EXPECT_NE(s.first->listThread.load(), QThread::currentThread());
    EXPECT_FALSE(publishedOn.isEmpty());
    EXPECT_EQ(publishedOn.count(QThread::currentThread()), publishedOn.size());
    EXPECT_EQ(s.store->presentSources(),
              (QList<JobSourceKind>{JobSourceKind::launchd, JobSourceKind::systemd}));
}

TEST(JobsStoreRefresh, FailingSourceKeepsItsRowsAndSaysWhyAbsentOneAddsNothing)
{
    TwoSources s;
    s.first->listing = [] { return listed({job("a")}); };
    s.second->listing = [] { return listed({job("b")}); };
    ASSERT_TRUE(s.refreshed());
    s.second->listing = [] { return listed({}, QStringLiteral("用户 Timer：gone")); };
    ASSERT_TRUE(s.refreshed());
    EXPECT_EQ(labelsOf(s.store->jobs()), (QStringList{"a", "b"}));
    EXPECT_EQ(s.store->lastError(), "用户 Timer：gone");

    // Put away by the user, the same reason stays away while nothing changes by itself ...
    s.store->setLastError(std::nullopt);
    s.second->announceChange();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.second->lists == 3; }, 5000));
    settleBackgroundWork();
    EXPECT_FALSE(s.store->lastError());
    // ... and comes back when the user asks again.
    ASSERT_TRUE(s.refreshed());
    EXPECT_EQ(s.store->lastError(), "用户 Timer：gone");

    // A good listing takes the source's reason back out, but not anyone else's.
    s.second->listing = [] { return listed({job("c")}); };
    ASSERT_TRUE(s.refreshed());
    EXPECT_FALSE(s.store->lastError());
    EXPECT_EQ(labelsOf(s.store->jobs()), (QStringList{"a", "c"}));
    s.store->setLastError(QStringLiteral("[a] 失败"));
    s.first->listing = [] { return JobSource::Listing{false, {}, {}}; };
    ASSERT_TRUE(s.refreshed());
    EXPECT_EQ(labelsOf(s.store->jobs()), QStringList{"c"});
    EXPECT_EQ(s.store->presentSources(), QList<JobSourceKind>{JobSourceKind::systemd});
    EXPECT_EQ(s.store->lastError(), "[a] 失败");
}

TEST(JobsStoreRefresh, ListsOnceAtATimeAndQuietlyAfterAChange)
{
    TwoSources s;
    Gate gate;
    s.second->listing = [&] {
        gate.wait();
        return listed({job("b")});
    };
    for (int i = 0; i < 3; ++i)
        s.store->refresh();
    gate.open();
    ASSERT_TRUE(waitUntilIdle(*s.store));
    // One listing under way, then one more for the requests made meanwhile.
    EXPECT_EQ(s.second->lists, 2);
    EXPECT_EQ(s.first->lists, 2);

    QSignalSpy loading(s.store.get(), &JobsStore::isLoadingChanged);
    for (int i = 0; i < 5; ++i)
        s.second->announceChange();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.second->lists == 3; }, 5000));
    settleBackgroundWork();
    QTest::qWait(200);
    EXPECT_EQ(s.second->lists, 3) << "signals close together make one listing";
    EXPECT_EQ(s.first->lists, 2) << "only the source that changed lists again";
    EXPECT_EQ(loading.count(), 0) << "a listing nobody asked for does not show as loading";

    // A next run that has come is no longer the next one: the source is listed again for it. One
    // that had passed before the listing brings no more.
    s.first->listing = [] {
        Job soon = job("a");
        soon.nextRun = QDateTime::currentDateTime().addMSecs(200);
        return JobSource::Listing{true, {soon}, {}};
    };
    s.store->refresh();
    ASSERT_TRUE(waitUntilIdle(*s.store));
    const int listed = s.first->lists;
    s.first->listing = [] {
        Job late = job("a");
        late.nextRun = QDateTime::currentDateTime().addSecs(-60);
        return JobSource::Listing{true, {late}, {}};
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.first->lists == listed + 1; }, 5000));
    settleBackgroundWork();
    QTest::qWait(1000);
    EXPECT_EQ(s.first->lists, listed + 1);
    EXPECT_EQ(s.second->lists, 4);
}

// The screen shows an action under way and keeps the failure without reloading; here, what no
// click can reach.
TEST(JobsStoreActions, RunOneAtATimePerJobOnAWorker)
{
    TwoSources s;
    // A label that would turn the banner's text around is shown escaped.
    s.second->listing = [&] { return listed({job(QStringLiteral("evil\u202Etxt.timer"))}); };
    ASSERT_TRUE(s.refreshed());

    Gate gate;
    std::atomic<QThread*> actedOn = nullptr;
    std::atomic<int> acted = 0;
    s.second->act = [&](const Job&, JobAction) {
        ++acted;
        actedOn = QThread::currentThread();
        gate.wait();
        return JobSource::ActionResult{false, QStringLiteral("Access denied")};
    };
    const Job target = s.store->jobs().constFirst();
    s.store->perform(target, JobAction::start);
    s.store->perform(target, JobAction::stop); // ignored while the first runs
    gate.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s.store->runningAction(target.identity); }, 5000));
    settleBackgroundWork();
    EXPECT_EQ(acted, 1);
    EXPECT_NE(actedOn.load(), QThread::currentThread());
    EXPECT_EQ(s.store->lastError(), "[evil\\u202Etxt.timer] Access denied");
}

// A store that goes while an action still runs leaves the action to end on its own; the source
// then goes on the thread it belongs to.
TEST(JobsStoreActions, StoreGoneWhileAnActionRuns)
{
    std::atomic<QThread*> deletedOn = nullptr;
    Gate gate;
    {
        auto source = std::make_unique<ScriptedSource>(JobSourceKind::launchd);
        QObject::connect(source.get(), &QObject::destroyed,
                         [&] { deletedOn = QThread::currentThread(); });
        source->listing = [] { return listed({job("a")}); };
        source->act = [&](const Job&, JobAction) {
            gate.wait();
            return JobSource::ActionResult{true, {}};
        };
        JobSources::Sources sources;
        sources.push_back(std::move(source));
        JobsStore store(std::move(sources));
        store.refresh();
        ASSERT_TRUE(waitUntilIdle(store));
        store.perform(store.jobs().constFirst(), JobAction::start);
    }
    EXPECT_EQ(deletedOn.load(), nullptr);
    gate.open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return deletedOn.load() != nullptr; }, 5000));
    EXPECT_EQ(deletedOn.load(), QThread::currentThread());
}

} // namespace
