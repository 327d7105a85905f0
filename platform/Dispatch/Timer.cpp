#include "platform/Dispatch/Timer.h"

#include <algorithm>
#include <utility>

#include "platform/Dispatch/QueueCore.h"

namespace kr::platform {

std::shared_ptr<Timer> Timer::schedule(std::shared_ptr<DispatchQueue> queue,
                                       Clock::duration interval, bool repeats, Callback callback) {
    auto timer = std::make_shared<Timer>(queue, interval, repeats, std::move(callback));
    std::lock_guard lock(timer->mutex_);
    if (!queue) {
        timer->valid_ = false;
        return timer;
    }
    timer->scheduleTick(detail::addSaturating(queue->clock()->now(), interval));
    return timer;
}

Timer::Timer(std::weak_ptr<DispatchQueue> queue, Clock::duration interval, bool repeats,
             Callback callback)
    : queue_(std::move(queue)),
      interval_(interval),
      repeats_(repeats),
      callback_(std::move(callback)) {}

void Timer::scheduleTick(Clock::time_point due) {
    auto queue = queue_.lock();
    if (!queue) {
        valid_ = false;
        return;
    }
    // The pending tick owns the timer: that is what keeps a valid timer alive.
    pending_ = queue->postAt(due, [self = shared_from_this(), due] { self->tick(due); });
}

void Timer::tick(Clock::time_point due) {
    {
        std::lock_guard lock(mutex_);
        if (!valid_) {
            return;
        }
        pending_ = {};
        if (repeats_) {
            auto queue = queue_.lock();
            if (!queue) {
                valid_ = false;
                return;
            }
            // A zero or negative interval would make the tick due again at once, forever.
            const auto step = std::max(interval_, Clock::duration(1));
            const auto now = queue->clock()->now();
            auto next = detail::addSaturating(due, step);
            if (next <= now) {
                next += step * ((now - next) / step + 1);  // skip missed ticks
            }
            scheduleTick(next);
        }
    }
    if (callback_) {
        callback_(*this);
    }
    if (!repeats_) {
        std::lock_guard lock(mutex_);
        valid_ = false;
    }
}

void Timer::fire() {
    {
        std::lock_guard lock(mutex_);
        if (!valid_) {
            return;
        }
    }
    if (callback_) {
        callback_(*this);
    }
    if (!repeats_) {
        invalidate();
    }
}

void Timer::invalidate() {
    // Cancelling the pending tick may drop the last owner of this timer; stay alive until done.
    auto self = weak_from_this().lock();
    TaskHandle pending;
    {
        std::lock_guard lock(mutex_);
        valid_ = false;
        pending = std::exchange(pending_, TaskHandle{});
    }
    pending.cancel();
}

bool Timer::isValid() const {
    std::lock_guard lock(mutex_);
    return valid_;
}

}  // namespace kr::platform
