// Dispatch queues and concurrentPerform. (The semaphore holds the session queue in the
// focus tests, whose gated writes must not happen early.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "dispatch/ConcurrentPerform.h"
#include "dispatch/DispatchQueue.h"
#include "dispatch/DispatchSemaphore.h"
#include "platform/capture/CaptureTestSupport.h"
#include "support/MainQueue.h"

TEST(SerialQueue, RunsClosuresOneAtATimeInOrderSyncOrNotAndDrainsOnDestruction) {
    std::vector<int> seen;
    std::atomic<int> running{0};
    bool overlapped = false;
    {
        DispatchQueue queue("order");
        for (int i = 0; i < 200; ++i)
            queue.async([&, i] {
                overlapped = overlapped || running.fetch_add(1) != 0;
                seen.push_back(i);
                running.fetch_sub(1);
            });
    } // destruction runs what is already queued
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(seen[size_t(i)], i);
    EXPECT_FALSE(overlapped);

    // sync() from another thread waits for earlier work and runs on the queue.
    DispatchQueue queue("session");
    std::vector<int> order;
    std::thread::id queueThread;
    queue.async([&] { order.push_back(1); });
    std::thread([&] {
        queue.sync([&] {
            order.push_back(2);
            queueThread = std::this_thread::get_id();
            EXPECT_EQ(DispatchQueue::current(), &queue);
        });
    }).join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_NE(queueThread, std::this_thread::get_id());
    EXPECT_EQ(DispatchQueue::current(), &DispatchQueue::main());
}

// Timers added from other threads while the worker waits on an earlier one (which moves
// the timers in memory) all fire, soonest first.
TEST(SerialQueue, TimersAddedWhileTheWorkerWaitsFireInDueOrder) {
    DispatchQueue queue("timers");
    capturetest::Recording<int> fired;
    queue.asyncAfter(std::chrono::hours(1), [] {}); // the one the worker waits on
    std::thread([&] {
        for (int i = 40; i > 0; --i)
            queue.asyncAfter(std::chrono::milliseconds(i), [fired, i]() mutable { fired.add(i); });
    }).join();
    ASSERT_TRUE(fired.waitFor(40, std::chrono::seconds(30)));
    const std::vector<int> order = fired.values();
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(SerialQueueDeathTest, SyncOntoTheQueueRunningTheCallerFailsLoudly) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_DEATH(
        {
            DispatchQueue queue("self");
            queue.sync([&] { queue.sync([] {}); });
        },
        "sync onto queue 'self'");
    EXPECT_DEATH(DispatchQueue::main().sync([] {}), "sync onto queue");
}

TEST(MainQueue, WorkFromOtherThreadsRunsOnlyWhenTheMainThreadDrains) {
    std::atomic<bool> ranOnMain{false};
    int value = 0;
    std::thread([&] {
        DispatchQueue::main().async([&] { ranOnMain = DispatchQueue::isMainThread(); });
    }).join();
    EXPECT_FALSE(ranOnMain.load());
    std::thread worker([&] { DispatchQueue::main().sync([&] { value = 42; }); });
    runMainUntil([&] { return ranOnMain.load() && value == 42; });
    worker.join();
    EXPECT_TRUE(ranOnMain.load());
    EXPECT_EQ(value, 42);
}

TEST(MainQueue, TimersFireInDueOrderAndEveryEnqueueWakesTheHost) {
    std::vector<int> fired;
    std::atomic<int> wakes{0};
    DispatchQueue::main().setWakeHandler([&] { ++wakes; });
    auto start = DispatchQueue::Clock::now();
    DispatchQueue::main().asyncAfter(std::chrono::milliseconds(60), [&] { fired.push_back(2); });
    DispatchQueue::main().asyncAfter(std::chrono::milliseconds(20), [&] { fired.push_back(1); });
    DispatchQueue::main().async([] {});
    DispatchQueue::main().setWakeHandler(nullptr);
    EXPECT_EQ(wakes.load(), 3);
    runMainUntil([&] { return fired.size() == 2; });
    EXPECT_EQ(fired, (std::vector<int>{1, 2}));
    EXPECT_GE(DispatchQueue::Clock::now() - start, std::chrono::milliseconds(60));
}

TEST(ConcurrentPerform, RunsEveryIterationOnceInParallelAndNestedCallsDoNotDeadlock) {
    for (size_t iterations : {size_t(0), size_t(1), size_t(1000)}) {
        std::vector<std::atomic<int>> counts(iterations);
        concurrentPerform(iterations, [&](size_t i) { ++counts[i]; });
        for (size_t i = 0; i < iterations; ++i)
            EXPECT_EQ(counts[i].load(), 1) << "iteration " << i;
    }
    // Two iterations that each wait for the other can only finish if both run at once.
    DispatchSemaphore met[2] = {DispatchSemaphore(0), DispatchSemaphore(0)};
    std::atomic<int> total{0};
    concurrentPerform(2, [&](size_t i) {
        met[i].signal();
        met[1 - i].wait();
        concurrentPerform(8, [&](size_t) { ++total; });
    });
    EXPECT_EQ(total.load(), 16);
}
