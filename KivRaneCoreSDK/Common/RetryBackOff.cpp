#include "KivRaneCoreSDK/Common/RetryBackOff.h"

#include <algorithm>

namespace kr {

platform::Clock::duration RetryBackOff::ceiling(int step) {
    auto wait = std::chrono::duration_cast<platform::Clock::duration>(kFirstDelay);
    const auto cap = std::chrono::duration_cast<platform::Clock::duration>(kMaxDelay);
    for (int i = 1; i < step && wait < cap; ++i) {
        wait *= 2;
    }
    return std::min(wait, cap);
}

platform::Clock::duration RetryBackOff::delay(int step) {
    const auto wait = ceiling(step);
    std::uniform_int_distribution<platform::Clock::duration::rep> spread(wait.count() / 2,
                                                                       wait.count());
    return platform::Clock::duration(spread(jitter_));
}

}  // namespace kr
