#include "KivRaneCoreSDK/Meeting/RoomEngineBackend.h"

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "platform/Media/MediaEngineFactory.h"

// The room engine backend's set-up: the server calls every join of it needs, then the engine the
// room chose (the library's own for "agora", the host's for "kr-media") prepared and asked to
// join; the media part of its leave; and its answers to the client's media calls.

namespace kr {

RoomEngineBackend::RoomEngineBackend(ClientCore& client) : c_(client) {}
RoomEngineBackend::~RoomEngineBackend() = default;

// ---- The client's accessors of this backend ----

const std::shared_ptr<RtcManagerProtocol>& ClientCore::rtcEngineManager() const {
    return roomEngine().engine();
}
void ClientCore::setRtcEngineManager(std::shared_ptr<RtcManagerProtocol> engine) {
    KR_DCHECK_RUN_ON(checker_);
    roomEngine().setEngine(std::move(engine));
}
void ClientCore::configureForMultiMediaEngine(const KRJoinMeetingConfig& config) {
    roomEngine().configureForMultiMediaEngine(config);
}
bool ClientCore::isWaitingToBeReconnect() const { return roomEngine().isWaitingToBeReconnect(); }
std::shared_ptr<RtcManagerDelegate> ClientCore::multiMediaRtcDelegate() {
    return roomEngine().rtcDelegate();
}
std::shared_ptr<RtmManagerDelegate> ClientCore::multiMediaRtmDelegate() {
    return roomEngine().rtmDelegate();
}

// ---- The engine and the join ----

void RoomEngineBackend::setEngine(std::shared_ptr<RtcManagerProtocol> engine) {
    rtcEngineManager_ = std::move(engine);
    ownsRtcEngine_ = false;
}

void RoomEngineBackend::configureForMultiMediaEngine(const KRJoinMeetingConfig& config) {
    KR_DCHECK_RUN_ON(c_.checker_);
    // One engine per client: a second set-up would start a second engine in a running meeting.
    if (!c_.isJoining() || !c_.session_->markMediaSetUp()) {
        c_.logger_.warn("Multimedia engine set-up refused: no join is waiting for it");
        return;
    }
    c_.networkClient_->setDeviceId(getDeviceId(c_.deps_));
    if (c_.isGuestUserFlow_) {
        c_.networkClient_->setJwtToken("");
    }
    // The server's part in the order the role asks (as a guest, whoever the host app signed
    // in), then the engine the room names.
    using JoinStep = ClientCore::JoinStep;
    std::vector<JoinStep> steps{{"configuration", [](ClientCore& c, ClientCore::JoinStepDone done) {
                                     c.getConfigurations(std::move(done));
                                 }}};
    for (JoinStep& step : c_.loginSteps(false)) steps.push_back(std::move(step));
    steps.push_back({"room engine", [config](ClientCore& c, ClientCore::JoinStepDone) {
                         c.roomEngine().handlePostLoginSuccess(config);
                     }});
    c_.runJoinSteps(std::make_shared<const std::vector<JoinStep>>(std::move(steps)), 0);
}

void RoomEngineBackend::handlePostLoginSuccess(const KRJoinMeetingConfig& config) {
    if (c_.currentRoom_.mediaEngine == KRRoomMediaEngine::agora) {
        configureMeetingForAgoraMediaEngine(config);
    } else {
        configureMeetingForKRMediaEngine(config);
    }
}

void RoomEngineBackend::setStartingMedia(const KRJoinMeetingConfig& config, bool audience) {
    auto& room = c_.currentRoom_;
    c_.isLocalUserInAudienceMode_ = audience;
    room.isCurrentUserInAudienceMode = audience;
    // The options' choice, within the room's rules the room details brought (as on the default
    // engine): the audience starts with both off, what the room does not allow at joining stays
    // off, and under the hard mute only a host may start with the microphone open.
    const bool isHost = c_.userRole_.kind() == KRUserRole::Kind::host || room.isGuestHost;
    c_.isInitialAudioOn_ =
        !audience && room.isAudioOnJoinAllowed &&
        AgoraRtcJoinData::audioOnAtJoin(
            config.isInitialAudioOn(), room.isHardMuteEnabled,
            isHost ? KRUserRole::host(c_.userRole_.getToken()) : KRUserRole::speaker());
    c_.isInitialVideoOn_ = !audience && room.isVideoOnJoinAllowed && config.isInitialVideoOn();
    room.isCurrentUserAudioMuted = !c_.isInitialAudioOn_;
    room.isCurrentUserVideoMuted = !c_.isInitialVideoOn_;
}

void RoomEngineBackend::configureMeetingForAgoraMediaEngine(const KRJoinMeetingConfig& config) {
    auto& room = c_.currentRoom_;
    const bool audience = config.userRole().kind() == KRUserRole::Kind::audience;
    setStartingMedia(config, audience);

    // A held engine of this client goes before the new one is made: never two engines.
    if (rtcEngineManager_) {
        rtcEngineManager_->setRtmDelegate({});
    }
    const std::shared_ptr<RtcManagerProtocol> engine =
        AgoraRtcManager::create(c_.deps_, c_.mediaEngineFactory());
    rtcEngineManager_ = engine;
    ownsRtcEngine_ = true;

    boost::json::object configureData;
    configureData[AgoraRtcJoinData::kAppId] = room.webRtcAppId;
    AgoraRtcJoinData join;
    join.channelId = room.roomID;
    join.userUid = room.userWebRtcId;
    join.rtcToken = room.userWebRtcToken;
    join.rtmToken = room.userWebRtmToken;
    join.role = audience ? KRUserRole::audience() : KRUserRole::speaker();
    join.initialAudioOn = c_.isInitialAudioOn_;
    join.initialVideoOn = c_.isInitialVideoOn_;
    // The engine puts the background in place before it joins: the camera never goes out bare.
    join.virtualBackground = c_.virtualBackgroundType_;

    // The library's own engine reports on the queue, never from inside these calls.
    engine->configureRtcEngine(configureData, rtcDelegate());
    engine->setRtmDelegate(rtmDelegate());
    engine->configureVideoEncoderConfiguration(c_.highQualityEncoderSettings());
    if (const auto low = c_.lowQualityEncoderSettings()) {
        engine->configureLowQualityVideoStream(*low);
    }
    channelAsked_ = true;
    engine->joinRoom(join.toObject());
}

boost::json::object RoomEngineBackend::krMediaJoinData() const {
    const auto& room = c_.currentRoom_;
    boost::json::object data;
    data["meetingId"] = room.meetingId;
    data["meetingPin"] = room.meetingPin;
    data["displayName"] = room.userDisplayName;
    data["serverEnvironment"] = std::string(rawValue(c_.getServerEnvironment()));
    return data;
}

void RoomEngineBackend::configureMeetingForKRMediaEngine(const KRJoinMeetingConfig& config) {
    // The host's engine has no audience: whatever the role, the user joins as a speaker.
    setStartingMedia(config, false);
    if (!rtcEngineManager_) {
        c_.logger_.warn("No engine was supplied for this \"kr-media\" room: the join stops here");
        return;
    }
    rtcEngineManager_->configureRtcEngine(boost::json::object{}, rtcDelegate());
    if (rtcEngineManager_) rtcEngineManager_->setRtmDelegate(rtmDelegate());
    channelAsked_ = rtcEngineManager_ != nullptr;
    if (rtcEngineManager_) rtcEngineManager_->joinRoom(krMediaJoinData());
}

void RoomEngineBackend::cancelJoin(bool) {
    if (std::exchange(channelAsked_, false) && rtcEngineManager_) {
        // Nothing of a failed join may stay in the media channel, nor report from it.
        rtcEngineManager_->leaveRtcChannel();
    }
}

void RoomEngineBackend::leave() {
    if (!rtcEngineManager_ || !channelAsked_) {
        // Nothing will report the leave (no engine, or a host's engine that was never asked
        // into a channel): finish it here so the host still hears it.
        handleLocalLeave(c_.localUserLeftReason_);
        return;
    }
    rtcEngineManager_->leaveRtcChannel();
}

void RoomEngineBackend::networkStateChanged(bool isConnected) {
    if (!isConnected || !isWaitingToBeReconnect_ || !c_.hasJoinedMeeting() ||
        c_.currentRoom_.mediaEngine != KRRoomMediaEngine::krmedia || !rtcEngineManager_) {
        return;
    }
    c_.logger_.info("Network is back: joining the media channel again");
    rtcEngineManager_->joinRoom(krMediaJoinData());
}

// ---- Local media ----

void RoomEngineBackend::muteLocalMedia(bool audio, bool isMute) {
    if (audio) {
        c_.currentRoom_.isCurrentUserAudioMuted = isMute;
        if (rtcEngineManager_) rtcEngineManager_->muteUnmuteLocalAudio(isMute);
    } else {
        c_.currentRoom_.isCurrentUserVideoMuted = isMute;
        if (rtcEngineManager_) rtcEngineManager_->muteUnmuteLocalVideo(isMute);
    }
}

void RoomEngineBackend::switchClientRole(bool) {
    c_.logger_.info("Client role switch asked of the media channel");
}

void RoomEngineBackend::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    if (rtcEngineManager_ && channelAsked_) {
        // Its join data carried the earlier choice; a change from now on goes to it directly.
        rtcEngineManager_->applyVirtualBackground(background);
    }
}

// ---- Participants: the merge's ----

bool RoomEngineBackend::knowsLocalShareWithoutTrack() const {
    const auto& merge = c_.meetingUsersManager_;
    return merge.isSharingScreen(merge.getCurrentParticipantId());
}

std::vector<std::shared_ptr<KRMeetingUser>> RoomEngineBackend::meetingUsers() const {
    return c_.meetingUsersManager_.getAllMeetingUser();
}

std::shared_ptr<KRMeetingUser> RoomEngineBackend::localUser() const {
    return c_.meetingUsersManager_.getLocalUser();
}

std::shared_ptr<KRMeetingUser> RoomEngineBackend::user(const std::string& id) const {
    return c_.meetingUsersManager_.getMeetingUser(id);
}

std::vector<std::shared_ptr<KRMediaTrack>> RoomEngineBackend::mediaTracks() const {
    std::vector<std::shared_ptr<KRMediaTrack>> tracks;
    for (const auto& user : c_.meetingUsersManager_.getAllMeetingUser()) {
        tracks.push_back(user);
    }
    for (const auto& share : c_.meetingUsersManager_.getScreenShareTracks()) {
        tracks.push_back(share);
    }
    return tracks;
}

bool RoomEngineBackend::markLocalHand(bool isRaised) {
    // This backend's local user lives in the participant merge, and only after the local join.
    auto local = c_.meetingUsersManager_.getLocalUser();
    if (!local) return false;
    local->setIsHandRaised(isRaised);
    return true;
}

}  // namespace kr
