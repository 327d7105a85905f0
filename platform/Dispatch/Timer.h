#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/Dispatch/DispatchQueue.h"

namespace kr::platform {

/// A one-shot or repeating timer on a dispatch queue. The queue keeps a valid timer alive, so a
/// caller may drop its reference; invalidate() releases it. The timer holds its queue weakly.
///
/// A repeating timer's next tick is due one interval after the previous due time (no drift); a
/// tick that is late by several intervals runs once and the schedule skips the missed ticks.
///
/// Threading: invalidate() and isValid() from any thread; ticks run on the queue. Once
/// invalidate() has returned on the queue's thread, the callback does not run again.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Callback = std::function<void(Timer&)>;

    /// Schedules a timer whose first tick is due one interval from now.
    static std::shared_ptr<Timer> schedule(std::shared_ptr<DispatchQueue> queue,
                                           Clock::duration interval, bool repeats,
                                           Callback callback);

    /// Runs the callback now on the calling thread (if still valid); a one-shot timer is then
    /// invalid. A repeating timer keeps its schedule.
    void fire();
    void invalidate();
    bool isValid() const;
    Clock::duration interval() const { return interval_; }

    Timer(std::weak_ptr<DispatchQueue> queue, Clock::duration interval, bool repeats,
          Callback callback);

private:
    void scheduleTick(Clock::time_point due);
    void tick(Clock::time_point due);

    const std::weak_ptr<DispatchQueue> queue_;
    const Clock::duration interval_;
    const bool repeats_;
    const Callback callback_;

    mutable std::mutex mutex_;
    bool valid_ = true;
    TaskHandle pending_;
};

}  // namespace kr::platform
