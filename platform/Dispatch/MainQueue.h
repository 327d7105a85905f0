#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SteadyClock.h"

namespace kr::platform {

/// The library's main queue. Every host call and every library callback runs on it; the host runs
/// it on a thread of its own choice with run(), runFor(), runUntil() or runPending().
///
/// Threading: post and stop from any thread; the run methods from one thread at a time.
class MainQueue final : public DispatchQueue {
public:
    static std::shared_ptr<MainQueue> create(
        std::shared_ptr<Clock> clock = SteadyClock::instance());
    /// The process main queue (made lazily on the steady clock, never replaced): the production
    /// default of the library's dependencies. Tests build their own queue and pass it in.
    static std::shared_ptr<MainQueue> current();

    /// Runs tasks as they fall due until stop().
    void run();
    /// Runs tasks for this much real time (due times still come from clock()).
    void runFor(Clock::duration wallTime);
    /// Runs tasks until `done()` holds (checked before, after every task and whenever woken) or
    /// `wallTimeout` of real time has passed. Returns done().
    bool runUntil(const std::function<bool()>& done, Clock::duration wallTimeout);
    /// Runs every task due now, including tasks they post that are also due. Never waits.
    /// Returns the number of tasks run.
    std::size_t runPending();
    /// Makes the run() in progress return after its current task; if none is in progress, the next
    /// run(), runFor() or runUntil() returns at once. Any thread.
    void stop();

    explicit MainQueue(std::shared_ptr<Clock> clock);
};

/// Shorthand for *MainQueue::current(); valid for the life of the process.
MainQueue& mainQueue();

}  // namespace kr::platform
