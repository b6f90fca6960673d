#include "LargeStackPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// Several listings at once share the workers: every call must see each of its items done exactly
// once, and no call may return before its own items are done or wait forever on another's.
TEST(LargeStackPool, ConcurrentCallsEachFinishTheirOwnItems)
{
    constexpr int callers = 4;
    constexpr int rounds = 25;
    constexpr qsizetype items = 300;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int c = 0; c < callers; ++c) {
        threads.emplace_back([&] {
            for (int round = 0; round < rounds; ++round) {
                std::vector<std::atomic<int>> done(items);
                LargeStackPool::run(items, [&](qsizetype i) { done[size_t(i)]++; });
                for (const std::atomic<int>& count : done)
                    failures += count.load() != 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);

    bool called = false;
    LargeStackPool::run(0, [&](qsizetype) { called = true; });
    EXPECT_FALSE(called);
}
