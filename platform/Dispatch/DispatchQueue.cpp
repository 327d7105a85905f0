#include "platform/Dispatch/DispatchQueue.h"

#include <algorithm>
#include <utility>

#include "platform/Dispatch/QueueCore.h"
#include "platform/Dispatch/SteadyClock.h"

namespace kr::platform {

DispatchQueue::DispatchQueue(std::string label, std::shared_ptr<Clock> clock)
    : label_(std::move(label)),
      clock_(clock ? std::move(clock) : SteadyClock::instance()),
      core_(detail::QueueCore::create(clock_)) {}

DispatchQueue::~DispatchQueue() {
    core_->shutdown();
}

void DispatchQueue::post(Task task) {
    core_->post(std::move(task));
}

TaskHandle DispatchQueue::postAfter(Clock::duration delay, Task task) {
    return core_->postAt(
        detail::addSaturating(clock_->now(), std::max(delay, Clock::duration::zero())),
        std::move(task));
}

TaskHandle DispatchQueue::postAt(Clock::time_point due, Task task) {
    return core_->postAt(due, std::move(task));
}

bool DispatchQueue::isCurrent() const {
    return core_->isCurrent();
}

}  // namespace kr::platform
