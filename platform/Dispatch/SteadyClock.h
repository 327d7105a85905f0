#pragma once

#include <memory>

#include "platform/Dispatch/Clock.h"

namespace kr::platform {

/// The real monotonic clock (std::chrono::steady_clock). One shared instance serves every queue.
/// Threading: any thread.
class SteadyClock final : public Clock {
public:
    static std::shared_ptr<SteadyClock> instance();

    time_point now() const override;
    bool tracksRealTime() const override { return true; }
};

}  // namespace kr::platform
