#include "platform/Dispatch/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/Timer.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, SyncRunsOnTheWorkerAfterEarlierPosts) {
    auto queue = SerialQueue::create("test.sync");
    EXPECT_EQ(queue->label(), "test.sync");
    std::vector<int> order;  // touched only on the worker, read after sync
    for (int i = 0; i < 100; ++i) {
        queue->post([&order, i] { order.push_back(i); });
    }
    bool onQueue = false;
    std::thread::id worker;
    queue->sync([&] {
        onQueue = queue->isCurrent();
        worker = std::this_thread::get_id();
    });
    EXPECT_TRUE(onQueue);
    EXPECT_NE(worker, std::this_thread::get_id());
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueueTest, SyncFromItsOwnTaskRunsInline) {
    auto queue = SerialQueue::create("test.nested");
    int value = 0;
    queue->sync([&] { queue->sync([&] { value = 42; }); });
    EXPECT_EQ(value, 42);
}

TEST(SerialQueueTest, ManualClockAdvanceWakesTheWorker) {
    auto clock = ManualClock::create();
    auto queue = SerialQueue::create("test.manual", clock);
    std::promise<void> ran;
    std::atomic<bool> done = false;
    queue->postAfter(4s, [&] {
        done = true;
        ran.set_value();
    });
    clock->advance(3s);
    queue->sync([] {});  // the worker has looked at the queue at 3 s
    EXPECT_FALSE(done);
    clock->advance(1s);
    EXPECT_EQ(ran.get_future().wait_for(10s), std::future_status::ready);
}

TEST(SerialQueueTest, RealClockDelayedTaskRunsOnTime) {
    auto queue = SerialQueue::create("test.real");
    std::promise<std::chrono::steady_clock::time_point> ran;
    const auto start = std::chrono::steady_clock::now();
    queue->postAfter(30ms, [&] { ran.set_value(std::chrono::steady_clock::now()); });
    auto future = ran.get_future();
    ASSERT_EQ(future.wait_for(10s), std::future_status::ready);
    EXPECT_GE(future.get() - start, 30ms);
}

TEST(SerialQueueTest, DestructionWaitsForTheTaskInProgressAndDropsTheRest) {
    auto queue = SerialQueue::create("test.destroy");
    std::promise<void> started;
    std::atomic<bool> finished = false;
    std::atomic<bool> droppedRan = false;
    auto owned = std::make_shared<int>(1);
    std::weak_ptr<int> watch = owned;
    queue->post([&] {
        started.set_value();
        std::this_thread::sleep_for(30ms);
        finished = true;
    });
    queue->post([&droppedRan, owned = std::move(owned)] { droppedRan = true; });
    started.get_future().wait();
    queue.reset();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(droppedRan);
    EXPECT_TRUE(watch.expired());
}

TEST(SerialQueueTest, DestroyedFromItsOwnTask) {
    auto queue = SerialQueue::create("test.self");
    std::weak_ptr<SerialQueue> watch = queue;
    std::promise<void> done;
    // The task holds the last reference and drops it while running on the worker.
    auto* raw = queue.get();
    raw->post([&done, self = std::move(queue)]() mutable {
        self.reset();
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(watch.expired());
}

TEST(SerialQueueTest, LastReferenceHeldByATimerCallback) {
    // A repeating timer's callback owns its queue; invalidating and dropping it from inside the
    // tick destroys the queue on its own worker.
    auto clock = ManualClock::create();
    auto queue = SerialQueue::create("test.timer", clock);
    std::weak_ptr<SerialQueue> watch = queue;
    std::promise<void> ticked;
    auto owner = std::make_shared<std::shared_ptr<SerialQueue>>(std::move(queue));
    Timer::schedule(*owner, 1s, true, [&ticked, owner](Timer& t) {
        t.invalidate();
        owner->reset();
        ticked.set_value();
    });
    clock->advance(1s);
    ASSERT_EQ(ticked.get_future().wait_for(10s), std::future_status::ready);
    for (int i = 0; i < 1000 && !watch.expired(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(watch.expired());
}

TEST(SerialQueueTest, PostsFromSeveralThreadsKeepEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 1000;
    auto clock = ManualClock::create();
    auto queue = SerialQueue::create("test.producers", clock);
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                queue->post([&seen, t, i] { seen[t].push_back(i); });
                if (i % 100 == 0) {
                    clock->advance(1ms);  // moving the clock concurrently must be safe too
                }
            }
        });
    }
    for (auto& p : producers) {
        p.join();
    }
    queue->sync([] {});
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i) {
            ASSERT_EQ(seen[t][i], i);
        }
    }
}

TEST(SerialQueueTest, TimerInvalidatedFromAnotherThreadStopsTicking) {
    auto clock = ManualClock::create();
    auto queue = SerialQueue::create("test.invalidate", clock);
    std::atomic<int> count = 0;
    auto timer = Timer::schedule(queue, 1s, true, [&](Timer&) { ++count; });
    clock->advance(1s);
    queue->sync([] {});
    EXPECT_EQ(count, 1);
    timer->invalidate();
    clock->advance(5s);
    queue->sync([] {});
    EXPECT_EQ(count, 1);
}

}  // namespace
}  // namespace kr::platform
