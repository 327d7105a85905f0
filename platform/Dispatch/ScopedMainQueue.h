#pragma once

#include <memory>

#include "platform/Dispatch/MainQueue.h"

namespace kr::platform {

/// Test helper: installs a fresh main queue (for example on a ManualClock) for its lifetime and
/// puts the previous one back when it goes. Use on the test's own thread.
class ScopedMainQueue {
public:
    explicit ScopedMainQueue(std::shared_ptr<Clock> clock = SteadyClock::instance());
    ~ScopedMainQueue();
    ScopedMainQueue(const ScopedMainQueue&) = delete;
    ScopedMainQueue& operator=(const ScopedMainQueue&) = delete;

    MainQueue& queue() { return *queue_; }
    const std::shared_ptr<MainQueue>& get() const { return queue_; }

private:
    std::shared_ptr<MainQueue> queue_;
    std::shared_ptr<MainQueue> previous_;
};

}  // namespace kr::platform
