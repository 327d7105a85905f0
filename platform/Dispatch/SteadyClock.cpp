#include "platform/Dispatch/SteadyClock.h"

namespace kr::platform {

std::shared_ptr<SteadyClock> SteadyClock::instance() {
    static const auto clock = std::make_shared<SteadyClock>();
    return clock;
}

SteadyClock::time_point SteadyClock::now() const {
    return std::chrono::steady_clock::now();
}

}  // namespace kr::platform
