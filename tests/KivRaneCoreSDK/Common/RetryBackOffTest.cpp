// The waits between retries: within their bounds, and spread so that clients failing together
// do not come back in step.

#include "KivRaneCoreSDK/Common/RetryBackOff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

namespace kr {
namespace {

using namespace std::chrono_literals;
using Duration = platform::Clock::duration;

TEST(RetryBackOffTest, EachWaitIsDrawnBetweenHalfAndAllOfItsCeilingNotAlwaysTheSame) {
    RetryBackOff first;
    RetryBackOff second;
    for (const int step : {1, 3, 6}) {
        SCOPED_TRACE(step);
        const Duration ceiling = RetryBackOff::ceiling(step);
        std::set<Duration::rep> drawn;
        bool apart = false;
        for (int i = 0; i < 40; ++i) {
            const Duration wait = first.delay(step);
            EXPECT_GE(wait, ceiling / 2);
            EXPECT_LE(wait, ceiling);
            drawn.insert(wait.count());
            // Two clients that failed together do not come back in step.
            apart = apart || second.delay(step) != wait;
        }
        EXPECT_GT(drawn.size(), 1u);
        EXPECT_TRUE(apart);
    }
}

}  // namespace
}  // namespace kr
