#include "platform/Dispatch/MainQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/SerialQueue.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;

class MainQueueTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualClock> clock = ManualClock::create();
    std::shared_ptr<MainQueue> queue = MainQueue::create(clock);
    std::vector<std::string> ran;

    MainQueue::Task record(std::string name) {
        return [this, name = std::move(name)] { ran.push_back(name); };
    }
};

TEST_F(MainQueueTest, RunsTasksByDueTimeThenPostOrder) {
    struct Post {
        std::string name;
        std::chrono::seconds delay;  // negative: plain post
    };
    struct Case {
        const char* title;
        std::vector<Post> posts;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"plain posts are FIFO", {{"a", -1s}, {"b", -1s}, {"c", -1s}}, {"a", "b", "c"}},
        {"earlier due first",
         {{"late", 5s}, {"early", 1s}, {"now", -1s}},
         {"now", "early", "late"}},
        {"same due keeps post order", {{"x", 3s}, {"y", 3s}, {"z", 3s}}, {"x", "y", "z"}},
        {"zero delay sits among plain posts", {{"a", -1s}, {"b", 0s}, {"c", -1s}}, {"a", "b", "c"}},
        {"mixed", {{"d2", 2s}, {"p", -1s}, {"d1", 1s}, {"d2b", 2s}}, {"p", "d1", "d2", "d2b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ran.clear();
        for (const auto& post : c.posts) {
            if (post.delay < 0s) {
                queue->post(record(post.name));
            } else {
                queue->postAfter(post.delay, record(post.name));
            }
        }
        clock->advance(10s);
        EXPECT_EQ(queue->runPending(), c.expected.size());
        EXPECT_EQ(ran, c.expected);
    }
}

TEST_F(MainQueueTest, RunPendingRunsOnlyWhatTheClockHasReached) {
    queue->postAfter(25s, record("poll"));
    queue->postAfter(4s, record("check"));
    queue->postAfter(Clock::duration::max(), record("never"));  // must not overflow
    queue->post([this] {
        ran.push_back("first");
        queue->post(record("posted by first"));        // due now: same pass
        queue->postAfter(1s, record("posted later"));  // not yet due
    });

    EXPECT_EQ(queue->runPending(), 2u);
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "posted by first"}));

    clock->advance(3999ms);
    EXPECT_EQ(queue->runPending(), 1u);  // only the 1 s task
    clock->advance(1ms);
    EXPECT_EQ(queue->runPending(), 1u);
    EXPECT_EQ(ran.back(), "check");
    clock->advance(21s);
    EXPECT_EQ(queue->runPending(), 1u);
    EXPECT_EQ(ran.back(), "poll");
    EXPECT_EQ(queue->runPending(), 0u);
}

TEST_F(MainQueueTest, CancelledTaskNeverRunsAndReleasesItsClosure) {
    auto owned = std::make_shared<int>(7);
    std::weak_ptr<int> watch = owned;
    auto handle = queue->postAfter(5s, [this, owned = std::move(owned)] { ran.push_back("x"); });
    auto copy = handle;
    EXPECT_FALSE(handle.isCancelled());

    copy.cancel();
    EXPECT_TRUE(handle.isCancelled());
    EXPECT_TRUE(watch.expired()) << "cancelling must drop what the closure holds";
    clock->advance(10s);
    EXPECT_EQ(queue->runPending(), 0u);
    EXPECT_TRUE(ran.empty());

    copy.cancel();          // twice: harmless
    TaskHandle().cancel();  // empty handle: harmless
    EXPECT_FALSE(TaskHandle().isCancelled());
}

TEST_F(MainQueueTest, CancelFromAnEarlierTaskDueAtTheSameTime) {
    TaskHandle later;
    queue->postAfter(1s, [&] { later.cancel(); });
    later = queue->postAfter(1s, record("cancelled"));
    clock->advance(1s);
    EXPECT_EQ(queue->runPending(), 1u);
    EXPECT_TRUE(ran.empty());
}

TEST_F(MainQueueTest, IsCurrentOnlyInsideItsOwnTasks) {
    auto other = MainQueue::create(clock);
    bool inside = false;
    bool otherInside = true;
    queue->post([&] {
        inside = queue->isCurrent();
        otherInside = other->isCurrent();
    });
    queue->runPending();
    EXPECT_TRUE(inside);
    EXPECT_FALSE(otherInside);
    EXPECT_FALSE(queue->isCurrent());
}

TEST_F(MainQueueTest, RunUntilReturnsAsSoonAsThePredicateHolds) {
    int count = 0;
    for (int i = 0; i < 5; ++i) {
        queue->post([&] { ++count; });
    }
    EXPECT_TRUE(queue->runUntil([&] { return count == 2; }, 5s));
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(queue->runUntil([] { return true; }, 0s));
    EXPECT_EQ(count, 2);
}

TEST_F(MainQueueTest, RunUntilTimesOutInRealTimeWithoutRunningUndueTasks) {
    queue->postAfter(1s, record("undue"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue->runUntil([] { return false; }, 50ms));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 50ms);
    EXPECT_LT(elapsed, 2s);
    EXPECT_TRUE(ran.empty());
}

TEST_F(MainQueueTest, AdvancingFromAnotherThreadWakesRunUntil) {
    queue->postAfter(25s, record("poll"));
    std::thread advancer([clock = clock] {
        std::this_thread::sleep_for(20ms);
        clock->advance(25s);
    });
    EXPECT_TRUE(queue->runUntil([&] { return !ran.empty(); }, 10s));
    advancer.join();
}

TEST_F(MainQueueTest, RunUntilSeesPredicatesChangedOffQueue) {
    std::atomic<bool> flag = false;
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        flag = true;
    });
    EXPECT_TRUE(queue->runUntil([&] { return flag.load(); }, 10s));
    setter.join();
}

TEST_F(MainQueueTest, StopEndsRunFromAnotherThread) {
    auto real = MainQueue::create();
    std::atomic<int> count = 0;
    real->postAfter(10ms, [&] { ++count; });
    std::thread stopper([&] {
        while (count == 0) {
            std::this_thread::sleep_for(1ms);
        }
        real->stop();
    });
    real->run();
    stopper.join();
    EXPECT_EQ(count, 1);

    real->stop();  // before run: the next run returns at once
    real->runFor(10s);
}

TEST_F(MainQueueTest, PostsFromSeveralThreadsKeepEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::vector<int>> seen(kThreads);
    int total = 0;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                queue->post([&, t, i] {
                    seen[t].push_back(i);
                    ++total;
                });
            }
        });
    }
    EXPECT_TRUE(queue->runUntil([&] { return total == kThreads * kPerThread; }, 20s));
    for (auto& p : producers) {
        p.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i) {
            ASSERT_EQ(seen[t][i], i);
        }
    }
}

}  // namespace
}  // namespace kr::platform
