#include "platform/Reachability/NetlinkReachability.h"

#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "KivRaneCoreSDK/Network/Utils/Reachability.h"
#include "platform/Dispatch/MainQueue.h"

namespace kr::platform {
namespace {

// Against the machine's real routing state: whatever it is, it must be read consistently.
TEST(NetlinkReachabilityIntegrationTest, DumpsTheKernelStateAndReadsAConsistentVerdict) {
    auto snapshot = NetlinkReachability::dump();
    ASSERT_TRUE(snapshot.ok()) << "errno " << snapshot.error();
    const auto& links = snapshot.value().links;
    EXPECT_TRUE(std::any_of(links.begin(), links.end(), [](const auto& link) {
        return link.name == "lo" && (link.flags & IFF_LOOPBACK) != 0;
    }));

    auto system = NetlinkReachability::create();
    ASSERT_TRUE(system.ok());
    auto state = system.value()->read();
    ASSERT_TRUE(state.ok());
    if (state.value().reachable) {
        const auto& name = state.value().interfaceName;
        EXPECT_TRUE(std::any_of(links.begin(), links.end(),
                                [&](const auto& link) { return link.name == name; }));
        EXPECT_NE(name, "lo");
    } else {
        EXPECT_TRUE(state.value().interfaceName.empty());
    }
}

TEST(NetlinkReachabilityIntegrationTest, SystemMonitorStartsAnnouncesOnceAndStops) {
    auto main = MainQueue::create();
    auto made = Reachability::create(main);
    ASSERT_TRUE(made.ok()) << made.error().describe();
    auto monitor = made.value();
    NotificationCenter center;
    monitor->setNotificationCenter(center);
    int notifications = 0;
    center.addObserver(std::string(kReachabilityChangedNotification), monitor.get(),
                       [&](const Notification&) { ++notifications; });

    ASSERT_TRUE(monitor->startNotifier().ok());
    EXPECT_TRUE(main->runUntil([&] { return notifications == 1; }, std::chrono::seconds(5)));
    ASSERT_TRUE(monitor->flags().has_value());
    const auto bits = monitor->flags()->bits;
    EXPECT_EQ(bits & ~(ReachabilityFlags::reachable | ReachabilityFlags::isWWAN), 0u);
    for (int i = 0; i < 5; ++i) {  // restarts never hang or leak the watcher
        monitor->stopNotifier();
        ASSERT_TRUE(monitor->startNotifier().ok());
    }
    monitor->stopNotifier();
    EXPECT_FALSE(monitor->notifierRunning());
}

}  // namespace
}  // namespace kr::platform
