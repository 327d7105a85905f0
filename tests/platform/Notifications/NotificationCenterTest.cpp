#include "platform/Notifications/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/Notifications/DarwinNotifyCenter.h"

namespace kr::platform {
namespace {

TEST(NotificationCenterTest, DeliversByNameAndSenderFilter) {
    const int senderA = 0;
    const int senderB = 0;
    struct Case {
        const char* observedName;
        const void* observedSender;
        const char* postedName;
        const void* postedSender;
        bool delivered;
    };
    const Case cases[] = {
        {"reachabilityChanged", nullptr, "reachabilityChanged", nullptr, true},
        {"reachabilityChanged", nullptr, "reachabilityChanged", &senderA, true},
        {"reachabilityChanged", &senderA, "reachabilityChanged", &senderA, true},
        {"reachabilityChanged", &senderA, "reachabilityChanged", &senderB, false},
        {"reachabilityChanged", &senderA, "reachabilityChanged", nullptr, false},
        {"reachabilityChanged", nullptr, "reachabilitychanged", nullptr, false},
        {"", nullptr, "anything", &senderB, true},
    };
    for (const Case& c : cases) {
        NotificationCenter center;
        int calls = 0;
        center.addObserver(c.observedName, c.observedSender, [&](const Notification&) { ++calls; });
        center.post(c.postedName, c.postedSender);
        EXPECT_EQ(calls, c.delivered ? 1 : 0)
            << c.observedName << " / " << c.postedName << " / " << (c.observedSender != nullptr);
    }
}

TEST(NotificationCenterTest, PassesNameSenderAndUserInfoInRegistrationOrder) {
    NotificationCenter center;
    const int sender = 0;
    std::vector<std::string> seen;
    center.addObserver("kr_client_rtm_message_recieved", [&](const Notification& n) {
        EXPECT_EQ(n.object, &sender);
        seen.push_back("first:" + std::string(n.userInfo.at("message").as_string()));
    });
    center.addObserver("kr_client_rtm_message_recieved", [&](const Notification& n) {
        seen.push_back("second:" + std::string(n.name));
    });
    center.post("kr_client_rtm_message_recieved", &sender, {{"message", "hi"}});
    EXPECT_EQ(seen,
              (std::vector<std::string>{"first:hi", "second:kr_client_rtm_message_recieved"}));
}

TEST(NotificationCenterTest, RemovalDuringDeliveryIsSafeAndSticks) {
    NotificationCenter center;
    std::vector<std::string> seen;
    ObserverToken second = 0;
    ObserverToken first = 0;
    first = center.addObserver("n", [&](const Notification&) {
        seen.push_back("first");
        center.removeObserver(first);   // itself
        center.removeObserver(second);  // a later observer of the same post
    });
    second = center.addObserver("n", [&](const Notification&) { seen.push_back("second"); });
    center.addObserver("n", [&](const Notification&) {
        seen.push_back("third");
        // Added during delivery: not part of this post's snapshot.
        center.addObserver("n", [&](const Notification&) { seen.push_back("late"); });
    });

    center.post("n");
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "third"}));

    seen.clear();
    center.removeObserver(second);  // already gone: ignored
    center.removeObserver(0);
    center.post("n");
    EXPECT_EQ(seen, (std::vector<std::string>{"third", "late"}));
}

TEST(NotificationCenterTest, ObserverMayPostReentrantly) {
    NotificationCenter center;
    int inner = 0;
    center.addObserver("outer", [&](const Notification&) { center.post("inner"); });
    center.addObserver("inner", [&](const Notification&) { ++inner; });
    center.post("outer");
    EXPECT_EQ(inner, 1);
}

TEST(NotificationCenterTest, ConcurrentPostsAndRegistrations) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    std::atomic<bool> stop{false};
    const ObserverToken stable =
        center.addObserver("tick", [&](const Notification&) { delivered.fetch_add(1); });

    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                center.post("tick", nullptr, {{"i", i}});
            }
        });
    }
    threads.emplace_back([&] {
        while (!stop.load()) {
            const ObserverToken churn = center.addObserver("tick", [](const Notification&) {});
            center.removeObserver(churn);
        }
    });
    for (int t = 0; t < 3; ++t) {
        threads[static_cast<std::size_t>(t)].join();
    }
    stop = true;
    threads.back().join();

    EXPECT_EQ(delivered.load(), 6000);
    center.removeObserver(stable);
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(DarwinNotifyCenterTest, DeliversNamesOnlyToMatchingObservers) {
    DarwinNotifyCenter center;
    std::vector<std::string> seen;
    const ObserverToken stop =
        center.addObserver("kr.darwin.screenshare.force.stop.screen.share",
                           [&](const std::string& name) { seen.push_back(name); });
    center.addObserver("other", [&](const std::string& name) { seen.push_back(name); });

    center.post("kr.darwin.screenshare.force.stop.screen.share");
    center.post("");  // no name, no notification (an empty name must not reach every observer)
    center.removeObserver(stop);
    center.post("kr.darwin.screenshare.force.stop.screen.share");
    center.post("other");

    EXPECT_EQ(seen,
              (std::vector<std::string>{"kr.darwin.screenshare.force.stop.screen.share", "other"}));
}

}  // namespace
}  // namespace kr::platform
