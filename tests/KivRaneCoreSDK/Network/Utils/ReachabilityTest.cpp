#include "KivRaneCoreSDK/Network/Utils/Reachability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "support/FakeReachabilityFlagSource.h"

namespace kr {
namespace {

using Connection = Reachability::Connection;
using F = ReachabilityFlags;

struct MappingCase {
    std::uint32_t bits;
    Connection expected;
    const char* text;
};

TEST(ReachabilityTest, FlagsMapToLinkKindAndText) {
    const MappingCase cases[] = {
        {0, Connection::unavailable, "-- -------"},
        {F::connectionRequired | F::isWWAN | F::isDirect, Connection::unavailable, "W- c-----d"},
        {F::reachable, Connection::wifi, "-R -------"},
        {F::reachable | F::connectionRequired, Connection::unavailable, "-R c------"},
        {F::reachable | F::connectionRequired | F::connectionOnDemand | F::interventionRequired,
         Connection::unavailable, "-R c-i-D--"},
        {F::reachable | F::connectionRequired | F::connectionOnDemand, Connection::wifi,
         "-R c---D--"},
        {F::reachable | F::connectionRequired | F::connectionOnTraffic, Connection::wifi,
         "-R c--C---"},
        {F::reachable | F::isWWAN, Connection::cellular, "WR -------"},
        {F::reachable | F::connectionRequired | F::isWWAN, Connection::cellular, "WR c------"},
        {F::reachable | F::transientConnection | F::isLocalAddress, Connection::wifi, "-R -t---l-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Reachability::connection(F{c.bits}), c.expected);
        EXPECT_EQ(F{c.bits}.description(), c.text);
    }
    EXPECT_EQ(Reachability::description(Connection::unavailable), "No Connection");
    EXPECT_EQ(Reachability::description(Connection::wifi), "WiFi");
    EXPECT_EQ(Reachability::description(Connection::cellular), "Cellular");
}

// A monitor over a fake source, announcing on a main queue of the test's own, with a private
// notification centre that records every change notification.
class ReachabilityMonitorTest : public ::testing::Test {
protected:
    ReachabilityMonitorTest() {
        source->setCurrentFlags(F::reachable);
        monitor->setNotificationCenter(center);
        center.addObserver(std::string(kReachabilityChangedNotification),
                           [this](const platform::Notification& note) {
                               EXPECT_EQ(note.object, monitor.get());
                               connections.push_back(monitor->connection());
                           });
        monitor->setWhenReachable([this](Reachability&) { listenerCalls.push_back("reachable"); });
        monitor->setWhenUnreachable(
            [this](Reachability&) { listenerCalls.push_back("unreachable"); });
    }

    // Delivers an emitted change through the monitor's serial queue to the main queue.
    void emitAndSettle(std::uint32_t bits, std::size_t expectedNotifications) {
        ASSERT_TRUE(source->emit(bits));
        settle(expectedNotifications);
    }
    void settle(std::size_t expectedNotifications) {
        // Every delivery has run through the serial queue and the main queue afterwards, so an
        // extra notification would be here too.
        source->drain();
        while (main->runPending() > 0) {
        }
        EXPECT_EQ(connections.size(), expectedNotifications);
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    platform::NotificationCenter center;
    std::shared_ptr<test::FakeReachabilityFlagSource> source =
        std::make_shared<test::FakeReachabilityFlagSource>();
    std::shared_ptr<Reachability> monitor = Reachability::create(source, main);
    std::vector<Connection> connections;
    std::vector<std::string> listenerCalls;
};

TEST_F(ReachabilityMonitorTest, StartAnnouncesFirstFlagsOnceAndEveryBitChangeAfter) {
    ASSERT_TRUE(monitor->startNotifier().ok());
    EXPECT_TRUE(monitor->notifierRunning());
    EXPECT_TRUE(connections.empty()) << "announced asynchronously on the notification queue";
    settle(1);
    EXPECT_EQ(connections, std::vector<Connection>{Connection::wifi});

    ASSERT_TRUE(monitor->startNotifier().ok());  // already running: no second read
    EXPECT_EQ(source->getFlagsCalls(), 1);

    emitAndSettle(F::reachable, 1);  // same bits: nothing
    EXPECT_EQ(connections.size(), 1u);
    emitAndSettle(F::reachable | F::isDirect, 2);  // same link kind, another bit
    emitAndSettle(0, 3);
    EXPECT_EQ(connections, (std::vector<Connection>{Connection::wifi, Connection::wifi,
                                                    Connection::unavailable}));
    EXPECT_EQ(listenerCalls, (std::vector<std::string>{"reachable", "reachable", "unreachable"}));
    EXPECT_EQ(monitor->description(), "-- -------");
}

// The system's watcher runs a thread of its own: it is handed the monitor's queue and only posts
// there, so the flags are stored and every report is made by tasks of that queue.
TEST_F(ReachabilityMonitorTest, ChangesSeenOnTheWatcherThreadAreHandledOnTheMonitorsQueue) {
    ASSERT_TRUE(monitor->startNotifier().ok());
    EXPECT_EQ(source->deliveryQueue(), main);
    settle(1);
    std::vector<bool> onQueue;
    monitor->setWhenUnreachable([&](Reachability&) { onQueue.push_back(main->isCurrent()); });
    std::thread watcher([&] { EXPECT_TRUE(source->emit(0)); });
    watcher.join();
    EXPECT_EQ(monitor->flags(), F{F::reachable}) << "nothing is stored before the queue runs";
    settle(2);
    EXPECT_EQ(monitor->flags(), F{0});
    EXPECT_EQ(onQueue, std::vector<bool>{true});
}

TEST_F(ReachabilityMonitorTest, CellularCountsAsUnavailableWhenNotAllowed) {
    source->setCurrentFlags(F::reachable | F::isWWAN);
    EXPECT_EQ(monitor->connection(), Connection::cellular);
    EXPECT_TRUE(monitor->isReachableViaWWAN());
    monitor->setAllowsCellularConnection(false);
    EXPECT_EQ(monitor->connection(), Connection::unavailable);
    EXPECT_EQ(monitor->currentReachabilityString(), "No Connection");
    settle(1);
    EXPECT_EQ(listenerCalls, std::vector<std::string>{"unreachable"});
}

TEST_F(ReachabilityMonitorTest, ReadingConnectionOfAStoppedMonitorReadsAndAnnounces) {
    EXPECT_EQ(monitor->description(), "unavailable flags");
    EXPECT_EQ(monitor->connection(), Connection::wifi);
    EXPECT_FALSE(monitor->notifierRunning());
    settle(1);
    EXPECT_EQ(connections, std::vector<Connection>{Connection::wifi});
}

TEST_F(ReachabilityMonitorTest, FailedStartsLeaveTheMonitorStoppedAndCleared) {
    struct Case {
        const char* name;
        void (test::FakeReachabilityFlagSource::*inject)(std::optional<std::int32_t>);
        ReachabilityError::Kind kind;
    };
    const Case cases[] = {
        {"callback", &test::FakeReachabilityFlagSource::failSetCallback,
         ReachabilityError::Kind::unableToSetCallback},
        {"queue", &test::FakeReachabilityFlagSource::failSetDispatchQueue,
         ReachabilityError::Kind::unableToSetDispatchQueue},
        {"flags", &test::FakeReachabilityFlagSource::failGetFlags,
         ReachabilityError::Kind::unableToGetFlags},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ((*source).*c.inject)(7);
        auto started = monitor->startNotifier();
        ASSERT_FALSE(started.ok());
        EXPECT_EQ(started.error().kind, c.kind);
        EXPECT_EQ(started.error().code, 7);
        EXPECT_FALSE(monitor->notifierRunning());
        EXPECT_FALSE(source->hasCallback());
        EXPECT_FALSE(source->hasQueue());
        ((*source).*c.inject)(std::nullopt);
    }
    EXPECT_EQ(monitor->connection(), Connection::wifi);  // a later read still works
}

TEST_F(ReachabilityMonitorTest, StopEndsDeliveryAndALateDeliveryToAReleasedMonitorDoesNothing) {
    ASSERT_TRUE(monitor->startNotifier().ok());
    settle(1);
    monitor->stopNotifier();
    EXPECT_FALSE(source->emit(0));
    ASSERT_TRUE(monitor->startNotifier().ok());  // restartable
    ASSERT_TRUE(source->emit(0));                // queued for delivery on the serial queue...
    monitor.reset();                             // ...but the monitor is gone first
    settle(1);
}

}  // namespace
}  // namespace kr
