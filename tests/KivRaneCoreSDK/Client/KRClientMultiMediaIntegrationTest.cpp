// Clients on the multimedia-engine road against the local meeting service (real HTTPS), with
// their engines meeting on one media bus and one messaging service: the room's engine ("agora":
// the library's own; "kr-media": the host's test engine) carries the join, the participants
// (reported through the participant merge), mute, hands and the leave.

#include <gtest/gtest.h>

#include <optional>

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

TEST_F(KRClientMultiMediaIntegrationTest, UnknownStreamIsAskedAboutAFewTimesThenTakenAsAUser) {
    Member& ann = join("1234567890", "Ann");
    std::optional<RtcRemoteStreamType> answer;
    const auto asked = std::chrono::steady_clock::now();
    ann.client->multiMediaRtcDelegate()->didRequestToGetStreamSourceType(
        "424242", [&](RtcRemoteStreamType type) { answer = type; });
    ASSERT_TRUE(main->runUntil([&] { return answer.has_value(); }, 10s));
    EXPECT_EQ(answer->kind(), RtcRemoteStreamType::Kind::user);
    EXPECT_EQ(answer->participantId(), "424242");
    // The retries wait between the questions rather than asking in a tight loop.
    EXPECT_GE(std::chrono::steady_clock::now() - asked,
              KRClient::kStreamTypeQuestionInterval * (KRClient::kStreamTypeQuestionTries - 1));

    // After the meeting has ended nobody is asked.
    ann.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil([&] { return ann.recorder->startsWith("left"); }, 10s));
    answer.reset();
    ann.client->multiMediaRtcDelegate()->didRequestToGetStreamSourceType(
        "424243", [&](RtcRemoteStreamType type) { answer = type; });
    EXPECT_TRUE(answer.has_value());
}

TEST_F(KRClientMultiMediaIntegrationTest, HostBuiltEngineReportsReachTheHostThroughTheMerge) {
    test::MeetingRoomSetup room;
    room.mediaEngine = "kr-media";
    service.addRoom(room);
    auto engine = std::make_shared<ScriptedEngine>();
    Member ann{KRClient::create(deps()), std::make_shared<RoadRecorder>()};
    auto extra = std::make_shared<RoadRecorder>();
    ann.client->setMultiMediaEngineIntegration(true);
    ann.client->setRtcEngineManager(engine);
    ann.client->addDelegate("extra", extra);
    ann.client->joinMeeting(KRJoinMeetingData(room.meetingId, room.pin, "Ann"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), ann.recorder);
    ASSERT_TRUE(main->runUntil([&] { return engine->called("join"); }, 10s));
    const auto rtc = engine->delegate.lock();
    auto rtm = engine->rtm.lock();
    ASSERT_TRUE(rtc);
    ASSERT_TRUE(rtm);

    // Nothing of the join's end runs before the engine reports the local participant in.
    EXPECT_FALSE(ann.client->hasPollingTimers());
    bool joinFinished = false;
    const auto local = std::make_shared<RtcPeerMetaData>("10001", false, false, false);
    rtc->didLocalParticipantJoinChannel(local, [&] { joinFinished = true; });
    ASSERT_TRUE(main->runUntil([&] { return joinFinished; }, 10s));
    EXPECT_TRUE(ann.recorder->has("joined"));
    EXPECT_TRUE(engine->called("local view"));
    EXPECT_TRUE(ann.client->hasPollingTimers());
    EXPECT_TRUE(ann.client->hasConnectionCheckTimer());

    const auto bob = std::make_shared<RtcPeerMetaData>("777", true, true, false);
    bool remoteFinished = false;
    rtc->didRemoteParticipantJoinChannel(bob, [&] { remoteFinished = true; });
    EXPECT_TRUE(remoteFinished);
    EXPECT_TRUE(engine->called("remote view 777"));
    EXPECT_TRUE(ann.recorder->has("remote joined 777"));

    // Bob is known and is no host: his host-only messages are dropped.
    KRRtmMessage hardMute;
    hardMute.message = KRRtmMessageEvent::hardMuteEnabled;
    hardMute.senderParticipantId = "777";
    rtm->didRecievePublicMessage(hardMute);
    EXPECT_FALSE(ann.recorder->has("hard mute"));
    EXPECT_FALSE(engine->called("mute audio on"));
    KRRtmMessage downgrade;
    downgrade.message = KRRtmMessageEvent::participantDowngradeToAudience;
    downgrade.messageType = KRRtmMessageType::peerToPeer;
    downgrade.senderParticipantId = "777";
    downgrade.targetParticipantId = "10001";
    rtm->didRecievePrivateMessage(downgrade);
    EXPECT_FALSE(engine->called("role audience"));

    // A speaker list naming a stranger is not reported; one of known users is.
    const auto stranger = std::make_shared<RtcPeerMetaData>("999", false, false, false);
    rtc->didDetectTopActiveSpeakersPeers({bob, stranger});
    EXPECT_FALSE(ann.recorder->startsWith("speakers"));
    rtc->didDetectTopActiveSpeakersPeers({bob, local});
    EXPECT_TRUE(ann.recorder->has("speakers 2"));

    // The hand goes out through the engine, to the room channel.
    ann.client->raiseHand();
    ASSERT_FALSE(engine->sent.empty());
    EXPECT_EQ(engine->sent.back().message, KRRtmMessageEvent::participantRaiseHand);
    EXPECT_EQ(engine->sent.back().messageType, KRRtmMessageType::publicChat);
    EXPECT_EQ(engine->sent.back().senderParticipantId, "10001");

    // A co-host grant names its target by user id; the merge finds the participant by it.
    const auto me = ann.client->getMeetingLocalUser();
    ASSERT_TRUE(me);
    KRRtmMessage coHost;
    coHost.message = KRRtmMessageEvent::makeCoHost;
    coHost.senderParticipantId = "555";  // not (yet) known: it may be a host who just joined
    coHost.targetParticipantId = me->userId().empty() ? me->id() : me->userId();
    rtm->didRecievePublicMessage(coHost);
    EXPECT_TRUE(ann.client->getMeetingLocalUser()->isCoHost());

    // A lost connection of this engine waits for the network; the host hears the state.
    rtc->didConnectionStateChanged(KRConnectionState::disconnected);
    EXPECT_TRUE(ann.client->isWaitingToBeReconnect());
    rtc->didConnectionStateChanged(KRConnectionState::connected);
    EXPECT_FALSE(ann.client->isWaitingToBeReconnect());

    rtm.reset();
    // The engine's leave: the main delegate hears the engine's reason, the messages stop.
    bool leaveFinished = false;
    rtc->didLocalParticipantLeaveChannel(KRUserLeftReason::networkDropped(),
                                                             [&] { leaveFinished = true; });
    EXPECT_TRUE(leaveFinished);
    EXPECT_TRUE(ann.recorder->has(
        "left " + std::to_string(static_cast<int>(KRUserLeftReason::Kind::networkDropped))));
    EXPECT_FALSE(extra->startsWith("left"));
    EXPECT_TRUE(engine->rtm.expired());
    EXPECT_FALSE(ann.client->hasPollingTimers());
    EXPECT_TRUE(ann.client->getMeetingUsers().empty());
}

}  // namespace
}  // namespace kr
