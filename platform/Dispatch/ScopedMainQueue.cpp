#include "platform/Dispatch/ScopedMainQueue.h"

#include <utility>

namespace kr::platform {

ScopedMainQueue::ScopedMainQueue(std::shared_ptr<Clock> clock)
    : queue_(MainQueue::create(std::move(clock))), previous_(MainQueue::install(queue_)) {}

ScopedMainQueue::~ScopedMainQueue() {
    MainQueue::install(std::move(previous_));
}

}  // namespace kr::platform
