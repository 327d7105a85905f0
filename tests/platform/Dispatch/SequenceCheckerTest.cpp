#include "platform/Dispatch/SequenceChecker.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace kr::platform {
namespace {

bool isCurrentOnAnotherThread(const SequenceChecker& checker) {
    bool current = true;
    std::thread([&] { current = checker.isCurrent(); }).join();
    return current;
}

TEST(SequenceCheckerTest, TheFirstThreadOwnsUntilDetached) {
#if !KR_SEQUENCE_CHECKS_ACTIVE
    GTEST_SKIP() << "the check is compiled out of this build";
#endif
    SequenceChecker checker;
    EXPECT_TRUE(checker.isCurrent());
    EXPECT_FALSE(isCurrentOnAnotherThread(checker));
    EXPECT_TRUE(checker.isCurrent());

    checker.detach();
    EXPECT_TRUE(isCurrentOnAnotherThread(checker));  // that thread took it over
    EXPECT_FALSE(checker.isCurrent());
}

// The host may run its main queue on a thread other than the one that built an object: tasks of
// the bound queue count wherever they run, without taking the object over.
TEST(SequenceCheckerTest, TasksOfTheBoundQueueCountOnAnyThread) {
#if !KR_SEQUENCE_CHECKS_ACTIVE
    GTEST_SKIP() << "the check is compiled out of this build";
#endif
    auto queue = MainQueue::create(std::make_shared<ManualClock>());
    SequenceChecker checker(queue);
    EXPECT_TRUE(checker.isCurrent());  // this thread owns it

    bool inTask = false;
    bool outsideTask = true;
    std::thread runner([&] {
        queue->post([&] { inTask = checker.isCurrent(); });
        queue->runPending();
        outsideTask = checker.isCurrent();
    });
    runner.join();
    EXPECT_TRUE(inTask);
    EXPECT_FALSE(outsideTask);
    EXPECT_TRUE(checker.isCurrent());

    // Another queue's task does not count.
    auto other = MainQueue::create(std::make_shared<ManualClock>());
    bool inOtherTask = true;
    std::thread([&] {
        other->post([&] { inOtherTask = checker.isCurrent(); });
        other->runPending();
    }).join();
    EXPECT_FALSE(inOtherTask);
}

}  // namespace
}  // namespace kr::platform
