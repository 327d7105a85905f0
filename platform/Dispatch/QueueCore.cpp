#include "platform/Dispatch/QueueCore.h"

#include <utility>

namespace kr::platform::detail {

namespace {

// The core whose task the calling thread is running, if any.
thread_local const QueueCore* tlsRunningCore = nullptr;

class RunningCoreScope {
public:
    explicit RunningCoreScope(const QueueCore* core) : previous_(tlsRunningCore) {
        tlsRunningCore = core;
    }
    ~RunningCoreScope() { tlsRunningCore = previous_; }
    RunningCoreScope(const RunningCoreScope&) = delete;
    RunningCoreScope& operator=(const RunningCoreScope&) = delete;

private:
    const QueueCore* previous_;
};

}  // namespace

std::shared_ptr<QueueCore> QueueCore::create(std::shared_ptr<Clock> clock) {
    auto core = std::make_shared<QueueCore>(std::move(clock));
    // The clock holds the callback weakly and the callback holds the core weakly: no cycle.
    core->advanceSubscription_ = core->clock_->onAdvance([weak = std::weak_ptr<QueueCore>(core)] {
        if (auto strong = weak.lock()) {
            strong->wake();
        }
    });
    return core;
}

QueueCore::QueueCore(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}

void QueueCore::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (!shutdown_) {
            tasks_.emplace(Key{clock_->now(), nextSeq_++}, std::move(task));
            wakeup_.notify_all();
            return;
        }
    }
    // Refused: `task` dies here, outside the lock.
}

TaskHandle QueueCore::postAt(Clock::time_point due, Task task) {
    auto state = std::make_shared<TaskState>();
    {
        std::lock_guard lock(mutex_);
        if (!shutdown_) {
            state->core = weak_from_this();
            state->due = due;
            state->seq = nextSeq_++;
            tasks_.emplace(Key{due, state->seq}, std::move(task));
            wakeup_.notify_all();
            return TaskHandle(std::move(state));
        }
    }
    state->cancelled = true;
    return TaskHandle(std::move(state));
}

void QueueCore::cancel(const TaskState& state) {
    Task removed;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(Key{state.due, state.seq});
        if (it != tasks_.end()) {
            removed = std::move(it->second);
            tasks_.erase(it);
        }
    }
    // `removed` (and whatever its closure owns) goes here, outside the lock.
}

bool QueueCore::runOneDue() {
    Task task;
    {
        std::lock_guard lock(mutex_);
        if (shutdown_ || tasks_.empty()) {
            return false;
        }
        auto first = tasks_.begin();
        if (clock_->now() < first->first.due) {
            return false;
        }
        task = std::move(first->second);
        tasks_.erase(first);
    }
    {
        RunningCoreScope scope(this);
        task();
    }
    return true;
}

void QueueCore::wait(std::optional<std::chrono::steady_clock::time_point> wallDeadline) {
    std::unique_lock lock(mutex_);
    if (shutdown_ || stopRequested_) {
        return;
    }
    std::optional<std::chrono::steady_clock::time_point> until = wallDeadline;
    if (!tasks_.empty()) {
        const auto due = tasks_.begin()->first.due;
        if (due <= clock_->now()) {
            return;
        }
        // On a real-time clock the due time is a steady-clock instant we can sleep until; on a
        // manual clock only an advance (which wakes us) can make it due.
        if (clock_->tracksRealTime() && (!until || due < *until)) {
            until = due;
        }
    }
    if (until) {
        wakeup_.wait_until(lock, *until);
    } else {
        wakeup_.wait(lock);
    }
}

void QueueCore::wake() {
    // Taking the lock orders this wake after a waiter's last look at the tasks and the clock.
    std::lock_guard lock(mutex_);
    wakeup_.notify_all();
}

void QueueCore::requestStop() {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    wakeup_.notify_all();
}

bool QueueCore::takeStop() {
    std::lock_guard lock(mutex_);
    return std::exchange(stopRequested_, false);
}

void QueueCore::shutdown() {
    std::map<Key, Task> dropped;
    {
        std::lock_guard lock(mutex_);
        shutdown_ = true;
        dropped.swap(tasks_);
            wakeup_.notify_all();
    }
    // Closures of dropped tasks are destroyed here, outside the lock: their destructors may post.
}

bool QueueCore::isShutdown() const {
    std::lock_guard lock(mutex_);
    return shutdown_;
}

bool QueueCore::isCurrent() const {
    return tlsRunningCore == this;
}

}  // namespace kr::platform::detail
