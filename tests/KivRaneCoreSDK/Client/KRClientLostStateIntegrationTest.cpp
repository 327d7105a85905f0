// Local state the meeting service did not take, as a host app lives it: clients on the local
// meeting service (real HTTPS) with the main queue on a manual clock, so that the back-off's
// waits pass only when the test says so, while the service refuses the status posts.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Common/RetryBackOff.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingOperation.h"
#include "platform/Messaging/MessagingService.h"
#include "support/LocalMeetingDependencies.h"
#include "testing/KRClientTestSeam.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/QuietReachability.h"
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::MeetingServiceFault;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kPin = "4321";
constexpr const char* kHostToken = "host-token-1";

/// Counts the reports a host app would show.
class Reports : public KRClientDelegate {
public:
    int joined = 0;
    int left = 0;
    int allHandsLowered = 0;
    std::deque<std::string> remoteHands;  ///< "<id> up" / "<id> down", in order

    void didLocalUserJoinedMeeting(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        ++joined;
    }
    void didLocalUserLeftMeeting(const KRMeeting&, const KRUserLeftReason&) override { ++left; }
    void didRemoteUserHandRaiseStatusUpdated(const KRMeeting&,
                                             const std::shared_ptr<KRMeetingUser>& user,
                                             bool raised) override {
        remoteHands.push_back(user->id() + (raised ? " up" : " down"));
    }
    void didHostLowerAllHands(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        ++allHandsLowered;
    }
};

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<Reports> reports;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

class KRClientLostStateIntegrationTest : public ::testing::Test {
protected:
    ~KRClientLostStateIntegrationTest() override { members.clear(); }

    Member& joined(KRUserRole role = KRUserRole::speaker()) {
        KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
        members.push_back({KRClient::create(deps), std::make_shared<Reports>()});
        Member& member = members.back();
        join(member, std::move(role));
        return member;
    }

    void join(Member& member, KRUserRole role = KRUserRole::speaker()) {
        const int before = member.reports->joined;
        member.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, "Name"),
                                   KRJoinMeetingConfig(std::move(role), true, true),
                                   member.reports);
        EXPECT_TRUE(main->runUntil([&] { return member.reports->joined > before; }, 10s));
        main->runFor(200ms);  // the join's own status calls are answered
    }

    void leave(Member& member) {
        const int before = member.reports->left;
        member.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        EXPECT_TRUE(main->runUntil([&] { return member.reports->left > before; }, 10s));
    }

    /// The status posts that carry the whole local state (a poll's carries the connection alone).
    std::size_t fullStatePosts() const {
        const auto posts = service.requests(R::postRoomConnectionStatus);
        return static_cast<std::size_t>(
            std::count_if(posts.begin(), posts.end(), [](const test::RecordedRequest& r) {
                return r.body.find("\"isHandRaise\"") != std::string::npos;
            }));
    }

    /// Moves the clock on and lets the calls that fall due reach the service and come back.
    void advance(platform::Clock::duration by) {
        clock->advance(by);
        main->runPending();
        main->runFor(100ms);
    }

    /// Once the faults are cleared: true when `member`'s hand reaches the service within two
    /// moves of the clock by `wait`. A try on its way at the clearing may come back refused only
    /// after the first move, and schedules the next one then: the second move sends it. A client
    /// that needs more waits than that misses it.
    bool handPostedAgain(const Member& member, platform::Clock::duration wait) {
        for (int moves = 0; moves < 2; ++moves) {
            advance(wait);
            if (main->runUntil([&] { return handAtService(member); }, 5s)) return true;
        }
        return false;
    }

    /// `a` raises a hand while the service drops every status post; returns once the post is
    /// lost.
    void raiseHandWhilePostsAreLost(Member& a) {
        service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::dropConnection());
        const std::size_t before = fullStatePosts();
        a.client->raiseHand();
        ASSERT_TRUE(main->runUntil([&] { return fullStatePosts() > before; }, 5s));
        main->runFor(200ms);  // the lost post comes back as lost
    }

    /// Lets `tries` tries of the lost state fail, each after the longest wait it may have.
    /// `a` leaves and joins again; its first mute there is lost: true when it reaches the service
    /// after the first wait of the back-off.
    bool muteLostInTheNextMeetingArrivesAfterOneWait(Member& a) {
        leave(a);
        join(a);
        service.injectFault(R::muteAudio, MeetingServiceFault::dropConnection());
        const std::size_t mutes = service.requestCount(R::muteAudio);
        a.client->muteLocalAudio(true);
        if (!main->runUntil([&] { return service.requestCount(R::muteAudio) > mutes; }, 5s)) {
            return false;
        }
        main->runFor(200ms);  // the lost mute comes back as lost
        advance(RetryBackOff::ceiling(1));
        return main->runUntil(
            [&] {
                const auto record = service.participant(kMeetingId, a.uid());
                return record && !record->isMicOn;
            },
            4s);
    }
    void failTries(int tries) {
        for (int step = 1; step <= tries; ++step) {
            const std::size_t before = fullStatePosts();
            advance(RetryBackOff::ceiling(step));
            ASSERT_TRUE(main->runUntil([&] { return fullStatePosts() > before; }, 5s));
            main->runFor(100ms);  // its failure comes back
        }
    }

    /// `member` asks for the room's status; true once the reply was applied.
    bool statusReplied(Member& member) {
        std::optional<bool> answered;
        internals(member.client).roomSync().fetchRoomStatus([&](bool ok) { answered = ok; });
        return main->runUntil([&] { return answered.has_value(); }, 5s) && *answered;
    }

    /// The hand `viewer`'s client shows for `other`.
    static bool handShown(const Member& viewer, const Member& other) {
        const auto user = viewer.client->getUser(other.uid());
        return user && user->isHandRaised();
    }

    bool handAtService(const Member& member) const {
        const auto record = service.participant(kMeetingId, member.uid());
        return record && record->isHandRaised;
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::deque<Member> members;
};

TEST_F(KRClientLostStateIntegrationTest, AHandRaisedWhileTheServiceRefusesPostsIsHeardOnce) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(main->runUntil([&] { return b.client->getUser(a.uid()) != nullptr; }, 10s));
    struct Case {
        const char* name;
        bool messageFails;
    };
    for (const Case c : {Case{"the message goes out", false}, Case{"its send fails", true}}) {
        SCOPED_TRACE(c.name);
        b.reports->remoteHands.clear();
        if (c.messageFails) {
            messaging->failNext(platform::MessagingOperation::sendChannelMessage, 1, a.uid());
        }
        raiseHandWhilePostsAreLost(a);
        service.clearFaults();
        ASSERT_TRUE(handPostedAgain(a, RetryBackOff::ceiling(1)));
        main->runFor(300ms);  // a second message would arrive by now
        // A failed message is not sent again: b has the hand from its next reply, which tells
        // nothing more after a message that went out.
        ASSERT_TRUE(statusReplied(b));
        EXPECT_EQ(b.reports->remoteHands, std::deque<std::string>{a.uid() + " up"});
        a.client->lowerHand();
        ASSERT_TRUE(main->runUntil([&] { return !handAtService(a); }, 5s));
        // The next case starts once b heard the hand go down, so no report of this one lands in it.
        ASSERT_TRUE(main->runUntil(
            [&] {
                return !b.reports->remoteHands.empty() &&
                       b.reports->remoteHands.back() == a.uid() + " down";
            },
            5s));
    }
}

TEST_F(KRClientLostStateIntegrationTest, AHandTheServiceLacksReachesTheOthersOnceItTakesIt) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(main->runUntil([&] { return b.client->getUser(a.uid()) != nullptr; }, 10s));
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    const std::size_t posts = fullStatePosts();
    a.client->raiseHand();
    ASSERT_TRUE(main->runUntil([&] { return fullStatePosts() > posts; }, 5s));
    main->runFor(300ms);  // the failed post comes back, and a message would arrive by now
    // b's status replies come from a service that never got the raise.
    for (int reply = 0; reply < 5; ++reply) {
        ASSERT_TRUE(statusReplied(b));
        ASSERT_FALSE(handAtService(a));
        EXPECT_FALSE(handShown(b, a)) << "after reply " << reply;
    }
    EXPECT_TRUE(b.reports->remoteHands.empty());

    // The service takes a's state again: b hears the hand, and its next reply shows it.
    service.clearFaults();
    ASSERT_TRUE(handPostedAgain(a, RetryBackOff::ceiling(1)));
    ASSERT_TRUE(main->runUntil([&] { return !b.reports->remoteHands.empty(); }, 5s));
    ASSERT_TRUE(statusReplied(b));
    EXPECT_TRUE(handShown(b, a));

    a.client->lowerHand();
    ASSERT_TRUE(main->runUntil([&] { return !handAtService(a); }, 5s));
    ASSERT_TRUE(main->runUntil([&] { return b.reports->remoteHands.size() >= 2; }, 5s));
    ASSERT_TRUE(statusReplied(b));
    EXPECT_FALSE(handShown(b, a));
    main->runFor(200ms);  // a second report would arrive by now
    EXPECT_EQ(b.reports->remoteHands,
              (std::deque<std::string>{a.uid() + " up", a.uid() + " down"}));
}

TEST_F(KRClientLostStateIntegrationTest, AHostsLowerAllHandsYieldsToTheServiceStillShowingTheHand) {
    Member& host = joined(KRUserRole::host(kHostToken));
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(main->runUntil([&] { return b.client->getUser(a.uid()) != nullptr; }, 10s));
    a.client->raiseHand();
    ASSERT_TRUE(
        main->runUntil([&] { return handAtService(a) && !b.reports->remoteHands.empty(); }, 5s));
    ASSERT_TRUE(statusReplied(b));  // the service shows the hand: nothing held any more
    ASSERT_TRUE(handShown(b, a));

    // The service agrees to lower every hand but does not get to it, and a's own post of her
    // lowered hand does not reach it either.
    service.injectFault(R::hostActions,
                        MeetingServiceFault::withStatus(200, R"({"success": true})").times(1));
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    std::optional<bool> lowered;
    host.client->lowerAllUsersHands([&](bool ok) { lowered = ok; });
    ASSERT_TRUE(main->runUntil(
        [&] { return lowered.value_or(false) && b.reports->allHandsLowered == 1; }, 5s));
    // Every reply asked after the lower-all is the service's word: b shows the hand again, told
    // once.
    for (int reply = 0; reply < 3; ++reply) {
        ASSERT_TRUE(statusReplied(b));
        ASSERT_TRUE(handAtService(a));
        EXPECT_TRUE(handShown(b, a)) << "after reply " << reply;
    }
    EXPECT_EQ(b.reports->remoteHands, (std::deque<std::string>{a.uid() + " up", a.uid() + " up"}));

    // a's own raise, whose post fails as well, tells b nothing more.
    a.client->raiseHand();
    ASSERT_TRUE(main->runUntil([&] { return b.reports->remoteHands.size() >= 2; }, 5s));
    ASSERT_TRUE(statusReplied(b));
    EXPECT_TRUE(handShown(b, a));
    main->runFor(200ms);
    EXPECT_EQ(b.reports->remoteHands, (std::deque<std::string>{a.uid() + " up", a.uid() + " up"}));
}

TEST_F(KRClientLostStateIntegrationTest, ALostHandGoesOutOnceACallSucceedsNotAfterItsWait) {
    Member& a = joined();
    raiseHandWhilePostsAreLost(a);
    failTries(3);  // the next wait is 4 to 8 s
    service.clearFaults();
    advance(1s);
    ASSERT_FALSE(handAtService(a));
    // The service is back: the microphone's change gets through, and the hand right after.
    a.client->muteLocalAudio(true);
    EXPECT_TRUE(main->runUntil([&] { return handAtService(a); }, 5s));
}

TEST_F(KRClientLostStateIntegrationTest, TheNextMeetingsFirstRetryIsNotHeldByTheEndedMeetingsWait) {
    Member& a = joined();
    raiseHandWhilePostsAreLost(a);
    failTries(4);  // the next wait is 8 to 16 s
    service.clearFaults();
    EXPECT_TRUE(muteLostInTheNextMeetingArrivesAfterOneWait(a));
}

TEST_F(KRClientLostStateIntegrationTest, AFlappingNetworkDoesNotTurnTheBackOffIntoAStorm) {
    Member& a = joined();
    const std::size_t before = fullStatePosts();
    raiseHandWhilePostsAreLost(a);
    // 40 s of refusals with the network one second off, one second on.
    for (int second = 0; second < 40; ++second) {
        internals(a.client).networkClient()->didNetworkStateChanged(second % 2 == 1);
        main->runPending();
        for (int half = 0; half < 2; ++half) {
            clock->advance(500ms);
            main->runPending();
            main->runFor(50ms);
        }
    }
    internals(a.client).networkClient()->didNetworkStateChanged(true);
    main->runFor(200ms);
    // About 1, 2, 4, 8, 16 s apart (and one at the poll that found the service answering).
    EXPECT_LE(fullStatePosts() - before, 9u);
    EXPECT_GE(fullStatePosts() - before, 3u);
    service.clearFaults();
    EXPECT_TRUE(handPostedAgain(a, RetryBackOff::kMaxDelay));
}

TEST_F(KRClientLostStateIntegrationTest, AnsweredFetchesWhilePostsAreRefusedCutTheWaitOnce) {
    Member& a = joined();
    raiseHandWhilePostsAreLost(a);
    const std::size_t before = fullStatePosts();
    // The first answered fetch sends the lost hand at once: the clock stands still, far from
    // the back-off's first wait.
    internals(a.client).roomSync().fetchRoomStatus({});
    ASSERT_TRUE(main->runUntil([&] { return fullStatePosts() > before; }, 5s));
    // Room news makes the client fetch often; the fetches are answered, the posts are not.
    for (int i = 1; i < 20; ++i) {
        internals(a.client).roomSync().fetchRoomStatus({});
        main->runFor(50ms);
        clock->advance(100ms);
        main->runPending();
    }
    // One try at the first answer and at most the back-off's own within these 2 s; one post per
    // fetch made 20.
    EXPECT_LE(fullStatePosts() - before, 3u);
    service.clearFaults();
    EXPECT_TRUE(handPostedAgain(a, RetryBackOff::kMaxDelay));
}

TEST_F(KRClientLostStateIntegrationTest, AnEndedMeetingsPostOnItsWayDoesNotHoldTheNextMeetings) {
    Member& a = joined();
    raiseHandWhilePostsAreLost(a);
    service.clearFaults();
    // The ended meeting's try of the whole state is held by the service for 8 s.
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::delayed(8s).times(1));
    const std::size_t before = fullStatePosts();
    advance(RetryBackOff::ceiling(1));
    ASSERT_TRUE(main->runUntil([&] { return fullStatePosts() > before; }, 5s));
    EXPECT_TRUE(muteLostInTheNextMeetingArrivesAfterOneWait(a));
}

}  // namespace
}  // namespace kr
