#include "platform/Dispatch/DispatchQueue.h"

#include <algorithm>
#include <utility>

#include "platform/Dispatch/QueueCore.h"
#include "platform/Dispatch/SteadyClock.h"

namespace kr::platform {

DispatchQueue::DispatchQueue(std::string label, std::shared_ptr<Clock> clock)
    : label_(std::move(label)),
      core_(detail::QueueCore::create(clock ? std::move(clock) : SteadyClock::instance())) {}

DispatchQueue::~DispatchQueue() {
    core_->shutdown();
}

const std::shared_ptr<Clock>& DispatchQueue::clock() const {
    return core_->clock();
}

void DispatchQueue::post(Task task) {
    core_->post(std::move(task));
}

TaskHandle DispatchQueue::postAfter(Clock::duration delay, Task task) {
    return core_->postAt(
        detail::addSaturating(clock()->now(), std::max(delay, Clock::duration::zero())),
        std::move(task));
}

TaskHandle DispatchQueue::postAt(Clock::time_point due, Task task) {
    return core_->postAt(due, std::move(task));
}

bool DispatchQueue::isCurrent() const {
    return core_->isCurrent();
}

}  // namespace kr::platform
