// What the ports store promises of a refresh: the work runs on a worker, results are published on
// the store's own thread, and of overlapping refreshes only the newest publishes.
#include "Stores.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QList<ServicePort> listing(const QString& name)
{
    ServicePort record;
    record.id = QUuid::createUuid();
    record.command = name;
    return {record};
}

TEST(StoreRefresh, WorksOnAWorkerPublishesOnItsThreadAndKeepsTheErrorText)
{
    PortsStore store;
    store.setLastError(QStringLiteral("[com.x] 失败"));
    std::atomic<QThread*> workThread = nullptr;
    auto ports = listing("a");
    store.setScannerForTesting([&] {
        workThread = QThread::currentThread();
        return ports;
    });
    QList<QThread*> publishedOn, loadingOn;
    QObject::connect(&store, &PortsStore::portsChanged,
                     [&] { publishedOn.append(QThread::currentThread()); });
    QObject::connect(&store, &PortsStore::isLoadingChanged,
                     [&] { loadingOn.append(QThread::currentThread()); });

    store.refresh();
    EXPECT_TRUE(store.isLoading());
    ASSERT_TRUE(waitUntilIdle(store));
    EXPECT_NE(workThread.load(), QThread::currentThread());
    EXPECT_EQ(store.ports(), ports);
    EXPECT_EQ(publishedOn, QList<QThread*>{QThread::currentThread()});
    EXPECT_EQ(loadingOn, QList<QThread*>(2, QThread::currentThread()));

    // An empty result (as a failed listing gives) empties the list and leaves the error alone.
    ports.clear();
    store.refresh();
    ASSERT_TRUE(waitUntilIdle(store));
    EXPECT_TRUE(store.ports().isEmpty());
    EXPECT_EQ(store.lastError(), QStringLiteral("[com.x] 失败"));
}

TEST(StoreRefresh, OnlyTheNewestRefreshPublishes)
{
    allowOverlappingScans();
    const auto older = listing("old"), newer = listing("new");
    // The older refresh ends last: its result must not replace the newer one.
    {
        PortsStore store;
        Gate gate;
        store.setScannerForTesting([&] {
            gate.wait();
            return older;
        });
        store.refresh();
        store.setScannerForTesting([&] { return newer; });
        QSignalSpy published(&store, &PortsStore::portsChanged);
        store.refresh();
        ASSERT_TRUE(waitUntilIdle(store));
        gate.open();
        settleBackgroundWork();
        EXPECT_EQ(store.ports(), newer);
        EXPECT_EQ(published.count(), 1);
        EXPECT_FALSE(store.isLoading());
    }
    // The older refresh ends first: it is dropped, and loading goes on until the newer one ends.
    {
        PortsStore store;
        Gate first, second;
        std::atomic<bool> firstDone = false;
        store.setScannerForTesting([&] {
            first.wait();
            firstDone = true;
            return older;
        });
        store.refresh();
        store.setScannerForTesting([&] {
            second.wait();
            return newer;
        });
        store.refresh();
        first.open();
        ASSERT_TRUE(QTest::qWaitFor([&] { return firstDone.load(); }, 10000));
        QTest::qWait(100);
        EXPECT_TRUE(store.isLoading());
        EXPECT_TRUE(store.ports().isEmpty());
        second.open();
        ASSERT_TRUE(waitUntilIdle(store));
        EXPECT_EQ(store.ports(), newer);
    }
}

} // namespace
