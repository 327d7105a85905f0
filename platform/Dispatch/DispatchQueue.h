#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Dispatch/Clock.h"
#include "platform/Dispatch/TaskHandle.h"

namespace kr::platform {

namespace detail {
class QueueCore;
}

/// A serial queue of tasks: one task at a time, in order of due time, and tasks due at the same
/// time in the order they were posted (plain posts are due at once, so they run FIFO).
/// Base of MainQueue (run by the host on its thread) and SerialQueue (runs its own thread).
///
/// Threading: post/postAfter/postAt may be called from any thread.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    using Task = std::function<void()>;

    virtual ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    const std::shared_ptr<Clock>& clock() const;

    /// Queues `task` to run as soon as the queue gets to it. FIFO.
    void post(Task task);
    /// Queues `task` due at clock()->now() + delay (a negative delay counts as zero).
    TaskHandle postAfter(Clock::duration delay, Task task);
    /// Queues `task` due at `due` on clock(); timers use it to keep a drift-free schedule.
    TaskHandle postAt(Clock::time_point due, Task task);

    /// True when called from inside a task that this queue is running.
    bool isCurrent() const;

protected:
    DispatchQueue(std::string label, std::shared_ptr<Clock> clock);

    const std::shared_ptr<detail::QueueCore>& core() const { return core_; }

private:
    std::string label_;
    std::shared_ptr<detail::QueueCore> core_;
};

}  // namespace kr::platform
