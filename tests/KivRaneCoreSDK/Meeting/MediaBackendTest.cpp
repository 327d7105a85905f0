// The client drives the media backend its join picked: a recording stand-in takes the backend's
// place (the road without server calls, on a manual clock), and the test plays the engine's
// reports of the channel joined and left.

#include "KivRaneCoreSDK/Meeting/MediaBackend.h"

#include <gtest/gtest.h>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "support/EngineTestDelegate.h"
#include "support/FakeMediaBackend.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using Kind = MediaBackend::Kind;
using Lines = std::vector<std::string>;
using test::FakeMediaBackend;

class MediaBackendTest : public ::testing::Test {
public:
    /// Every following join gets a new stand-in, kept here in the order made.
    void useFakes() { test::recordBackends(*client, made); }

    void startJoin() {
        client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), main);
        queue->runPending();
    }

    /// The backend reports the local user in the channel.
    void confirmJoin() {
        internals(client).completeLocalMediaJoin(std::nullopt, 42);
        queue->runPending();
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<test::EngineTestDelegate> main =
        std::make_shared<test::EngineTestDelegate>(queue);
    std::shared_ptr<KRClient> client = test::makeClientWithMediaCredentials(queue, bus);
    std::vector<std::shared_ptr<FakeMediaBackend>> made;
};

TEST_F(MediaBackendTest, AMeetingKeepsTheBackendItsJoinPickedWhateverTheSettingSaysLater) {
    useFakes();
    startJoin();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->kind(), Kind::defaultEngine);
    // The host changes the setting in the middle of the join and of the meeting.
    client->setMultiMediaEngineIntegration(true);
    confirmJoin();
    EXPECT_EQ(main->lines, Lines{"joined 42"});
    client->muteLocalAudio(true);
    client->muteLocalVideo(false);
    client->raiseHand();
    client->switchLocalUserRole(KRUserRole::audience());
    client->startPreview();
    EXPECT_EQ(made.size(), 1u);  // asked once per join
    EXPECT_EQ(&internals(client).mediaBackend(), made[0].get());
    EXPECT_EQ(made[0]->lines, (Lines{"join", "mute audio", "unmute video", "hand raised",
                                     "message 0", "role audience", "preview start"}));
    // Nothing reaches the client's own engine wrapper, which is not this meeting's backend.
    EXPECT_FALSE(client->rtcManager()->isLocalUserAudioMuted());
    client->muteLocalVideo(true);
    EXPECT_FALSE(client->rtcManager()->isLocalUserVideoMuted());
    EXPECT_EQ(made[0]->lines.back(), "mute video");
    EXPECT_EQ(client->getMeetingLocalUser()->id(), "42");

    client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    internals(client).handleLocalMediaLeft();
    queue->runPending();
    EXPECT_EQ(made[0]->count("leave"), 1u);
    // The setting is for the next join.
    startJoin();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[1]->kind(), Kind::roomEngine);
    EXPECT_EQ(made[1]->lines, Lines{"join"});
    EXPECT_EQ(made[0]->count("join"), 1u);
}

TEST_F(MediaBackendTest, TheLeaveEndsTheBackendExactlyOnce) {
    for (const bool joinedFirst : {true, false}) {
        SCOPED_TRACE(joinedFirst ? "after the join" : "during the join");
        useFakes();
        made.clear();
        main->lines.clear();
        startJoin();
        if (joinedFirst) confirmJoin();
        client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        client->leaveMeeting(KRUserLeftReason::leaveMeeting());  // while leaving: ignored
        clock->advance(ClientCore::kJoinTimeout);                   // an abandoned join does not fail
        queue->runPending();
        internals(client).handleLocalMediaLeft();
        internals(client).handleLocalMediaLeft();  // a second report of the channel left
        client->leaveMeeting(KRUserLeftReason::leaveMeeting());  // after the meeting: ignored
        queue->runPending();
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(made[0]->count("leave"), 1u);
        EXPECT_EQ(made[0]->count("cancel join"), 0u);
        EXPECT_EQ(main->count("left"), 1u);
    }
}

TEST_F(MediaBackendTest, AFailedJoinCancelsTheBackendItPickedNotTheOneSetSince) {
    useFakes();
    startJoin();
    client->setMultiMediaEngineIntegration(true);
    clock->advance(ClientCore::kJoinTimeout);
    queue->runPending();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->lines, (Lines{"join", "cancel join"}));
    EXPECT_EQ(main->lines, Lines{"failed timed out"});
    EXPECT_EQ(&internals(client).mediaBackend(), &internals(client).mediaBackend());  // stable outside a meeting
    EXPECT_EQ(internals(client).mediaBackend().kind(), Kind::roomEngine);   // the setting, at once
}

TEST_F(MediaBackendTest, TheClientsOwnBackendsFollowTheSettingOnlyOutsideAMeeting) {
    for (const bool roomEngine : {false, true}) {
        client->setMultiMediaEngineIntegration(roomEngine);
        EXPECT_EQ(internals(client).mediaBackend().kind(),
                  roomEngine ? Kind::roomEngine : Kind::defaultEngine);
    }
    client->setMultiMediaEngineIntegration(false);
    startJoin();  // the default engine joins the stand-in media bus
    EXPECT_EQ(main->lines, Lines{"joined 42"});
    client->setMultiMediaEngineIntegration(true);
    EXPECT_EQ(internals(client).mediaBackend().kind(), Kind::defaultEngine);
    client->muteLocalAudio(true);
    EXPECT_TRUE(client->rtcManager()->isLocalUserAudioMuted());
    client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    queue->runPending();
    EXPECT_TRUE(main->has("left"));
    EXPECT_EQ(internals(client).mediaBackend().kind(), Kind::roomEngine);
}

}  // namespace
}  // namespace kr
