#include "KivRaneCoreSDK/RTC/MediaEngines/ClientRoleRetry.h"

#include <utility>

namespace kr {

ClientRoleRetry::Outcome ClientRoleRetry::refused(platform::DispatchQueue& queue,
                                                  std::function<void()> retry) {
    counter_ += 1;
    cancel();
    if (counter_ <= static_cast<std::int64_t>(kDelays.size())) {
        interval_ = kDelays[static_cast<std::size_t>(counter_ - 1)];
        scheduled_ = true;
        task_ = queue.postAfter(interval_, std::move(retry));
        return Outcome::scheduled;
    }
    // Given up: the next attempt, whenever the user asks, starts a fresh series.
    counter_ = 0;
    return Outcome::gaveUp;
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
