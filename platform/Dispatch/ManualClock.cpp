#include "platform/Dispatch/ManualClock.h"

#include <algorithm>
#include <utility>

namespace kr::platform {

ManualClock::ManualClock(time_point start) : ticks_(start.time_since_epoch().count()) {}

std::shared_ptr<ManualClock> ManualClock::create(time_point start) {
    return std::make_shared<ManualClock>(start);
}

ManualClock::time_point ManualClock::now() const {
    return time_point(duration(ticks_.load()));
}

Clock::Subscription ManualClock::onAdvance(std::function<void()> callback) {
    auto listener = std::make_shared<std::function<void()>>(std::move(callback));
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [](const auto& weak) { return weak.expired(); });
    listeners_.push_back(listener);
    return listener;
}

void ManualClock::advance(duration d) {
    if (d <= duration::zero()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ticks_ += d.count();
    }
    notifyAdvanced();
}

void ManualClock::advanceTo(time_point t) {
    {
        std::lock_guard lock(mutex_);
        if (t.time_since_epoch().count() <= ticks_.load()) {
            return;
        }
        ticks_ = t.time_since_epoch().count();
    }
    notifyAdvanced();
}

void ManualClock::notifyAdvanced() {
    // Listeners run without our lock: they take their queue's lock, and queues read now() while
    // holding theirs.
    std::vector<std::shared_ptr<std::function<void()>>> live;
    {
        std::lock_guard lock(mutex_);
        for (const auto& weak : listeners_) {
            if (auto strong = weak.lock()) {
                live.push_back(std::move(strong));
            }
        }
    }
    for (const auto& listener : live) {
        (*listener)();
    }
}

}  // namespace kr::platform
