#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Dispatch/Clock.h"

namespace kr::platform {

/// A clock that only moves when a test tells it to. Queues built on it run a delayed task once
/// the clock has reached the task's due time; advancing wakes every queue waiting on the clock.
/// It never moves backwards.
///
/// Threading: every method may be called from any thread.
class ManualClock final : public Clock {
public:
    /// Far enough from the clock's epoch that "long ago" timestamps behave as with a real clock.
    static constexpr duration kDefaultStart = std::chrono::hours(1000);

    explicit ManualClock(time_point start = time_point{} + kDefaultStart);
    static std::shared_ptr<ManualClock> create(time_point start = time_point{} + kDefaultStart);

    time_point now() const override;
    bool tracksRealTime() const override { return false; }
    Subscription onAdvance(std::function<void()> callback) override;

    /// Moves now() forward by `d` (a negative `d` is ignored) and wakes waiting queues.
    void advance(duration d);
    /// Moves now() to `t` if it lies ahead and wakes waiting queues.
    void advanceTo(time_point t);

private:
    void notifyAdvanced();

    std::atomic<duration::rep> ticks_;
    std::mutex mutex_;  // guards the move of the clock and listeners_
    std::vector<std::weak_ptr<std::function<void()>>> listeners_;
};

}  // namespace kr::platform
