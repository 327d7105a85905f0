#include "platform/Dispatch/Timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;

class TimerTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualClock> clock = ManualClock::create();
    std::shared_ptr<MainQueue> queue = MainQueue::create(clock);
    const Clock::time_point start = clock->now();
    std::vector<Clock::duration> ticks;  // clock time of each callback, from start

    Timer::Callback recordTick() {
        return [this](Timer&) { ticks.push_back(clock->now() - start); };
    }
    // Moves the clock to start + t and runs what fell due.
    void at(Clock::duration t) {
        clock->advanceTo(start + t);
        queue->runPending();
    }
};

TEST_F(TimerTest, OneShotTicksOnceThenIsInvalid) {
    auto timer = Timer::schedule(queue, 4s, false, recordTick());
    EXPECT_TRUE(timer->isValid());
    EXPECT_EQ(timer->interval(), 4s);
    at(3999ms);
    EXPECT_TRUE(ticks.empty());
    at(4s);
    at(20s);
    EXPECT_EQ(ticks, (std::vector<Clock::duration>{4s}));
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, RepeatingScheduleDoesNotDriftWhenTicksRunLate) {
    auto timer = Timer::schedule(queue, 25s, true, recordTick());
    at(30s);  // first tick 5 s late
    at(50s);  // the next is still due at 50 s, not at 55 s
    at(74s);
    at(75s);
    EXPECT_EQ(ticks, (std::vector<Clock::duration>{30s, 50s, 75s}));
    timer->invalidate();
}

TEST_F(TimerTest, TickLateBySeveralIntervalsRunsOnce) {
    auto timer = Timer::schedule(queue, 1s, true, recordTick());
    at(3500ms);  // ticks due at 1, 2 and 3 s: one run
    EXPECT_EQ(ticks.size(), 1u);
    at(3999ms);
    EXPECT_EQ(ticks.size(), 1u);
    at(4s);  // back on the 1 s grid
    at(5s);
    EXPECT_EQ(ticks, (std::vector<Clock::duration>{3500ms, 4s, 5s}));
    timer->invalidate();
}

TEST_F(TimerTest, InvalidateStopsTicksAndReleasesTheTimer) {
    auto timer = Timer::schedule(queue, 1s, true, recordTick());
    std::weak_ptr<Timer> watch = timer;
    at(1s);
    timer->invalidate();
    timer->invalidate();  // twice: harmless
    EXPECT_FALSE(timer->isValid());
    timer.reset();
    EXPECT_TRUE(watch.expired()) << "the queue must let go of an invalid timer";
    at(10s);
    EXPECT_EQ(ticks.size(), 1u);
}

TEST_F(TimerTest, InvalidateFromInsideItsOwnCallback) {
    int count = 0;
    std::weak_ptr<Timer> watch = Timer::schedule(queue, 1s, true, [&](Timer& t) {
        if (++count == 2) {
            t.invalidate();
            EXPECT_FALSE(t.isValid());
        }
    });
    at(1s);
    at(2s);
    at(3s);
    at(10s);
    EXPECT_EQ(count, 2);
    EXPECT_TRUE(watch.expired());
}

TEST_F(TimerTest, NoTickAfterInvalidateByAnEarlierTaskDueAtTheSameTime) {
    std::shared_ptr<Timer> timer;
    queue->postAfter(1s, [&] { timer->invalidate(); });
    timer = Timer::schedule(queue, 1s, true, recordTick());
    at(1s);
    EXPECT_TRUE(ticks.empty());
}

TEST_F(TimerTest, QueueKeepsAValidTimerAlive) {
    std::weak_ptr<Timer> watch = Timer::schedule(queue, 2s, true, recordTick());
    at(2s);
    at(4s);
    EXPECT_EQ(ticks.size(), 2u);
    ASSERT_FALSE(watch.expired());
    watch.lock()->invalidate();
    EXPECT_TRUE(watch.expired());
}

TEST(TimerFireTest, FireRunsNowWithoutMovingTheSchedule) {
    struct Case {
        bool repeats;
        std::vector<Clock::duration> expected;  // callback times, from the start
        bool validAfter;
    };
    for (const Case& c : {Case{true, {500ms, 1s, 2s}, true}, Case{false, {500ms}, false}}) {
        SCOPED_TRACE(c.repeats ? "repeating" : "one-shot");
        auto clock = ManualClock::create();
        auto queue = MainQueue::create(clock);
        const auto start = clock->now();
        std::vector<Clock::duration> seen;
        auto timer = Timer::schedule(queue, 1s, c.repeats,
                                     [&](Timer&) { seen.push_back(clock->now() - start); });
        clock->advance(500ms);
        timer->fire();
        for (auto t : {1s, 2s}) {
            clock->advanceTo(start + t);
            queue->runPending();
        }
        EXPECT_EQ(seen, c.expected);
        EXPECT_EQ(timer->isValid(), c.validAfter);
        timer->invalidate();
        timer->fire();  // on an invalid timer: nothing
        EXPECT_EQ(seen, c.expected);
    }
}

TEST_F(TimerTest, HugeIntervalNeverTicks) {
    auto timer = Timer::schedule(queue, Clock::duration::max(), true, recordTick());
    at(24h * 365);
    EXPECT_TRUE(ticks.empty());
    EXPECT_TRUE(timer->isValid());
    timer->invalidate();
}

TEST_F(TimerTest, TimerWithoutQueueIsInvalid) {
    auto timer = Timer::schedule(nullptr, 1s, true, recordTick());
    EXPECT_FALSE(timer->isValid());
    timer->fire();
    EXPECT_TRUE(ticks.empty());
}

}  // namespace
}  // namespace kr::platform
