#pragma once

#include <chrono>
#include <random>

#include "platform/Dispatch/Clock.h"

namespace kr {

/// The waits between tries of something that keeps failing against a service: about 1, 2, 4 ...
/// up to 30 s, each drawn between half and all of that so that clients that failed together do
/// not come back in step. Not thread-safe: each user keeps its own.
class RetryBackOff {
public:
    static constexpr std::chrono::seconds kFirstDelay{1};
    static constexpr std::chrono::seconds kMaxDelay{30};

    /// The longest wait before try `step` (1 for the first retry); the cap from there on.
    static platform::Clock::duration ceiling(int step);
    /// The wait before try `step`: between half of `ceiling(step)` and all of it.
    platform::Clock::duration delay(int step);

private:
    std::minstd_rand jitter_{std::random_device{}()};
};

}  // namespace kr
