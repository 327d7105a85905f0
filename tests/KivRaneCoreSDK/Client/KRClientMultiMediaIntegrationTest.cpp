// Clients on the multimedia-engine road against the local meeting service (real HTTPS), with
// their engines meeting on one media bus and one messaging service: the room's engine ("agora":
// the library's own; "kr-media": the host's test engine) carries the join, the participants
// (reported through the participant merge), mute, hands and the leave.

#include <gtest/gtest.h>

#include "support/MultiMediaMeeting.h"

namespace kr {
namespace {

using namespace test;

class KRClientMultiMediaIntegrationTest : public MultiMediaMeetingTest {};

TEST_F(KRClientMultiMediaIntegrationTest, AgoraRoomMeetingSeenThroughTheParticipantMerge) {
    Member& host = join("1234567890", "Hostess", KRUserRole::host(kHostToken));
    Member& ann = join("1234567890", "Ann");
    Member& ben = join("1234567890", "Ben");
    ASSERT_TRUE(seesEachOther(host, ann));
    ASSERT_TRUE(seesEachOther(host, ben));
    ASSERT_TRUE(seesEachOther(ann, ben));
    EXPECT_TRUE(host.client->hasPollingTimers());
    EXPECT_TRUE(host.client->hasConnectionCheckTimer());
    EXPECT_EQ(host.client->getMeetingUsers().size(), 3u);
    EXPECT_EQ(host.client->getMeetingLocalUser()->id(), host.uid());

    ann.client->raiseHand();
    EXPECT_TRUE(main->runUntil([&] { return host.recorder->has("remote hand " + ann.uid() + " up"); }, 5s));
    // A room push sent before the hand reached the server may show it down for a moment.
    EXPECT_TRUE(main->runUntil(
        [&] { return ann.client->getMeetingLocalUser()->isHandRaised(); }, 5s));

    // A control message only a host may send, sent by a plain participant, changes nothing.
    ben.client->hardMuteUnmuteUsersAudio(true);
    main->runFor(300ms);
    EXPECT_FALSE(ann.recorder->has("hard mute"));

    ann.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    EXPECT_TRUE(main->runUntil([&] { return ann.recorder->startsWith("left"); }, 10s));
    EXPECT_TRUE(main->runUntil([&] { return host.recorder->has("remote left " + ann.uid()); }, 10s));
    EXPECT_FALSE(ann.client->hasPollingTimers());
    EXPECT_TRUE(ann.client->getMeetingUsers().empty());
    EXPECT_EQ(ann.client->rtcEngineManager(), nullptr);
}

TEST_F(KRClientMultiMediaIntegrationTest, KrMediaRoomRunsOnTheHostsEngine) {
    test::MeetingRoomSetup room;
    room.meetingId = "5550001111";
    room.roomId = "room-kr";
    room.mediaEngine = "kr-media";
    service.addRoom(room);
    Member& host = join(room.meetingId, "Hostess", KRUserRole::host(kHostToken), true);
    Member& ann = join(room.meetingId, "Ann", KRUserRole::speaker(), true);
    ASSERT_TRUE(seesEachOther(host, ann));
    auto engine = std::dynamic_pointer_cast<test::KrMediaTestEngine>(ann.client->rtcEngineManager());
    ASSERT_TRUE(engine);
    ASSERT_EQ(engine->joinData().size(), 1u);
    const auto& data = engine->joinData().front();
    EXPECT_EQ(data.size(), 4u);
    EXPECT_EQ(data.at("meetingId").as_string(), room.meetingId);
    EXPECT_EQ(data.at("displayName").as_string(), "Ann");
    EXPECT_TRUE(engine->configureData().front().empty());

    // The network comes back while the engine waits to be reconnected: it joins again.
    ann.client->multiMediaRtcDelegate()->didConnectionStateChanged(KRConnectionState::disconnected);
    EXPECT_TRUE(ann.client->isWaitingToBeReconnect());

    ann.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    EXPECT_TRUE(main->runUntil([&] { return ann.recorder->startsWith("left"); }, 10s));
    EXPECT_TRUE(main->runUntil([&] { return host.recorder->has("remote left " + ann.uid()); }, 10s));
    // The host's engine stays with the client for the next meeting.
    EXPECT_EQ(ann.client->rtcEngineManager(), engine);
}

TEST_F(KRClientMultiMediaIntegrationTest, RefusedStatusPostAtTheLocalJoinFailsTheJoinAndLeavesTheChannel) {
    service.injectFault(test::MeetingServiceRoute::postRoomConnectionStatus,
                        test::MeetingServiceFault::withStatus(500));
    Member& ann = start("1234567890", "Ann", KRUserRole::speaker());
    ASSERT_TRUE(main->runUntil([&] { return ann.recorder->startsWith("join failed"); }, 10s));
    EXPECT_TRUE(main->runUntil([&] { return bus->members("room-1").empty(); }, 5s));
    main->runFor(200ms);
    EXPECT_FALSE(ann.recorder->has("joined"));
    EXPECT_FALSE(ann.recorder->startsWith("left"));  // the host heard of the failure only
    EXPECT_FALSE(ann.client->isJoining());
    EXPECT_FALSE(ann.client->hasPollingTimers());
}

TEST_F(KRClientMultiMediaIntegrationTest, HardMutedRoomStartsAJoiningParticipantMuted) {
    test::MeetingRoomSetup room;
    room.participantHardAudioMute = true;
    service.addRoom(room);
    Member& host = join(room.meetingId, "Hostess", KRUserRole::host(kHostToken));
    Member& ann = join(room.meetingId, "Ann");
    EXPECT_TRUE(host.client->isInitialAudioOn());
    EXPECT_FALSE(ann.client->isInitialAudioOn());
    EXPECT_TRUE(ann.client->currentRoom().isCurrentUserAudioMuted);
    ASSERT_TRUE(ann.client->getMeetingLocalUser());
    EXPECT_TRUE(ann.client->getMeetingLocalUser()->audioTrack()->isMuted());
}

TEST_F(KRClientMultiMediaIntegrationTest, ASecondSetUpInOneMeetingIsRefused) {
    Member& ann = join("1234567890", "Ann");
    const auto engine = ann.client->rtcEngineManager();
    ann.client->configureForMultiMediaEngine(KRJoinMeetingConfig(KRUserRole::speaker(), true, true));
    main->runFor(300ms);
    EXPECT_EQ(ann.client->rtcEngineManager(), engine);
    EXPECT_EQ(bus->members("room-1").size(), 1u);
}

}  // namespace
}  // namespace kr
