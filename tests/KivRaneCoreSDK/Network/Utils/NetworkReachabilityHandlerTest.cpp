#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Network/Utils/Reachability.h"
#include "platform/Dispatch/MainQueue.h"
#include "support/FakeReachabilityFlagSource.h"

namespace kr {
namespace {

using F = ReachabilityFlags;

class RecordingDelegate : public NetworkReachabilityHandlerDelegate {
public:
    void didNetworkStateChanged(bool isConnected) override {
        reports.push_back(isConnected);
        if (onReport) {
            onReport();
        }
    }
    std::vector<bool> reports;
    std::function<void()> onReport;
};

// A handler whose every monitor runs over a fresh fake source; `sources` keeps them in order.
class NetworkReachabilityHandlerTest : public ::testing::Test {
protected:
    NetworkReachabilityHandlerTest() {
        handler = NetworkReachabilityHandler::create(
            [this]() -> Result<std::shared_ptr<Reachability>, ReachabilityError> {
                if (failCreation) {
                    return Failure{ReachabilityError{
                        ReachabilityError::Kind::failedToCreateWithAddress, 1, "0.0.0.0"}};
                }
                auto source = std::make_shared<test::FakeReachabilityFlagSource>();
                source->setCurrentFlags(initialFlags);
                sources.push_back(source);
                return Reachability::create(source, main);
            });
    }

    // Lets every emitted change run through the monitors' queues and the main queue, so that
    // afterwards every report that is coming has arrived (no waiting on a window of time).
    void settle() {
        for (const auto& source : sources) {
            source->drain();
        }
        while (main->runPending() > 0) {
        }
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    std::uint32_t initialFlags = F::reachable;
    bool failCreation = false;
    std::vector<std::shared_ptr<test::FakeReachabilityFlagSource>> sources;
    std::shared_ptr<NetworkReachabilityHandler> handler;
};

TEST_F(NetworkReachabilityHandlerTest, EveryChangeReachesEveryDelegateAsConnectedOrNot) {
    auto first = std::make_shared<RecordingDelegate>();
    auto second = std::make_shared<RecordingDelegate>();
    handler->addDelegates(first, "first");
    handler->addDelegates(second, "second");
    handler->startObserving();
    settle();

    sources.back()->emit(F::reachable | F::isDirect);  // still Wi-Fi: reported again
    settle();
    sources.back()->emit(0);
    settle();
    sources.back()->emit(F::reachable | F::isWWAN);  // cellular counts as connected
    settle();

    const std::vector<bool> expected{true, true, false, true};
    EXPECT_EQ(first->reports, expected);
    EXPECT_EQ(second->reports, expected);
}

TEST_F(NetworkReachabilityHandlerTest, RegistrationReplacesAndRemoves) {
    auto replaced = std::make_shared<RecordingDelegate>();
    auto replacement = std::make_shared<RecordingDelegate>();
    auto removed = std::make_shared<RecordingDelegate>();
    handler->addDelegates(replaced, "client");
    handler->addDelegates(replacement, "client");
    handler->addDelegates(removed, "other");
    handler->removeDelegate("other");
    EXPECT_EQ(handler->delegateCount(), 1u);

    handler->startObserving();
    settle();
    EXPECT_TRUE(replaced->reports.empty());
    EXPECT_TRUE(removed->reports.empty());
    EXPECT_EQ(replacement->reports, std::vector<bool>{true});
}

// Counts the blocks alive that were made through it: with allocate_shared the object and its
// control block share one block, freed only when the last weak reference is gone too.
int liveCountedBlocks = 0;  // one counter for every type the allocator is rebound to

template <class T>
struct CountingAllocator {
    using value_type = T;
    CountingAllocator() = default;
    template <class U>
    explicit CountingAllocator(const CountingAllocator<U>&) {}
    T* allocate(std::size_t n) {
        ++liveCountedBlocks;
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) {
        --liveCountedBlocks;
        std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    friend bool operator==(const CountingAllocator&, const CountingAllocator<U>&) {
        return true;
    }
};

TEST_F(NetworkReachabilityHandlerTest, DestroyedDelegatesHearNothingAndArePruned) {
    const int liveBefore = liveCountedBlocks;
    auto survivor = std::make_shared<RecordingDelegate>();
    auto gone = std::allocate_shared<RecordingDelegate>(CountingAllocator<RecordingDelegate>());
    auto releasedMidFanOut = std::make_shared<RecordingDelegate>();
    std::weak_ptr<RecordingDelegate> goneWatch = gone;
    handler->addDelegates(gone, "a-gone");
    // "b-releaser" is called before "c-released" and drops the last reference to it.
    auto releaser = std::make_shared<RecordingDelegate>();
    releaser->onReport = [&releasedMidFanOut] { releasedMidFanOut.reset(); };
    handler->addDelegates(releaser, "b-releaser");
    bool releasedWasCalled = false;
    releasedMidFanOut->onReport = [&releasedWasCalled] { releasedWasCalled = true; };
    handler->addDelegates(releasedMidFanOut, "c-released");
    handler->addDelegates(survivor, "d-survivor");

    gone.reset();
    EXPECT_TRUE(goneWatch.expired()) << "the handler must not keep a delegate alive";
    goneWatch.reset();
    EXPECT_EQ(handler->delegateCount(), 3u);
    EXPECT_EQ(liveCountedBlocks, liveBefore + 1)
        << "only the handler's entry still holds the dead delegate's block";

    handler->startObserving();
    settle();
    EXPECT_FALSE(releasedWasCalled);
    EXPECT_EQ(survivor->reports, std::vector<bool>{true});
    EXPECT_EQ(handler->delegateCount(), 2u);  // releaser and survivor
    EXPECT_EQ(liveCountedBlocks, liveBefore)
        << "the fan-out dropped the dead entry";
}

TEST_F(NetworkReachabilityHandlerTest, RestartReplacesTheMonitorAndReportsItsFirstState) {
    auto delegate = std::make_shared<RecordingDelegate>();
    handler->addDelegates(delegate, "client");
    handler->startObserving();
    settle();

    initialFlags = 0;
    handler->startObserving();
    settle();
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_FALSE(sources[0]->emit(F::reachable)) << "the replaced monitor stopped itself";
    sources[1]->emit(F::reachable);
    settle();
    EXPECT_EQ(delegate->reports, (std::vector<bool>{true, false, true}));

    failCreation = true;
    handler->startObserving();  // swallowed; the running monitor stays
    sources[1]->emit(0);
    settle();
    EXPECT_EQ(delegate->reports, (std::vector<bool>{true, false, true, false}));
}

// Delegates may change the registrations while they are told: the report in progress goes to
// the delegates registered when it started, the next one to those registered then.
TEST_F(NetworkReachabilityHandlerTest, DelegatesMayRegisterAndRemoveOthersWhileBeingTold) {
    auto changer = std::make_shared<RecordingDelegate>();
    auto removed = std::make_shared<RecordingDelegate>();
    auto added = std::make_shared<RecordingDelegate>();
    changer->onReport = [&] {
        handler->removeDelegate("removed");
        handler->addDelegates(added, "added");
    };
    handler->addDelegates(changer, "changer");
    handler->addDelegates(removed, "removed");
    handler->startObserving();
    settle();
    sources.back()->emit(0);
    settle();

    EXPECT_EQ(changer->reports, (std::vector<bool>{true, false}));
    EXPECT_EQ(removed->reports, (std::vector<bool>{true}));
    EXPECT_EQ(added->reports, (std::vector<bool>{false}));
}

}  // namespace
}  // namespace kr
