#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace kr::platform {

/// Time source of a dispatch queue. Due times of delayed tasks and timers are read from it, so a
/// queue built on a manual clock runs minutes of scheduled work in microseconds of a test.
///
/// Threading: every method may be called from any thread.
class Clock {
public:
    using duration = std::chrono::steady_clock::duration;
    using time_point = std::chrono::steady_clock::time_point;
    /// Keeps an advance callback registered while alive; dropping it unregisters the callback.
    using Subscription = std::shared_ptr<void>;

    virtual ~Clock() = default;

    virtual time_point now() const = 0;

    /// True when now() is the steady clock itself, so a queue may sleep until a due time.
    /// False when the clock only moves when told to; queues then sleep until woken.
    virtual bool tracksRealTime() const = 0;

    /// Registers `callback`, run on the advancing thread after now() jumps forward, so waiting
    /// queues can look at their due tasks again. Clocks that follow real time return nullptr.
    virtual Subscription onAdvance(std::function<void()> callback) {
        (void)callback;
        return nullptr;
    }
};

}  // namespace kr::platform
