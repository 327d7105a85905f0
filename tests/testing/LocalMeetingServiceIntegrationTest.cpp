// Every server request sent through the network client to the local meeting service over HTTPS:
// the service sees the exact request, its state changes as a server's would, and the reply
// decodes into the request's model.

#include "testing/LocalMeetingService/LocalMeetingService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Network/Requests/ChangeUserRoleRequest.h"
#include "KivRaneCoreSDK/Network/Requests/CoHostRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetConfigurationRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomDetailsRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GuestLoginRequest.h"
#include "KivRaneCoreSDK/Network/Requests/HostActionsRequest.h"
#include "KivRaneCoreSDK/Network/Requests/JoinCallRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LeaveChatThreadRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LeaveMeetingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LockMeetingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteAllParticipantsAudioRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantAudioRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantVideoRequest.h"
#include "KivRaneCoreSDK/Network/Requests/PostRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Network/Requests/RemoveParticipantRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StartRecordingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StartScreenShareRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StartWhiteboardRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopRecordingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopScreenShareRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopWhiteboardRequest.h"
#include "KivRaneCoreSDK/Network/Requests/UnLockMeetingRequest.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "support/MeetingServiceTestClient.h"
#include "support/NetworkTestDependencies.h"
#include "testing/ScopedTempDirectory.h"

namespace kr::test {
namespace {

using R = MeetingServiceRoute;

/// One participant's client with what the join gave it.
struct Member {
    std::shared_ptr<KRNetworkClient> client;
    bool guest = true;
    std::string token;
    std::string userId;
    std::string uid;  ///< media-engine id from the room details: the participant uri
    std::string historyId;
    std::string name;
};

class LocalMeetingServiceIntegrationTest : public ::testing::Test {
protected:
    LocalMeetingServiceIntegrationTest() {
    }

    std::shared_ptr<KRNetworkClient> newClient() {
        return KRNetworkClient::create(networkDependencies(main_, service.routing()));
    }

    template <KRAPIRequestType Q>
    Q send(Member& member, const Q& request) {
        return sendAndWait(*member.client, request);
    }

    /// The guest's join: login, room details, join call, status post (connected, mic on, camera
    /// off). Returns the member with its ids.
    Member joinAsGuest(const std::string& name, const std::string& hostToken = "") {
        Member m{newClient(), true, {}, {}, {}, {}, name};
        const auto login =
            send(m, GuestLoginRequest(setup.meetingId, "", setup.pin, name, hostToken));
        EXPECT_TRUE(login.getResult().ok());
        if (!login.getResult().ok()) {
            return m;
        }
        m.token = login.getResult().value().jwtToken();
        m.userId = login.getResult().value().guestUserId();
        m.client->setJwtToken(m.token);
        finishJoin(m);
        return m;
    }

    /// The signed-in user's join: room details, join call, status post.
    Member joinSignedIn(const std::string& userId, const std::string& name) {
        Member m{newClient(), false, service.issueUserToken(userId, name), userId, {}, {}, name};
        m.client->setCurrentUserType(KRCurrentUserType::loggedIn);
        m.client->setJwtToken(m.token);
        finishJoin(m);
        return m;
    }

    void finishJoin(Member& m) {
        const auto details = send(m, GetRoomDetailsRequest(setup.meetingId, setup.pin, m.userId));
        ASSERT_TRUE(details.getResult().ok()) << details.getResult().error().getErrorCode();
        m.uid = details.getResult().value().rtcUID();
        const auto join =
            send(m, JoinCallRequest(setup.meetingId, setup.roomId, setup.pin, m.name, "Olga Berg",
                                    setup.ownerId, setup.topic, m.token, "192.0.2.7"));
        ASSERT_TRUE(join.getResult().ok()) << join.getResult().error().getErrorCode();
        m.historyId = join.getResult().value().historyId;
        ASSERT_TRUE(post(m, true).getResult().ok());
    }

    PostRoomConnectionRequest post(Member& m, bool connected, bool handRaised = false,
                                   bool audience = false) {
        return send(m, statusPost(m, {.isVideoMuted = true,
                                      .isHandRaised = handRaised,
                                      .isConnected = connected,
                                      .isUserAudience = audience}));
    }

    /// The member's status post with the given flags.
    PostRoomConnectionRequest statusPost(const Member& m,
                                         PostRoomConnectionRequest::Parameters flags) const {
        flags.meetingID = setup.meetingId;
        flags.roomID = setup.roomId;
        flags.meetingPIN = setup.pin;
        flags.historyID = m.historyId;
        flags.userUid = m.uid;
        flags.userName = m.name;
        flags.deviceId = "DEVICE-" + m.name;
        return PostRoomConnectionRequest(flags);
    }

    KRRoomConnectionStatus status(Member& m) {
        const auto reply =
            send(m, GetRoomConnectionRequest(setup.meetingId, setup.roomId, setup.pin));
        EXPECT_TRUE(reply.getResult().ok());
        return reply.getResult().ok() ? reply.getResult().value() : KRRoomConnectionStatus{};
    }

    /// The listed participant with this uri (`.value()` of a missing one fails the test).
    static std::optional<KRMeetingParticipant> find(const KRRoomConnectionStatus& s,
                                                    const std::string& uri) {
        const auto it = std::find_if(s.participants.begin(), s.participants.end(),
                                     [&](const auto& p) { return p.participantUri == uri; });
        return it == s.participants.end() ? std::nullopt : std::optional(*it);
    }

    template <KRAPIRequestType Q>
    static std::string refusalCode(const Q& completed) {
        const auto result = completed.getResult();
        if (result.ok() || result.error().kind() != KRApiRequestError::Kind::failedApi) {
            return "not a refusal";
        }
        return result.error().getErrorCode();
    }

    std::shared_ptr<platform::MainQueue> main_ = platform::MainQueue::create();
    MeetingRoomSetup setup;
    LocalMeetingService service;
};

TEST_F(LocalMeetingServiceIntegrationTest, GuestJoinSendsExactRequestsAndDecodesReplies) {
    Member m{newClient(), true, {}, {}, {}, {}, "Ann"};

    const GetConfigurationRequest config("ios");
    const auto configReply = send(m, config);
    ASSERT_TRUE(configReply.getResult().ok());
    EXPECT_EQ(configReply.getResult().value().webRtcAppId(), "local-app-id");
    EXPECT_EQ(configReply.getResult().value().roomConnectionPollingTimeInSecs(), 25.0);
    expectServiceSaw(service, R::configuration, config, true, "");

    const GuestLoginRequest login(setup.meetingId, "", setup.pin, "Ann", "");
    const auto loginReply = send(m, login);
    ASSERT_TRUE(loginReply.getResult().ok());
    expectServiceSaw(service, R::guestLogin, login, true, "");
    m.token = loginReply.getResult().value().jwtToken();
    m.userId = loginReply.getResult().value().guestUserId();
    EXPECT_EQ(std::count(m.token.begin(), m.token.end(), '.'), 2) << m.token;
    EXPECT_EQ(loginReply.getResult().value().isHost(), false);
    m.client->setJwtToken(m.token);

    const GetRoomDetailsRequest details(setup.meetingId, setup.pin, m.userId);
    const auto detailsReply = send(m, details);
    ASSERT_TRUE(detailsReply.getResult().ok());
    expectServiceSaw(service, R::roomDetails, details, true, m.token);
    const KRRoomDetails d = detailsReply.getResult().value();
    EXPECT_EQ(d.roomID(), setup.roomId);
    EXPECT_EQ(d.topic(), setup.topic);
    EXPECT_EQ(d.mediaEngine(), KRRoomMediaEngine::agora);
    EXPECT_EQ(d.maxParticipants(), setup.maxParticipants);
    EXPECT_EQ(d.speakerCount(), 0);
    EXPECT_EQ(d.rtcToken(), setup.rtcToken + "-" + d.rtcUID());
    ASSERT_TRUE(d.ownerDetails().has_value());
    EXPECT_EQ(d.ownerDetails()->getFullName(), "Olga Berg");
    EXPECT_TRUE(d.isParticipantAudioEnabledoOnJoin());
    m.uid = d.rtcUID();

    const JoinCallRequest join(setup.meetingId, setup.roomId, setup.pin, "Ann", "Olga Berg",
                               setup.ownerId, setup.topic, m.token, "192.0.2.7");
    const auto joinReply = send(m, join);
    ASSERT_TRUE(joinReply.getResult().ok());
    expectServiceSaw(service, R::joinCall, join, true, m.token);
    m.historyId = joinReply.getResult().value().historyId;
    EXPECT_FALSE(m.historyId.empty());

    const PostRoomConnectionRequest report =
        statusPost(m, {.isVideoMuted = true, .isHandRaised = true, .isConnected = true});
    ASSERT_TRUE(send(m, report).getResult().ok());
    expectServiceSaw(service, R::postRoomConnectionStatus, report, true, m.token);
    const auto kept = service.participant(setup.meetingId, m.uid);
    ASSERT_TRUE(kept.has_value());
    EXPECT_TRUE(kept->isConnected);
    EXPECT_EQ(kept->userId, m.userId);
    EXPECT_EQ(kept->historyId, m.historyId);
    EXPECT_EQ(kept->deviceId, "DEVICE-Ann");

    const GetRoomConnectionRequest get(setup.meetingId, setup.roomId, setup.pin);
    const auto getReply = send(m, get);
    ASSERT_TRUE(getReply.getResult().ok());
    expectServiceSaw(service, R::getRoomConnectionStatus, get, true, m.token);
    const auto s = getReply.getResult().value();
    ASSERT_EQ(s.participants.size(), 1u);
    EXPECT_FALSE(s.hasDroppedParticipants);
    const KRMeetingParticipant me = s.participants[0];
    EXPECT_EQ(me.participantUri, m.uid);
    EXPECT_EQ(me.participantName, "Ann");
    EXPECT_TRUE(me.isMicOn);
    EXPECT_FALSE(me.isVideoOn);
    EXPECT_TRUE(me.isHandRaise);
    EXPECT_EQ(me.participantType, KRMeetingParticipantType::speaker);
    EXPECT_FALSE(me.participantJoinTime.empty());

    // A poll keeps the flags it does not carry.
    ASSERT_TRUE(send(m, statusPost(m, {.isAudioMuted = true,
                                       .isVideoMuted = true,
                                       .isConnected = true,
                                       .isPolling = true}))
                    .getResult()
                    .ok());
    EXPECT_TRUE(service.participant(setup.meetingId, m.uid)->isMicOn);
    EXPECT_TRUE(service.participant(setup.meetingId, m.uid)->isHandRaised);

    const LeaveMeetingRequest leave(setup.roomId, m.historyId);
    ASSERT_TRUE(send(m, leave).getResult().ok());
    expectServiceSaw(service, R::leaveMeeting, leave, true, m.token);
    EXPECT_FALSE(service.participant(setup.meetingId, m.uid)->isConnected);
    EXPECT_TRUE(status(m).participants.empty());
}

TEST_F(LocalMeetingServiceIntegrationTest, HostControlsChangeWhatTheNextStatusShows) {
    Member host = joinSignedIn(setup.ownerId, "Olga");
    Member ann = joinAsGuest("Ann");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(post(ann, true, /*handRaised=*/true).getResult().ok());

    // The signed-in host uses the plain paths.
    EXPECT_EQ(service.requests(R::joinCall).front().path, "/api/joinCall");
    EXPECT_EQ(service.requests(R::joinCall).back().path, "/api/joinCall/guest");

    const MuteParticipantAudioRequest muteAnn(setup.meetingId, setup.roomId, ann.uid, true);
    ASSERT_TRUE(send(host, muteAnn).getResult().ok());
    expectServiceSaw(service, R::muteAudio, muteAnn, false, host.token);
    EXPECT_FALSE(find(status(ann), ann.uid).value().isMicOn);

    const MuteParticipantVideoRequest cameraOn(setup.meetingId, setup.roomId, ann.uid, false);
    ASSERT_TRUE(send(ann, cameraOn).getResult().ok());
    expectServiceSaw(service, R::muteVideo, cameraOn, true, ann.token);
    EXPECT_TRUE(find(status(host), ann.uid).value().isVideoOn);

    // A guest may switch only its own devices.
    EXPECT_EQ(refusalCode(send(
                  ann, MuteParticipantAudioRequest(setup.meetingId, setup.roomId, host.uid, true))),
              "FORBIDDEN");

    const MuteAllParticipantsAudioRequest hardMute(setup.meetingId, setup.roomId, true, true);
    ASSERT_TRUE(send(host, hardMute).getResult().ok());
    expectServiceSaw(service, R::muteAll, hardMute, false, host.token);
    auto s = status(ann);
    EXPECT_TRUE(s.isRoomAudioHardMuted);
    EXPECT_FALSE(s.isRoomAudioSoftMuted);
    EXPECT_TRUE(find(s, host.uid).value().isMicOn);  // the host keeps its microphone
    ASSERT_TRUE(
        send(host, MuteAllParticipantsAudioRequest(setup.meetingId, setup.roomId, true, false))
            .getResult()
            .ok());
    ASSERT_TRUE(
        send(host, MuteAllParticipantsAudioRequest(setup.meetingId, setup.roomId, false, true))
            .getResult()
            .ok());
    s = status(ann);
    EXPECT_FALSE(s.isRoomAudioHardMuted);
    EXPECT_TRUE(s.isRoomAudioSoftMuted);

    const HostActionsRequest handsDown(setup.meetingId, setup.roomId, setup.pin, true);
    ASSERT_TRUE(send(host, handsDown).getResult().ok());
    expectServiceSaw(service, R::hostActions, handsDown, false, host.token);
    EXPECT_FALSE(find(status(ann), ann.uid).value().isHandRaise);

    const CoHostRequest coHost(setup.meetingId, setup.roomId, setup.pin, ann.userId, true);
    const auto coHostReply = send(host, coHost);
    ASSERT_TRUE(coHostReply.getResult().ok());
    EXPECT_EQ(coHostReply.getResult().value().status, "success");
    expectServiceSaw(service, R::hostActions, coHost, false, host.token);
    EXPECT_TRUE(find(status(ann), ann.uid).value().isCoHost);

    const ChangeUserRoleRequest toAudience(setup.meetingId, setup.roomId, setup.pin, ann.uid,
                                           KRUserRole::audience());
    ASSERT_TRUE(send(host, toAudience).getResult().ok());
    expectServiceSaw(service, R::changeUserRole, toAudience, false, host.token);
    EXPECT_EQ(find(status(ann), ann.uid).value().participantType,
              KRMeetingParticipantType::audience);

    const LockMeetingRequest lock(setup.roomId, host.historyId);
    ASSERT_TRUE(send(host, lock).getResult().ok());
    expectServiceSaw(service, R::lockMeeting, lock, false, host.token);
    EXPECT_TRUE(service.room(setup.meetingId)->isLocked);

    // A locked room refuses the next join with the code the facade branches on.
    Member bob{newClient(), true, {}, {}, {}, {}, "Bob"};
    const auto login = send(bob, GuestLoginRequest(setup.meetingId, "", setup.pin, "Bob", ""));
    ASSERT_TRUE(login.getResult().ok());
    bob.token = login.getResult().value().jwtToken();
    bob.client->setJwtToken(bob.token);
    const auto refused = send(bob, JoinCallRequest(setup.meetingId, setup.roomId, setup.pin, "Bob",
                                                   "", "", "", bob.token, ""));
    EXPECT_EQ(refusalCode(refused), "ROOMLOCKED");
    EXPECT_EQ(refused.getResult().error().getStatusCode(), 403);
    EXPECT_EQ(refusalCode(send(bob, GetRoomDetailsRequest(setup.meetingId, setup.pin, ""))),
              "ROOMLOCKED");

    const UnLockMeetingRequest unlock(setup.roomId, host.historyId);
    ASSERT_TRUE(send(host, unlock).getResult().ok());
    expectServiceSaw(service, R::unLockMeeting, unlock, false, host.token);
    EXPECT_TRUE(send(bob, JoinCallRequest(setup.meetingId, setup.roomId, setup.pin, "Bob", "", "",
                                          "", bob.token, ""))
                    .getResult()
                    .ok());

    const RemoveParticipantRequest removeAnn(setup.meetingId, ann.uid);
    ASSERT_TRUE(send(host, removeAnn).getResult().ok());
    expectServiceSaw(service, R::removeParticipant, removeAnn, false, host.token);
    EXPECT_FALSE(find(status(host), ann.uid).has_value());
    EXPECT_FALSE(service.participant(setup.meetingId, ann.uid).has_value());
    EXPECT_EQ(refusalCode(post(ann, true)), "REMOVED");  // and cannot report itself back
    EXPECT_FALSE(find(status(host), ann.uid).has_value());
}

TEST_F(LocalMeetingServiceIntegrationTest, HostControlsNeedTheHost) {
    Member ann = joinAsGuest("Ann");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(refusalCode(send(ann, LockMeetingRequest(setup.roomId, ann.historyId))), "FORBIDDEN");
    EXPECT_EQ(refusalCode(send(ann, MuteAllParticipantsAudioRequest(setup.meetingId, setup.roomId,
                                                                    false, true))),
              "FORBIDDEN");
    EXPECT_EQ(refusalCode(send(ann, StartRecordingRequest(ann.historyId))), "FORBIDDEN");
    EXPECT_FALSE(service.room(setup.meetingId)->isLocked);

    // A guest with the room's host token is the host.
    Member host = joinAsGuest("Hal", setup.hostToken);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(send(host, LockMeetingRequest(setup.roomId, host.historyId)).getResult().ok());
    EXPECT_TRUE(find(status(host), host.uid).value().isHost);

    // Nobody reports the state of another user's participant.
    Member impostor = ann;
    impostor.uid = host.uid;
    EXPECT_EQ(refusalCode(post(impostor, false)), "FORBIDDEN");
    EXPECT_TRUE(service.participant(setup.meetingId, host.uid)->isConnected);
    EXPECT_EQ(service.participant(setup.meetingId, host.uid)->userId, host.userId);

    // No token, or a token the service did not sign: refused before anything changes.
    Member stranger{newClient(), true, {}, {}, {}, {}, "Eve"};
    EXPECT_EQ(refusalCode(send(stranger, UnLockMeetingRequest(setup.roomId, host.historyId))),
              "UNAUTHORIZED");
    std::string forged = host.token;
    forged.back() = forged.back() == 'A' ? 'B' : 'A';
    stranger.client->setJwtToken(forged);
    EXPECT_EQ(refusalCode(send(stranger, UnLockMeetingRequest(setup.roomId, host.historyId))),
              "UNAUTHORIZED");
    EXPECT_TRUE(service.room(setup.meetingId)->isLocked);
}

TEST_F(LocalMeetingServiceIntegrationTest, SharesRecordingAndChatThread) {
    Member host = joinAsGuest("Hal", setup.hostToken);
    Member ann = joinAsGuest("Ann");
    ASSERT_FALSE(HasFatalFailure());

    const StartScreenShareRequest share(setup.meetingId, ann.uid);
    const auto shareReply = send(ann, share);
    ASSERT_TRUE(shareReply.getResult().ok());
    expectServiceSaw(service, R::shareScreen, share, true, ann.token);
    const KRStartShareScreen started = shareReply.getResult().value();
    EXPECT_TRUE(started.success());
    EXPECT_NE(started.agoraUid(), 0u);
    EXPECT_FALSE(started.agoraToken().value_or("").empty());
    auto s = status(host);
    EXPECT_TRUE(s.isScreenShared);
    EXPECT_EQ(s.screenOrWhiteBoardSharingUserId, ann.uid);
    EXPECT_EQ(s.screenOrWhiteBoardSharingUserName, "Ann");
    EXPECT_EQ(s.screenSharedObjectUid(), started.agoraUid());

    const StopScreenShareRequest stopShare(setup.meetingId, ann.uid);
    ASSERT_TRUE(send(ann, stopShare).getResult().ok());
    expectServiceSaw(service, R::shareScreen, stopShare, true, ann.token);
    s = status(host);
    EXPECT_FALSE(s.isScreenOrWhiteboardShared);
    EXPECT_TRUE(s.screenSharedObjectId.empty());

    const StartWhiteboardRequest board(setup.meetingId, host.uid, host.historyId, false);
    const auto boardReply = send(host, board);
    ASSERT_TRUE(boardReply.getResult().ok());
    expectServiceSaw(service, R::startWhiteboard, board, true, host.token);
    const auto whiteboardId = boardReply.getResult().value().whiteboardId();
    ASSERT_TRUE(whiteboardId.has_value());
    EXPECT_TRUE(boardReply.getResult().value().jwt().has_value());

    const StartWhiteboardRequest remote(setup.meetingId, ann.uid, ann.historyId, true);
    const auto remoteReply = send(ann, remote);
    ASSERT_TRUE(remoteReply.getResult().ok());
    expectServiceSaw(service, R::remoteWhiteboard, remote, true, ann.token);
    EXPECT_EQ(remoteReply.getResult().value().whiteboardId(), whiteboardId);
    s = status(ann);
    EXPECT_TRUE(s.isWhiteBoardShared);
    EXPECT_FALSE(s.isScreenShared);
    EXPECT_EQ(s.screenOrWhiteBoardSharingUserName, "Hal");

    const StopWhiteboardRequest stopBoard(setup.meetingId, host.uid);
    const auto stopBoardReply = send(host, stopBoard);
    ASSERT_TRUE(stopBoardReply.getResult().ok());
    expectServiceSaw(service, R::shareScreen, stopBoard, true, host.token);
    EXPECT_FALSE(status(ann).isWhiteBoardShared);
    EXPECT_EQ(refusalCode(send(ann, remote)), "NOTFOUNDERROR");

    const StartRecordingRequest record(host.historyId);
    const auto recordReply = send(host, record);
    ASSERT_TRUE(recordReply.getResult().ok());
    expectServiceSaw(service, R::startRecording, record, true, host.token);
    EXPECT_EQ(recordReply.getResult().value().id(), service.room(setup.meetingId)->recordingId);
    EXPECT_TRUE(status(ann).isRecording);
    const StopRecordingRequest stopRecord(host.historyId);
    const auto stopRecordReply = send(host, stopRecord);
    ASSERT_TRUE(stopRecordReply.getResult().ok());
    expectServiceSaw(service, R::stopRecording, stopRecord, true, host.token);
    EXPECT_EQ(stopRecordReply.getResult().value().status, "stopped");
    EXPECT_FALSE(status(ann).isRecording);

    const LeaveChatThreadRequest leaveThread(setup.chatThreadId);
    const auto leaveThreadReply = send(ann, leaveThread);
    ASSERT_TRUE(leaveThreadReply.getResult().ok());
    expectServiceSaw(service, R::leaveChatThread, leaveThread, true, ann.token);
    EXPECT_EQ(leaveThreadReply.getResult().value().id(), setup.chatThreadId);
    EXPECT_EQ(service.room(setup.meetingId)->chatThreadLeavers.count(ann.userId), 1u);

    // A sharer who disconnects stops sharing.
    ASSERT_TRUE(send(ann, share).getResult().ok());
    ASSERT_TRUE(post(ann, false).getResult().ok());
    s = status(host);
    EXPECT_FALSE(s.isScreenShared);
    EXPECT_FALSE(find(s, ann.uid).has_value());
}

TEST_F(LocalMeetingServiceIntegrationTest, OneScreenShareAtATimeAndOnlyUnderTheSharersOwnId) {
    Member host = joinAsGuest("Hal", setup.hostToken);
    Member ann = joinAsGuest("Ann");
    Member bob = joinAsGuest("Bob");
    ASSERT_FALSE(HasFatalFailure());

    // Ann's client reports a share through its status post, then Bob starts one.
    ASSERT_TRUE(
        send(ann, statusPost(ann, {.isVideoMuted = true, .isSharingScreen = true, .isConnected = true}))
            .getResult()
            .ok());
    ASSERT_TRUE(find(status(host), ann.uid).value().isSharingScreen);
    ASSERT_TRUE(send(bob, StartScreenShareRequest(setup.meetingId, bob.uid)).getResult().ok());
    auto s = status(host);
    EXPECT_FALSE(find(s, ann.uid).value().isSharingScreen);
    EXPECT_TRUE(find(s, bob.uid).value().isSharingScreen);
    EXPECT_EQ(s.screenOrWhiteBoardSharingUserId, bob.uid);

    // Nobody starts or stops a share under someone else's id, not even the host.
    EXPECT_EQ(refusalCode(send(ann, StopScreenShareRequest(setup.meetingId, bob.uid))),
              "FORBIDDEN");
    EXPECT_EQ(refusalCode(send(host, StopScreenShareRequest(setup.meetingId, bob.uid))),
              "FORBIDDEN");
    EXPECT_EQ(refusalCode(send(ann, StartScreenShareRequest(setup.meetingId, bob.uid))),
              "FORBIDDEN");
    EXPECT_EQ(refusalCode(send(ann, StartScreenShareRequest(setup.meetingId, "no-such-uid"))),
              "NOTFOUNDERROR");
    EXPECT_EQ(status(host).screenOrWhiteBoardSharingUserId, bob.uid);
    ASSERT_TRUE(send(bob, StopScreenShareRequest(setup.meetingId, bob.uid)).getResult().ok());
    EXPECT_FALSE(status(host).isScreenShared);
}

TEST_F(LocalMeetingServiceIntegrationTest, WrongOrEndedMeetingsAreRefusedWithTheirCodes) {
    Member m{newClient(), true, {}, {}, {}, {}, "Ann"};
    EXPECT_EQ(refusalCode(send(m, GetRoomDetailsRequest(setup.meetingId, "0000", ""))),
              "NOTFOUNDERROR");
    EXPECT_EQ(refusalCode(send(m, GuestLoginRequest("999", "", setup.pin, "Ann", ""))),
              "NOTFOUNDERROR");
    service.endMeeting(setup.meetingId);
    const auto ended = send(m, GetRoomDetailsRequest(setup.meetingId, setup.pin, ""));
    EXPECT_EQ(refusalCode(ended), "MEETING_ENDED");
    EXPECT_EQ(ended.getResult().error().getMessageString(), "The meeting has ended");
}

}  // namespace
}  // namespace kr::test
