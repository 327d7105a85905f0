#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
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

    // Runs the main queue until `count` reports reached `delegate`, plus a little for extras.
    void settle(const RecordingDelegate& delegate, std::size_t count) {
        main->runUntil([&] { return delegate.reports.size() >= count; },
                              std::chrono::seconds(5));
        main->runFor(std::chrono::milliseconds(20));
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
    settle(*second, 1);

    sources.back()->emit(F::reachable | F::isDirect);  // still Wi-Fi: reported again
    settle(*second, 2);
    sources.back()->emit(0);
    settle(*second, 3);
    sources.back()->emit(F::reachable | F::isWWAN);  // cellular counts as connected
    settle(*second, 4);

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
    settle(*replacement, 1);
    EXPECT_TRUE(replaced->reports.empty());
    EXPECT_TRUE(removed->reports.empty());
    EXPECT_EQ(replacement->reports, std::vector<bool>{true});
}

TEST_F(NetworkReachabilityHandlerTest, DestroyedDelegatesHearNothingAndArePruned) {
    auto survivor = std::make_shared<RecordingDelegate>();
    auto gone = std::make_shared<RecordingDelegate>();
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
    EXPECT_EQ(handler->delegateCount(), 3u);

    handler->startObserving();
    settle(*survivor, 1);
    EXPECT_FALSE(releasedWasCalled);
    EXPECT_EQ(survivor->reports, std::vector<bool>{true});
    EXPECT_EQ(handler->delegateCount(), 2u);  // releaser and survivor
}

TEST_F(NetworkReachabilityHandlerTest, RestartReplacesTheMonitorAndReportsItsFirstState) {
    auto delegate = std::make_shared<RecordingDelegate>();
    handler->addDelegates(delegate, "client");
    handler->startObserving();
    settle(*delegate, 1);

    initialFlags = 0;
    handler->startObserving();
    settle(*delegate, 2);
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_FALSE(sources[0]->emit(F::reachable)) << "the replaced monitor stopped itself";
    sources[1]->emit(F::reachable);
    settle(*delegate, 3);
    EXPECT_EQ(delegate->reports, (std::vector<bool>{true, false, true}));

    failCreation = true;
    handler->startObserving();  // swallowed; the running monitor stays
    sources[1]->emit(0);
    settle(*delegate, 4);
    EXPECT_EQ(delegate->reports, (std::vector<bool>{true, false, true, false}));
}

TEST_F(NetworkReachabilityHandlerTest, RegistrationFromOtherThreadsDuringFanOutIsSafe) {
    auto steady = std::make_shared<RecordingDelegate>();
    handler->addDelegates(steady, "steady");
    handler->startObserving();
    settle(*steady, 1);

    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                auto transient = std::make_shared<RecordingDelegate>();
                const std::string id = std::to_string(t) + "-" + std::to_string(i % 7);
                handler->addDelegates(transient, id);
                if (i % 3 == 0) {
                    handler->removeDelegate(id);
                }
                (void)handler->delegateCount();
            }
        });
    }
    std::thread flipper([&] {
        for (int i = 0; i < 100 && !done; ++i) {
            sources.back()->emit(i % 2 == 0 ? 0 : F::reachable);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    main->runFor(std::chrono::milliseconds(100));
    for (auto& thread : threads) {
        thread.join();
    }
    done = true;
    flipper.join();
    main->runFor(std::chrono::milliseconds(50));
    EXPECT_GT(steady->reports.size(), 1u);
    EXPECT_EQ(handler->delegateCount(), 1u) << "every transient delegate died";
}

}  // namespace
}  // namespace kr
