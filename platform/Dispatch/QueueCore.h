#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/Dispatch/Clock.h"
#include "platform/Dispatch/TaskHandle.h"

namespace kr::platform::detail {

class QueueCore;

/// `from + delay`, held at the far end of the clock instead of overflowing (a "never" delay).
inline Clock::time_point addSaturating(Clock::time_point from, Clock::duration delay) {
    if (delay > Clock::duration::zero() && from > Clock::time_point::max() - delay) {
        return Clock::time_point::max();
    }
    if (delay < Clock::duration::zero() && from < Clock::time_point::min() - delay) {
        return Clock::time_point::min();
    }
    return from + delay;
}

/// What a TaskHandle knows about its task: where it is queued, and whether it was cancelled.
struct TaskState {
    std::atomic<bool> cancelled{false};
    std::weak_ptr<QueueCore> core;
    Clock::time_point due{};
    std::uint64_t seq = 0;
};

/// The state shared by a dispatch queue and whatever thread runs it: the tasks ordered by
/// (due time, post order), and the wake-up signal. Kept apart from the queue object so that a
/// worker thread can outlive its queue object for the moment it takes to finish the task in hand.
///
/// Threading: every method may be called from any thread. Tasks run without the lock held, and
/// closures are destroyed without it, so a task or a closure's destructor may post freely.
class QueueCore : public std::enable_shared_from_this<QueueCore> {
public:
    using Task = std::function<void()>;

    static std::shared_ptr<QueueCore> create(std::shared_ptr<Clock> clock);
    explicit QueueCore(std::shared_ptr<Clock> clock);

    const std::shared_ptr<Clock>& clock() const { return clock_; }

    void post(Task task);
    TaskHandle postAt(Clock::time_point due, Task task);
    void cancel(const TaskState& state);

    /// Runs the earliest task if it is due. Returns false when nothing is due (or after shutdown).
    bool runOneDue();
    /// Sleeps until a task may be due, something is posted, the clock moves, stop or shutdown is
    /// requested, or `wallDeadline` (real time) passes. May return early; callers loop.
    void wait(std::optional<std::chrono::steady_clock::time_point> wallDeadline);
    /// Wakes a waiting thread without posting anything.
    void wake();

    void requestStop();
    /// Returns whether a stop was requested, and clears the request.
    bool takeStop();

    /// Drops every pending task and refuses later ones; wakes the runner so it can end.
    void shutdown();
    bool isShutdown() const;

    /// True while the calling thread is running a task of this core.
    bool isCurrent() const;

private:
    struct Key {
        Clock::time_point due;
        std::uint64_t seq;
        bool operator<(const Key& other) const {
            return due != other.due ? due < other.due : seq < other.seq;
        }
    };

    std::shared_ptr<Clock> clock_;
    Clock::Subscription advanceSubscription_;

    mutable std::mutex mutex_;
    std::condition_variable wakeup_;
    std::map<Key, Task> tasks_;
    std::uint64_t nextSeq_ = 0;
    bool stopRequested_ = false;
    bool shutdown_ = false;
};

}  // namespace kr::platform::detail
