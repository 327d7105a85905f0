#pragma once

#include <memory>

namespace kr::platform {

namespace detail {
struct TaskState;
}

/// Cancellable handle of a delayed task. Copies share the same task. A default-made handle refers
/// to nothing; cancelling it does nothing.
///
/// Threading: any thread. Cancelling drops the task (and what its closure holds) at once; a task
/// that has already started still finishes.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<detail::TaskState> state);

    void cancel();
    bool isCancelled() const;

private:
    std::shared_ptr<detail::TaskState> state_;
};

}  // namespace kr::platform
