// The waits between retries: how long at most, and that clients failing together spread out.

#include "KivRaneCoreSDK/Common/RetryBackOff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

namespace kr {
namespace {

using namespace std::chrono_literals;
using Duration = platform::Clock::duration;

TEST(RetryBackOffTest, TheCeilingDoublesFromOneSecondUpToThirty) {
    const std::pair<int, Duration> rows[] = {{1, 1s},  {2, 2s},  {3, 4s},   {4, 8s},
                                             {5, 16s}, {6, 30s}, {40, 30s}, {0, 1s}};
    for (const auto& [step, ceiling] : rows) {
        EXPECT_EQ(RetryBackOff::ceiling(step), ceiling) << "step " << step;
    }
}

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
