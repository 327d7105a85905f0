#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace kr::platform {

/// The slot of a process-wide, replaceable object (today only the log collector the loggers write
/// to): made lazily on first use, replaced through `install`.
/// Thread-safe. Declare one as a function-local `static auto* slot = new ProcessWide<T>(...)` so it
/// is never destroyed: objects may still reach it while the process exits.
template <class T>
class ProcessWide {
public:
    using Factory = std::function<std::shared_ptr<T>()>;

    explicit ProcessWide(Factory make) : make_(std::move(make)) {}

    /// The installed object, made with the factory when there is none.
    std::shared_ptr<T> get() {
        std::lock_guard lock(mutex_);
        if (!object_) {
            object_ = make_();
        }
        return object_;
    }

    /// Replaces the object (nothing: made afresh on the next `get`) and returns the previous one.
    /// The previous object is handed back, so it is released outside the lock.
    std::shared_ptr<T> install(std::shared_ptr<T> object) {
        std::lock_guard lock(mutex_);
        return std::exchange(object_, std::move(object));
    }

private:
    std::mutex mutex_;
    Factory make_;
    std::shared_ptr<T> object_;
};

}  // namespace kr::platform
