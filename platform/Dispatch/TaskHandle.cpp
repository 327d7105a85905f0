#include "platform/Dispatch/TaskHandle.h"

#include <utility>

#include "platform/Dispatch/QueueCore.h"

namespace kr::platform {

TaskHandle::TaskHandle(std::shared_ptr<detail::TaskState> state) : state_(std::move(state)) {}

void TaskHandle::cancel() {
    if (!state_) {
        return;
    }
    state_->cancelled = true;
    if (auto core = state_->core.lock()) {
        core->cancel(*state_);
    }
}

bool TaskHandle::isCancelled() const {
    return state_ && state_->cancelled;
}

}  // namespace kr::platform
