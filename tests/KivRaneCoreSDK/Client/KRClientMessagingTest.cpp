// What a control message from the room channel or from one peer does to a client in a meeting:
// the room store and participants it changes and the callbacks it raises, including the messages
// it must drop. The client joins without server calls on a manual-clock queue with its own
// messaging service.

#include <gtest/gtest.h>

#include <algorithm>

#include <boost/json.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "KivRaneCoreSDK/RTC/Protocols/KRRtcManagerDelegate.h"
#include "KivRaneCoreSDK/RTM/Managers/KRRtmManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "support/ClientTestDelegate.h"
#include "support/ControlMessageRecorder.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using E = KRRtmMessageEvent;
using Lines = std::vector<std::string>;

constexpr const char* kLocal = "42";
constexpr const char* kRoom = "room-9";
constexpr const char* kHost = "7";
constexpr const char* kCoHost = "8";
constexpr const char* kPlain = "9";
constexpr const char* kStranger = "55";  // not among the room's participants
constexpr const char* kUnlisted = "10";  // seen through the media channel only, no server record

KRRtmMessage msg(E event, std::string from, std::string target = {}, std::string name = "Sender",
                 std::string reaction = {}) {
    KRRtmMessage m;
    m.message = event;
    m.senderParticipantId = std::move(from);
    m.senderName = std::move(name);
    m.targetParticipantId = std::move(target);
    m.reactionsType = std::move(reaction);
    return m;
}

std::string request(AudioVideoState state, const std::string& by) {
    return "request " + std::to_string(static_cast<int>(state)) + " by " + by;
}

/// One client in a meeting with a host, a co-host and a plain participant among its tracks.
struct World {
    World() {
        KRDependencies deps;
        deps.queue = queue;
        deps.messagingService = service;
        deps.mediaBus = bus;
        deps.reachability = test::quietReachability();
        deps.storageDirectory = storage.path();
        client = KRClient::create(deps);
        client->setParameters(boost::json::parse(R"({"kr_agora_token":"tok","kr_uid":"42",
            "kr_room_id":"room-9","kr_rtm_token":"rtm"})")
                                  .as_object());
        client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), recorder);
        EXPECT_TRUE(queue->runUntil(
            [&] {
                const auto& lines = recorder->lines;
                return std::find(lines.begin(), lines.end(), "joined") != lines.end() &&
                       service->channelMembers(kRoom) == Lines{kLocal};
            },
            5s));
        client->getMeetingLocalUser()->setUserId("acct-42");
        auto& tracks = internals(client).currentRoom().allMediaTracks;
        tracks.push_back(
            std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = kHost,
                                                                      .userId = "acct-7",
                                                                      .displayName = "Host",
                                                                      .isHandRaised = true,
                                                                      .isHost = true}));
        tracks.push_back(std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
            .id = kCoHost, .userId = "acct-8", .displayName = "Co", .isCoHost = true}));
        tracks.push_back(std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
            .id = kPlain, .userId = "acct-9", .displayName = "Pat", .isHandRaised = true}));
        tracks.push_back(std::make_shared<KRMeetingUser>(
            KRMeetingUser::Parameters{.id = kUnlisted, .displayName = "Una"}));
        // What the server says of the three it knows; rights are read from here.
        const auto record = [](const char* id, bool isHost, bool isCoHost) {
            KRMeetingParticipant r;
            r.participantId = id;
            r.isHost = isHost;
            r.isCoHost = isCoHost;
            return r;
        };
        auto& records = internals(client).currentRoom().allParticipants;
        records.push_back(record(kHost, true, false));
        records.push_back(record(kCoHost, false, true));
        records.push_back(record(kPlain, false, false));
        recorder->take();
    }

    std::shared_ptr<KRMeetingUser> user(const std::string& id) {
        return internals(client).currentRoom().matchingUser(id);
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MessagingService> service = platform::MessagingService::create();
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    test::ScopedTempDirectory storage;
    std::shared_ptr<test::ControlMessageRecorder> recorder =
        std::make_shared<test::ControlMessageRecorder>();
    std::shared_ptr<KRClient> client;
};

struct Row {
    const char* name;
    bool peer;
    std::vector<KRRtmMessage> messages;
    Lines expected;
    std::function<void(World&)> check;
    std::function<void(World&)> prepare = nullptr;
};

/// The local user shares its screen.
void shareScreen(World& w) {
    internals(w.client).currentRoom().allMediaTracks.push_back(
        std::make_shared<KRScreenShareTrack>("500", nullptr, nullptr, kLocal, "Me"));
    internals(w.client).localScreenShare().adoptStream(500, "t");
}

TEST(KRClientMessagingTest, EachMessageChangesTheRoomAndReportsAsItsEventSays) {
    const auto removed =
        std::to_string(static_cast<int>(KRUserLeftReason::Kind::removedFromMeeting));
    const Row rows[] = {
        {"hard mute by the host",
         false,
         {msg(E::hardMuteEnabled, kHost)},
         {"local mic off", "hard mute by 7"},
         [](World& w) {
             EXPECT_TRUE(internals(w.client).currentRoom().isHardMuteEnabled);
             EXPECT_TRUE(w.user(kPlain)->audioTrack()->isHardAudioMuted());
             EXPECT_FALSE(w.user(kCoHost)->audioTrack()->isHardAudioMuted());
         }},
        {"hard mute by a plain participant is dropped",
         false,
         {msg(E::hardMuteEnabled, kPlain)},
         {},
         [](World& w) {
             EXPECT_FALSE(internals(w.client).currentRoom().isHardMuteEnabled);
             EXPECT_FALSE(w.user(kPlain)->audioTrack()->isHardAudioMuted());
         }},
        {"hard mute by an unknown sender is taken",
         false,
         {msg(E::hardMuteEnabled, kStranger)},
         {"local mic off", "hard mute by -"},
         [](World& w) { EXPECT_TRUE(internals(w.client).currentRoom().isHardMuteEnabled); }},
        {"hard unmute clears every mark",
         false,
         {msg(E::hardMuteEnabled, kHost), msg(E::hardMuteDisabled, kCoHost)},
         {"local mic off", "hard mute by 7", "hard unmute by 8"},
         [](World& w) {
             EXPECT_FALSE(internals(w.client).currentRoom().isHardMuteEnabled);
             EXPECT_FALSE(w.user(kPlain)->audioTrack()->isHardAudioMuted());
         }},
        {"soft mute by the co-host",
         false,
         {msg(E::softMuteEnabled, kCoHost)},
         {"local mic off", "soft mute by 8"},
         [](World& w) { EXPECT_TRUE(internals(w.client).currentRoom().isSoftMuteEnabled); }},
        {"lower all hands by a plain participant is dropped",
         false,
         {msg(E::hostLowerAllHands, kPlain)},
         {},
         [](World& w) { EXPECT_TRUE(w.user(kPlain)->isHandRaised()); }},
        {"lower all hands by the host",
         false,
         {msg(E::hostLowerAllHands, kHost)},
         {"all hands down by 7"},
         [](World& w) {
             EXPECT_FALSE(w.user(kPlain)->isHandRaised());
             EXPECT_FALSE(w.user(kHost)->isHandRaised());
             // What the next status post reports of the local hand.
             EXPECT_FALSE(internals(w.client).currentRoom().isCurrentUserHandRaised);
         },
         [](World& w) { internals(w.client).currentRoom().isCurrentUserHandRaised = true; }},
        {"hands of known senders only",
         false,
         {msg(E::lowerParticipantHand, kPlain), msg(E::participantRaiseHand, kPlain),
          msg(E::participantRaiseHand, kStranger)},
         {"hand 9 down", "hand 9 up"},
         nullptr},
        {"recording and lock report each change once",
         false,
         {msg(E::recordingStarted, kHost), msg(E::recordingStarted, kHost),
          msg(E::lockMeeting, kHost), msg(E::lockMeeting, kHost), msg(E::unLockMeeting, kCoHost),
          msg(E::recordingStopped, kCoHost)},
         {"recording started by 7", "locked by 7", "unlocked by 8", "recording stopped by 8"},
         nullptr},
        {"lock and recording by a plain participant are dropped",
         false,
         {msg(E::lockMeeting, kPlain), msg(E::recordingStarted, kPlain)},
         {},
         [](World& w) {
             EXPECT_FALSE(internals(w.client).currentRoom().isMeetingLocked);
             EXPECT_FALSE(internals(w.client).currentRoom().isRecordingOn);
         }},
        {"host controls from a participant the server has no record of are taken",
         false,
         {msg(E::lockMeeting, kUnlisted), msg(E::hardMuteEnabled, kUnlisted),
          msg(E::makeCoHost, kUnlisted, "acct-42")},
         {"locked by 10", "local mic off", "hard mute by 10", "cohost granted by 10"},
         nullptr},
        {"co-host rights from a plain participant are dropped",
         false,
         {msg(E::makeCoHost, kPlain, "acct-42"), msg(E::removeCoHost, kPlain, "acct-42")},
         {},
         nullptr},
        {"co-host rights aimed at the local account only",
         false,
         {msg(E::makeCoHost, kHost, "acct-9"), msg(E::makeCoHost, kHost, "acct-42"),
          msg(E::removeCoHost, kHost, "acct-42")},
         {"cohost granted by 7", "cohost revoked by 7"},
         nullptr},
        {"reactions from known senders",
         false,
         {msg(E::reactionShare, kPlain, "", "Pat", "3"),
          msg(E::reactionShare, kStranger, "", "X", "4")},
         {"reaction 3 from 9"},
         nullptr},
        {"whiteboard stop while none is shared",
         false,
         {msg(E::stopwhiteboard, kHost)},
         {},
         nullptr},
        {"peer-only events do nothing on the channel",
         false,
         {msg(E::hostRemoveParticipant, kHost, kLocal), msg(E::requestToStartAudio, kHost, kLocal),
          msg(E::participantStopScreenShare, kHost, kLocal), msg(E::unknown, kHost)},
         {},
         nullptr},
        {"host requests and declines",
         true,
         {msg(E::stopParticipantAudio, kHost, kLocal), msg(E::stopParticipantVideo, kHost, kLocal),
          msg(E::requestToStartAudio, kCoHost, kLocal),
          msg(E::requestToStartVideo, kStranger, kLocal), msg(E::micDecline, kPlain, kLocal),
          msg(E::videoDecline, kPlain, kLocal)},
         {request(AudioVideoState::stopAudio, "7"), request(AudioVideoState::stopVideo, "7"),
          request(AudioVideoState::startAudio, "8"), request(AudioVideoState::startVideo, "-"),
          "decline 0 by 9", "decline 2 by 9"},
         nullptr},
        {"a peer message for someone else",
         true,
         {msg(E::stopParticipantAudio, kHost, "43"), msg(E::hostRemoveParticipant, kHost, "")},
         {},
         nullptr},
        {"channel events do nothing from a peer",
         true,
         {msg(E::lockMeeting, kHost, kLocal), msg(E::hardMuteEnabled, kHost, kLocal)},
         {},
         [](World& w) { EXPECT_FALSE(internals(w.client).currentRoom().isMeetingLocked); }},
        {"removal by a participant the server has no record of",
         true,
         {msg(E::hostRemoveParticipant, kUnlisted, kLocal, "Una")},
         {"left " + removed + " Una"},
         nullptr},
        {"removal by a plain participant is dropped",
         true,
         {msg(E::hostRemoveParticipant, kPlain, kLocal)},
         {},
         [](World& w) { EXPECT_TRUE(internals(w.client).rtmManager()->delegate() != nullptr); }},
        {"a screen-share stop from a plain participant is dropped",
         true,
         {msg(E::participantStopScreenShare, kPlain, kLocal)},
         {},
         [](World& w) { EXPECT_EQ(internals(w.client).localScreenShare().streamUid(), 500u); },
         shareScreen},
        {"the host stops the local screen share",
         true,
         {msg(E::participantStopScreenShare, kHost, kLocal)},
         {"local share stopped"},
         [](World& w) { EXPECT_EQ(internals(w.client).localScreenShare().streamUid(), 0u); },
         shareScreen},
        {"removal by the host",
         true,
         {msg(E::hostRemoveParticipant, kHost, kLocal, "Hostess")},
         {"left " + removed + " Hostess"},
         [](World& w) {
             // Messaging is left and detached: nothing the others send reaches the client.
             EXPECT_EQ(internals(w.client).rtmManager()->delegate(), nullptr);
             w.queue->runPending();
             EXPECT_TRUE(w.service->channelMembers(kRoom).empty());
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        World world;
        if (row.prepare)
            row.prepare(world);
        for (const auto& message : row.messages) {
            if (row.peer) {
                internals(world.client).incomingMessages().handleControlMessage(MediaBackend::Kind::defaultEngine, ControlMessageRoute::peer, message);
            } else {
                internals(world.client).incomingMessages().handleControlMessage(MediaBackend::Kind::defaultEngine, ControlMessageRoute::channel, message);
            }
        }
        world.queue->runPending();  // the engine's reports of what the message changed
        EXPECT_EQ(world.recorder->take(), row.expected);
        if (row.check)
            row.check(world);
    }
}

TEST(KRClientMessagingTest, ReportsThroughTheReceiversOfAnEndedMeetingChangeNothingInTheNextJoin) {
    // What the messaging session or the engine wrapper still delivers to the receivers of a
    // meeting that ended, once the next join is in its meeting.
    struct Late {
        const char* name;
        std::function<void(KRRtmManagerDelegate&, KRRtcManagerDelegate&)> deliver;
    };
    const std::vector<Late> cases{
        {"a lock from the host on the room channel",
         [](KRRtmManagerDelegate& m, KRRtcManagerDelegate&) {
             m.didRecievePublicMessage(msg(E::lockMeeting, kHost));
         }},
        {"a removal addressed to the local user",
         [](KRRtmManagerDelegate& m, KRRtcManagerDelegate&) {
             m.didRecievePrivateMessage(msg(E::hostRemoveParticipant, kHost, kLocal, "Hostess"));
         }},
        {"the engine moving the local user to the audience",
         [](KRRtmManagerDelegate&, KRRtcManagerDelegate& e) {
             e.didCurrentUserClientRoleChanged(true);
         }},
        {"the engine reporting its local channel left",
         [](KRRtmManagerDelegate&, KRRtcManagerDelegate& e) {
             e.didLocalParticipantLeaveChannel();
         }},
    };
    for (const Late& late : cases) {
        SCOPED_TRACE(late.name);
        World world;
        const auto messaging = internals(world.client).rtmManager()->delegate();
        const auto engine = world.client->rtcManager()->delegate();
        ASSERT_TRUE(messaging && engine);
        world.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(world.queue->runUntil(
            [&] { return internals(world.client).meetingState() == ClientCore::MeetingState::ended; },
            5s));
        world.client->joinMeeting(KRJoinMeetingData("m-2", "2222", "Me"),
                                  KRJoinMeetingConfig(KRUserRole::speaker(), true, true),
                                  world.recorder);
        ASSERT_TRUE(world.queue->runUntil(
            [&] {
                return internals(world.client).meetingState() ==
                           ClientCore::MeetingState::inMeeting &&
                       world.service->channelMembers(kRoom) == Lines{kLocal};
            },
            5s));
        world.recorder->take();

        late.deliver(*messaging, *engine);
        world.queue->runPending();
        EXPECT_EQ(world.recorder->take(), Lines{});
        EXPECT_EQ(internals(world.client).meetingState(), ClientCore::MeetingState::inMeeting);
        EXPECT_FALSE(internals(world.client).currentRoom().isMeetingLocked);
        EXPECT_FALSE(internals(world.client).isLocalUserInAudienceMode());
        EXPECT_FALSE(internals(world.client).currentRoom().isCurrentUserInAudienceMode);
        EXPECT_EQ(world.service->channelMembers(kRoom), Lines{kLocal});
    }
}

TEST(KRClientMessagingTest, APeerMessageBeforeTheLocalIdIsKnownIsDropped) {
    auto queue = platform::MainQueue::create(platform::ManualClock::create());
    KRDependencies deps;
    deps.queue = queue;
    deps.messagingService = platform::MessagingService::create();
    deps.reachability = test::quietReachability();
    auto client = KRClient::create(deps);
    auto recorder = std::make_shared<test::ControlMessageRecorder>();
    client->addDelegate("r", recorder);
    ASSERT_TRUE(internals(client).currentRoom().userWebRtcId.empty());
    internals(client).incomingMessages().handleControlMessage(MediaBackend::Kind::defaultEngine, ControlMessageRoute::peer, msg(E::requestToStartAudio, kHost, ""));
    EXPECT_TRUE(recorder->lines.empty());
}

TEST(KRClientMessagingTest, MessagesTravelThroughTheServiceAndAPeerWithoutTargetSendsNothing) {
    World world;
    auto& service = *world.service;
    service.clearSentMessages();

    world.client->raiseHand();
    world.client->sendReactionType("5");
    world.client->declineHostRequestToTurnOnAudio(nullptr);  // nobody to tell
    world.client->declineHostRequestToTurnOnVideo(world.user(kHost));
    world.queue->runPending();
    const auto sent = service.sentMessages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].route, platform::MessagingRecord::Route::channel);
    EXPECT_EQ(sent[0].to, kRoom);
    EXPECT_EQ(KRRtmMessage::decode(sent[0].text)->message, E::participantRaiseHand);
    EXPECT_EQ(KRRtmMessage::decode(sent[1].text)->reactionsType, "5");
    EXPECT_EQ(sent[2].route, platform::MessagingRecord::Route::peer);
    EXPECT_EQ(sent[2].to, kHost);
    EXPECT_EQ(KRRtmMessage::decode(sent[2].text)->message, E::videoDecline);
    // The local hand: room and user flag, then the local callback.
    EXPECT_TRUE(internals(world.client).currentRoom().isCurrentUserHandRaised);
    EXPECT_TRUE(world.client->getMeetingLocalUser()->isHandRaised());
    EXPECT_EQ(world.recorder->take(), Lines{"local hand up"});

    // A message arriving from the service is handled like a direct call.
    KRRtmMessage lock = msg(E::lockMeeting, kHost);
    service.injectChannelMessage(kRoom, kHost, lock.encode().value());
    world.queue->runPending();
    EXPECT_EQ(world.recorder->take(), Lines{"locked by 7"});
}

}  // namespace
}  // namespace kr
