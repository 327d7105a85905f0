// Two and three clients meeting through the local meeting service (real HTTPS) and one shared
// stand-in media bus: what each hears of the others as they join, mute, share a screen, move to
// the audience and leave, all on the main queue and nothing after the leave.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/ClientTestDelegate.h"
#include "support/EngineTestDelegate.h"
#include "support/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/Media/ScreenShareBroadcast.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::EngineTestDelegate;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kPin = "4321";

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<EngineTestDelegate> delegate;
    std::string uid() const { return client->currentRoom().userWebRtcId; }
};

class KRClientEngineIntegrationTest : public ::testing::Test {
protected:
    ~KRClientEngineIntegrationTest() override { members.clear(); }

    Member& makeMember() {
        KRDependencies deps;
        deps.queue = main;
        deps.reachability = test::quietReachability();
        deps.storageDirectory = storage.path();
        deps.routing = service.routing();
        deps.mediaBus = bus;
        members.push_back({KRClient::create(deps), std::make_shared<EngineTestDelegate>(main)});
        return members.back();
    }

    Member& joined(KRUserRole role = KRUserRole::speaker()) {
        Member& member = makeMember();
        member.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, "Name"),
                                   KRJoinMeetingConfig(std::move(role), true, true),
                                   member.delegate);
        EXPECT_TRUE(main->runUntil(
            [&] {
                return !member.delegate->lines.empty() &&
                       member.delegate->lines.front().rfind("joined", 0) == 0;
            },
            10s));
        return member;
    }

    bool runUntil(const std::function<bool()>& done) { return main->runUntil(done, 10s); }

    void leave(Member& member) {
        main->post([&] { member.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
        EXPECT_TRUE(runUntil([&] { return member.delegate->has("left"); }));
    }

    std::shared_ptr<platform::MainQueue> main =
        platform::MainQueue::create(platform::SteadyClock::instance());
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::deque<Member> members;
};

TEST_F(KRClientEngineIntegrationTest, ThreeClientsHearEachOtherJoinMuteAndLeaveOnce) {
    Member& a = joined();
    Member& b = joined();
    Member& c = joined();
    ASSERT_NE(a.uid(), b.uid());
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("remote joined " + b.uid()) &&
               a.delegate->has("remote joined " + c.uid()) &&
               b.delegate->has("remote joined " + a.uid()) &&
               b.delegate->has("remote joined " + c.uid()) &&
               c.delegate->has("remote joined " + a.uid()) &&
               c.delegate->has("remote joined " + b.uid());
    }));
    main->runFor(300ms);  // a second report would come by now
    for (Member* m : {&a, &b, &c}) {
        for (Member* other : {&a, &b, &c}) {
            if (m == other) continue;
            EXPECT_EQ(m->delegate->count("remote joined " + other->uid()), 1u);
        }
        EXPECT_EQ(m->client->getMeetingUsers().size(), 3u);
        EXPECT_TRUE(m->client->hasConnectionCheckTimer());
    }

    // c switches the microphone off: the server hears it, c and whoever listens to c see it.
    main->post([&] { a.client->subscribeRemoteUserAudio(c.uid()); });
    main->runFor(100ms);
    main->post([&] { c.client->muteLocalAudio(true); });
    ASSERT_TRUE(runUntil([&] {
        return c.delegate->has("mic off") && a.delegate->has("remote mic " + c.uid() + " off");
    }));
    EXPECT_TRUE(c.client->currentRoom().isCurrentUserAudioMuted);
    ASSERT_TRUE(runUntil([&] { return service.requestCount(R::muteAudio) == 1; }));
    main->post([&] { c.client->muteLocalVideo(true); });
    ASSERT_TRUE(runUntil([&] {
        return c.delegate->has("camera off") && service.requestCount(R::muteVideo) == 1;
    }));

    leave(b);
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("remote left " + b.uid()) &&
               c.delegate->has("remote left " + b.uid());
    }));
    const std::size_t heardByB = b.delegate->lines.size();
    main->post([&] { c.client->muteLocalAudio(false); });
    main->runFor(300ms);
    EXPECT_EQ(b.delegate->lines.size(), heardByB);  // nothing after the leave
    EXPECT_EQ(b.delegate->count("left"), 1u);
    EXPECT_EQ(a.delegate->count("remote left " + b.uid()), 1u);
    EXPECT_EQ(a.client->getMeetingUsers().size(), 2u);
    EXPECT_FALSE(b.client->hasConnectionCheckTimer());
    EXPECT_TRUE(b.client->currentRoom().allMediaTracks.empty());
    for (Member* m : {&a, &b, &c}) EXPECT_EQ(m->delegate->offQueueCalls, 0);
}

TEST_F(KRClientEngineIntegrationTest, AScreenShareIsClassifiedAndItsStopAlwaysReported) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(runUntil([&] { return b.delegate->has("remote joined " + a.uid()); }));

    main->post([&] { a.client->shareScreenAPICall({}); });
    ASSERT_TRUE(runUntil([&] { return a.client->currentRoom().localScreenShareTrackUid != 0; }));
    const std::uint64_t shareUid = a.client->currentRoom().localScreenShareTrackUid;
    const std::size_t questionsBefore = service.requestCount(R::getRoomConnectionStatus);

    // The broadcast extension publishes the share as an engine of its own.
    test::ScreenShareBroadcast broadcast(bus, main);
    broadcast.start(a.client->currentRoom().roomID, shareUid);
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("local share started") && b.delegate->has("remote share started");
    }));
    // Neither had polled since the share began, so each asked the server once.
    EXPECT_EQ(service.requestCount(R::getRoomConnectionStatus), questionsBefore + 2);
    EXPECT_FALSE(b.delegate->has("remote joined " + std::to_string(shareUid)));
    EXPECT_EQ(b.delegate->tracksAtShareStart, 3u);
    ASSERT_FALSE(b.client->currentRoom().allMediaTracks.empty());
    EXPECT_EQ(b.client->currentRoom().allMediaTracks.front()->sourceType(),
              KRMediaTrackSourceType::screenShare);
    EXPECT_EQ(a.client->getMeetingLocalUser()->id(), a.uid());

    // Polling dropped the share's entry at b; its track still says what the uid is.
    main->post([&] { b.client->currentRoom().screenShareMetaData.clear(); });
    main->post([&] { broadcast.stop(); });
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("local share stopped") && b.delegate->has("remote share stopped");
    }));
    EXPECT_FALSE(b.delegate->has("remote left " + std::to_string(shareUid)));
    EXPECT_EQ(a.client->currentRoom().localScreenShareTrackUid, 0u);
    EXPECT_EQ(b.client->getMeetingUsers().size(), 2u);
    EXPECT_EQ(a.delegate->offQueueCalls + b.delegate->offQueueCalls, 0);
}

TEST_F(KRClientEngineIntegrationTest, ARoleChangeToTheAudienceIsHeardByBothSides) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote joined " + b.uid()); }));
    const std::size_t postsBefore = service.requestCount(R::postRoomConnectionStatus);
    main->post([&] { b.client->switchLocalUserRole(KRUserRole::audience()); });
    ASSERT_TRUE(runUntil([&] {
        return b.delegate->has("to audience") && a.delegate->has("remote to audience " + b.uid());
    }));
    EXPECT_TRUE(b.client->isLocalUserInAudienceMode());
    EXPECT_FALSE(b.client->getMeetingLocalUser()->isSpeaker());
    EXPECT_TRUE(b.client->currentRoom().isCurrentUserAudioMuted);
    ASSERT_TRUE(runUntil(
        [&] { return service.requestCount(R::postRoomConnectionStatus) > postsBefore; }));
    // The track stays: an audience member is still in the meeting.
    EXPECT_EQ(a.client->getMeetingUsers().size(), 2u);
    EXPECT_FALSE(a.client->getUser(b.uid())->isSpeaker());
    EXPECT_FALSE(a.delegate->has("remote left " + b.uid()));
}

TEST_F(KRClientEngineIntegrationTest, UnderHardMuteAJoiningParticipantStartsWithTheMicOff) {
    Member& host = joined(KRUserRole::host("host-token-1"));
    std::optional<bool> muted;
    main->post([&] { host.client->hardMuteUnmuteUsersAudio(true, [&](bool ok) { muted = ok; }); });
    ASSERT_TRUE(runUntil([&] { return muted.has_value(); }));
    ASSERT_TRUE(*muted);
    Member& guest = joined();
    ASSERT_TRUE(runUntil([&] { return guest.delegate->has("mic off"); }));
    EXPECT_TRUE(guest.client->currentRoom().isCurrentUserAudioMuted);
    EXPECT_TRUE(guest.client->rtcManager()->isLocalUserAudioMuted());
    EXPECT_TRUE(guest.client->getMeetingLocalUser()->audioTrack()->isMuted());
    EXPECT_FALSE(host.client->rtcManager()->isLocalUserAudioMuted());
}

TEST_F(KRClientEngineIntegrationTest, ALateAnswerAboutAStreamChangesNothing) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote joined " + b.uid()); }));
    service.injectFault(R::getRoomConnectionStatus, test::MeetingServiceFault::delayed(400ms));

    // A stream nobody knows: both ask the server, which answers late.
    test::ScreenShareBroadcast stranger(bus, main);
    stranger.start(a.client->currentRoom().roomID, 424242);
    ASSERT_TRUE(runUntil([&] {
        return a.client->pendingStreamQuestions().count(424242) == 1 &&
               b.client->pendingStreamQuestions().count(424242) == 1;
    }));
    // a leaves before the answer; at b the stream goes before the answer.
    main->post([&] { a.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("left"); }));
    main->post([&] { stranger.stop(); });
    main->runFor(1200ms);
    EXPECT_EQ(a.delegate->lines.back(), "left");
    EXPECT_FALSE(b.delegate->has("remote joined 424242"));
    EXPECT_FALSE(b.delegate->has("remote left 424242"));
    EXPECT_TRUE(b.client->pendingStreamQuestions().empty());
    EXPECT_TRUE(a.client->currentRoom().allMediaTracks.empty());
}

TEST_F(KRClientEngineIntegrationTest, AClientDestroyedWhileItsMediaJoinIsUnderWayLeavesQuietly) {
    Member& a = joined();
    Member& b = makeMember();
    b.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, "Name"),
                          KRJoinMeetingConfig(KRUserRole::speaker(), true, true), b.delegate);
    ASSERT_TRUE(runUntil([&] { return b.client->isAwaitingMediaJoin(); }));
    std::weak_ptr<KRClient> gone = b.client;
    b.client.reset();
    EXPECT_TRUE(gone.expired());
    main->runFor(300ms);
    EXPECT_TRUE(b.delegate->lines.empty());
    EXPECT_EQ(a.delegate->offQueueCalls, 0);
}

}  // namespace
}  // namespace kr
