#include "KivRaneCoreSDK/RTC/MediaEngines/ClientRoleRetry.h"

#include <utility>

namespace kr {

void ClientRoleRetry::refused(platform::DispatchQueue& queue,
                              std::function<void(bool isAudience)> switchRole) {
    counter_ += 1;
    cancel();
    if (counter_ <= static_cast<std::int64_t>(kDelays.size())) {
        interval_ = kDelays[static_cast<std::size_t>(counter_ - 1)];
        scheduled_ = true;
        // `this` is safe: the destructor cancels the task, and both live on the one queue.
        task_ = queue.postAfter(interval_, [this, switchRole = std::move(switchRole)] {
            scheduled_ = false;
            switchRole(false);
        });
        return;
    }
    // Given up. The count stays: until the engine confirms the broadcaster role, every further
    // refusal sends the user straight back to the audience instead of starting new retries.
    switchRole(true);
}

void ClientRoleRetry::cancel() {
    task_.cancel();
    task_ = {};
    scheduled_ = false;
}

void ClientRoleRetry::reset() {
    cancel();
    counter_ = 0;
}

}  // namespace kr
