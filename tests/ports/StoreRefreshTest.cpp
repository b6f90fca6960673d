// What the ports store promises of a refresh: the work runs on a worker, results are published on
// the store's own thread, and of overlapping refreshes only the newest publishes.
#include "Stores.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

namespace {

struct Ports {
    using Store = PortsStore;
    static constexpr auto published = &PortsStore::portsChanged;
    static void setWork(Store& store, std::function<QList<ServicePort>()> work)
    {
        store.setScannerForTesting(std::move(work));
    }
    static QList<ServicePort> result(const Store& store) { return store.ports(); }
    static QList<ServicePort> make(const QString& name)
    {
        ServicePort record;
        record.id = QUuid::createUuid();
        record.command = name;
        return {record};
    }
};

template <class T> class StoreRefresh : public ::testing::Test {
};
using Kinds = ::testing::Types<Ports>;
TYPED_TEST_SUITE(StoreRefresh, Kinds);

TYPED_TEST(StoreRefresh, WorksOnAWorkerPublishesOnItsThreadAndKeepsTheErrorText)
{
    typename TypeParam::Store store;
    EXPECT_TRUE(TypeParam::result(store).isEmpty());
    EXPECT_FALSE(store.isLoading());
    store.setLastError(QStringLiteral("[com.x] 失败"));
    std::atomic<QThread*> workThread = nullptr;
    auto listing = TypeParam::make("a");
    TypeParam::setWork(store, [&] {
        workThread = QThread::currentThread();
        return listing;
    });
    QList<QThread*> publishedOn, loadingOn;
    QObject::connect(&store, TypeParam::published,
                     [&] { publishedOn.append(QThread::currentThread()); });
    QObject::connect(&store, &TypeParam::Store::isLoadingChanged,
                     [&] { loadingOn.append(QThread::currentThread()); });

    store.refresh();
    EXPECT_TRUE(store.isLoading());
    ASSERT_TRUE(waitUntilIdle(store));
    EXPECT_NE(workThread.load(), QThread::currentThread());
    EXPECT_EQ(TypeParam::result(store), listing);
    EXPECT_EQ(publishedOn, QList<QThread*>{QThread::currentThread()});
    EXPECT_EQ(loadingOn, QList<QThread*>(2, QThread::currentThread()));

    // An empty result (as a failed listing gives) empties the list and leaves the error alone.
    listing.clear();
    store.refresh();
    ASSERT_TRUE(waitUntilIdle(store));
    EXPECT_TRUE(TypeParam::result(store).isEmpty());
    EXPECT_EQ(store.lastError(), QStringLiteral("[com.x] 失败"));
}

TYPED_TEST(StoreRefresh, OnlyTheNewestRefreshPublishes)
{
    allowOverlappingScans();
    const auto older = TypeParam::make("old"), newer = TypeParam::make("new");
    // The older refresh ends last: its result must not replace the newer one.
    {
        typename TypeParam::Store store;
        Gate gate;
        TypeParam::setWork(store, [&] {
            gate.wait();
            return older;
        });
        store.refresh();
        TypeParam::setWork(store, [&] { return newer; });
        QSignalSpy published(&store, TypeParam::published);
        store.refresh();
        ASSERT_TRUE(waitUntilIdle(store));
        gate.open();
        settleBackgroundWork();
        EXPECT_EQ(TypeParam::result(store), newer);
        EXPECT_EQ(published.count(), 1);
        EXPECT_FALSE(store.isLoading());
    }
    // The older refresh ends first: it is dropped, and loading goes on until the newer one ends.
    {
        typename TypeParam::Store store;
        Gate first, second;
        std::atomic<bool> firstDone = false;
        TypeParam::setWork(store, [&] {
            first.wait();
            firstDone = true;
            return older;
        });
        store.refresh();
        TypeParam::setWork(store, [&] {
            second.wait();
            return newer;
        });
        store.refresh();
        first.open();
        ASSERT_TRUE(QTest::qWaitFor([&] { return firstDone.load(); }, 10000));
        QTest::qWait(100);
        EXPECT_TRUE(store.isLoading());
        EXPECT_TRUE(TypeParam::result(store).isEmpty());
        second.open();
        ASSERT_TRUE(waitUntilIdle(store));
        EXPECT_EQ(TypeParam::result(store), newer);
    }
}

} // namespace
