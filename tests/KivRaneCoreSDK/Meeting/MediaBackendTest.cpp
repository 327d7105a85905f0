// The client drives the media backend its join picked: a recording stand-in takes the backend's
// place (the join without server calls, on a manual clock), and the test plays the engine's
// reports of the channel joined and left.

#include "KivRaneCoreSDK/Meeting/Backends/MediaBackend.h"

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
        internals(client).completeLocalMediaJoin("42");
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
    queue->runPending();  // the media leave, as a task of its own
    EXPECT_EQ(made[0]->count("leave"), 1u);
    internals(client).handleLocalMediaLeft();
    queue->runPending();
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

/// Keeps the reasons of the local leaves it hears.
class LeaveRecorder : public KRClientDelegate {
public:
    void didLocalUserLeftMeeting(const KRMeeting&, const KRUserLeftReason& reason) override {
        reasons.push_back(reason);
    }
    std::vector<KRUserLeftReason> reasons;
};

TEST_F(MediaBackendTest, TheOneJoinEndAndTeardownAskTheBackendOnlyWhatItDoesDifferently) {
    struct Case {
        const char* name;
        bool leaveToMainOnly;
        std::optional<KRUserLeftReason> engineReason;
        KRUserLeftReason asked;
        std::vector<KRUserLeftReason> extraHears;
    };
    const std::vector<Case> cases{
        {"every delegate hears the asked reason", false, std::nullopt,
         KRUserLeftReason::leaveMeeting(), {KRUserLeftReason::leaveMeeting()}},
        {"the main delegate only", true, std::nullopt, KRUserLeftReason::leaveMeeting(), {}},
        {"an asked reason wins over the engine's", false, KRUserLeftReason::networkDropped(),
         KRUserLeftReason::removedFromMeeting("Host"), {KRUserLeftReason::removedFromMeeting("Host")}},
        {"the engine's reason when the leave named none", false,
         KRUserLeftReason::networkDropped(), KRUserLeftReason::none(),
         {KRUserLeftReason::networkDropped()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        made.clear();
        main->lines.clear();
        auto extra = std::make_shared<LeaveRecorder>();
        client->addDelegate("extra", extra);
        useFakes();
        startJoin();
        ASSERT_EQ(made.size(), 1u);
        made[0]->leaveToMainOnly = c.leaveToMainOnly;
        confirmJoin();
        EXPECT_EQ(made[0]->ends, Lines{"record local"});
        EXPECT_EQ(client->getMeetingLocalUser()->id(), "42");
        client->leaveMeeting(c.asked);
        internals(client).handleLocalMediaLeft(c.engineReason);
        queue->runPending();
        EXPECT_EQ(made[0]->ends, (Lines{"record local", "release media", "release engine"}));
        EXPECT_EQ(main->count("left"), 1u);
        EXPECT_EQ(extra->reasons, c.extraHears);
        EXPECT_TRUE(internals(client).currentRoom().allMediaTracks.empty());
        client->removeDelegate("extra");
    }
}

TEST_F(MediaBackendTest, AJoinEndWithoutALocalIdFailsTheJoinAndAReportOutsideAJoinIsIgnored) {
    useFakes();
    startJoin();
    int finished = 0;
    internals(client).completeLocalMediaJoin("", [&] { ++finished; });
    EXPECT_EQ(main->lines, Lines{"failed The media channel did not confirm the local user"});
    EXPECT_EQ(finished, 1);
    internals(client).completeLocalMediaJoin("42", [&] { ++finished; });  // the join is over
    queue->runPending();
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(main->lines.size(), 1u);
    EXPECT_TRUE(made[0]->ends.empty());
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
