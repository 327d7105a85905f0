#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "platform/Media/MediaEngineFactory.h"

// The multimedia-engine road's set-up: the server calls every join of this road needs, then the
// engine the room chose (the library's own for "agora", the host's for "kr-media") prepared and
// asked to join; and the media part of its leave.

namespace kr {

void ClientCore::setRtcEngineManager(std::shared_ptr<RtcManagerProtocol> engine) {
    KR_DCHECK_RUN_ON(checker_);
    rtcEngineManager_ = std::move(engine);
    ownsRtcEngine_ = false;
}

void ClientCore::upsertLocalPeerRtcData(const std::shared_ptr<RtcPeerMetaData>& data) {
    meetingUsersManager_.addNewParticipantRtcData(data);
}

void ClientCore::configureForMultiMediaEngine(const KRJoinMeetingConfig& config) {
    KR_DCHECK_RUN_ON(checker_);
    // One engine per client: a second set-up would start a second engine in a running meeting.
    if (!isJoining() || !session_->markMediaSetUp()) {
        logger_.warn("Multimedia engine set-up refused: no join is waiting for it");
        return;
    }
    networkClient_->setDeviceId(getDeviceId(deps_));
    if (isGuestUserFlow_) {
        networkClient_->setJwtToken("");
    }
    // The server's part in the order the role asks (as a guest, whoever the host app signed
    // in), then the engine the room names.
    std::vector<JoinStep> steps{{"configuration", [](ClientCore& c, JoinStepDone done) {
                                     c.getConfigurations(std::move(done));
                                 }}};
    for (JoinStep& step : loginSteps(false)) steps.push_back(std::move(step));
    steps.push_back({"room engine", [config](ClientCore& c, JoinStepDone) {
                         c.handlePostLoginSuccessForMulti(config);
                     }});
    runJoinSteps(std::make_shared<const std::vector<JoinStep>>(std::move(steps)), 0);
}

void ClientCore::handlePostLoginSuccessForMulti(const KRJoinMeetingConfig& config) {
    if (currentRoom_.mediaEngine == KRRoomMediaEngine::agora) {
        configureMeetingForAgoraMediaEngine(config);
    } else {
        configureMeetingForKRMediaEngine(config);
    }
}

void ClientCore::configureMeetingForAgoraMediaEngine(const KRJoinMeetingConfig& config) {
    const bool audience = config.userRole().kind() == KRUserRole::Kind::audience;
    const bool isHost = userRole_.kind() == KRUserRole::Kind::host || currentRoom_.isGuestHost;
    isLocalUserInAudienceMode_ = audience;
    currentRoom_.isCurrentUserInAudienceMode = audience;
    if (audience) {
        isInitialAudioOn_ = false;
        isInitialVideoOn_ = false;
    } else {
        // Under the room's hard mute only a host may start with the microphone open.
        isInitialAudioOn_ = AgoraRtcJoinData::audioOnAtJoin(
            config.isInitialAudioOn(), currentRoom_.isHardMuteEnabled,
            isHost ? KRUserRole::host(userRole_.getToken()) : config.userRole());
        isInitialVideoOn_ = config.isInitialVideoOn();
    }
    currentRoom_.isCurrentUserAudioMuted = !isInitialAudioOn_;
    currentRoom_.isCurrentUserVideoMuted = !isInitialVideoOn_;

    // A held engine of this client goes before the new one is made: never two engines.
    if (rtcEngineManager_) {
        rtcEngineManager_->setRtmDelegate({});
    }
    rtcEngineManager_ = AgoraRtcManager::create(deps_, mediaEngineFactory());
    ownsRtcEngine_ = true;

    boost::json::object configureData;
    configureData[AgoraRtcJoinData::kAppId] = currentRoom_.webRtcAppId;
    AgoraRtcJoinData join;
    join.channelId = currentRoom_.roomID;
    join.userUid = currentRoom_.userWebRtcId;
    join.rtcToken = currentRoom_.userWebRtcToken;
    join.rtmToken = currentRoom_.userWebRtmToken;
    join.role = audience ? KRUserRole::audience() : KRUserRole::speaker();
    join.initialAudioOn = isInitialAudioOn_;
    join.initialVideoOn = isInitialVideoOn_;
    // The engine puts the background in place before it joins: the camera never goes out bare.
    join.virtualBackground = virtualBackgroundType_;

    if (rtcEngineManager_) rtcEngineManager_->configureRtcEngine(configureData, multiMediaRtcDelegate());
    if (rtcEngineManager_) rtcEngineManager_->setRtmDelegate(multiMediaRtmDelegate());
    if (rtcEngineManager_) {
        rtcEngineManager_->configureVideoEncoderConfiguration(
            highQualityEncoderSettings());
    }
    if (const auto low = lowQualityEncoderSettings(); rtcEngineManager_ && low) {
        rtcEngineManager_->configureLowQualityVideoStream(*low);
    }
    multiMediaChannelAsked_ = rtcEngineManager_ != nullptr;
    if (rtcEngineManager_) rtcEngineManager_->joinRoom(join.toObject());
}

boost::json::object ClientCore::krMediaJoinData() const {
    boost::json::object data;
    data["meetingId"] = currentRoom_.meetingId;
    data["meetingPin"] = currentRoom_.meetingPin;
    data["displayName"] = currentRoom_.userDisplayName;
    data["serverEnvironment"] = std::string(rawValue(getServerEnvironment()));
    return data;
}

void ClientCore::configureMeetingForKRMediaEngine(const KRJoinMeetingConfig& config) {
    const bool isHost = userRole_.kind() == KRUserRole::Kind::host || currentRoom_.isGuestHost;
    isLocalUserInAudienceMode_ = false;
    currentRoom_.isCurrentUserInAudienceMode = false;
    isInitialAudioOn_ = AgoraRtcJoinData::audioOnAtJoin(
        config.isInitialAudioOn(), currentRoom_.isHardMuteEnabled,
        isHost ? KRUserRole::host(userRole_.getToken()) : KRUserRole::speaker());
    isInitialVideoOn_ = config.isInitialVideoOn();
    currentRoom_.isCurrentUserAudioMuted = !isInitialAudioOn_;
    currentRoom_.isCurrentUserVideoMuted = !isInitialVideoOn_;
    if (!rtcEngineManager_) {
        logger_.warn("No engine was supplied for this \"kr-media\" room: the join stops here");
        return;
    }
    rtcEngineManager_->configureRtcEngine(boost::json::object{}, multiMediaRtcDelegate());
    if (rtcEngineManager_) rtcEngineManager_->setRtmDelegate(multiMediaRtmDelegate());
    multiMediaChannelAsked_ = rtcEngineManager_ != nullptr;
    if (rtcEngineManager_) rtcEngineManager_->joinRoom(krMediaJoinData());
}

void ClientCore::leaveMultiMediaMeeting() {
    if (!rtcEngineManager_ || !multiMediaChannelAsked_) {
        // Nothing will report the leave (no engine, or a host's engine that was never asked
        // into a channel): finish it here so the host still hears it.
        handleMultiMediaLocalLeave(localUserLeftReason_);
        return;
    }
    rtcEngineManager_->leaveRtcChannel();
}

void ClientCore::handleMultiMediaNetworkState(bool isConnected) {
    if (!isConnected || !isWaitingToBeReconnect_ || !hasJoinedMeeting() ||
        currentRoom_.mediaEngine != KRRoomMediaEngine::krmedia || !rtcEngineManager_) {
        return;
    }
    logger_.info("Network is back: joining the media channel again");
    rtcEngineManager_->joinRoom(krMediaJoinData());
}

void ClientCore::switchLocalMediaInMultiMediaEngine(bool audio, bool isMute) {
    if (audio) {
        currentRoom_.isCurrentUserAudioMuted = isMute;
        if (rtcEngineManager_) rtcEngineManager_->muteUnmuteLocalAudio(isMute);
    } else {
        currentRoom_.isCurrentUserVideoMuted = isMute;
        if (rtcEngineManager_) rtcEngineManager_->muteUnmuteLocalVideo(isMute);
    }
}

}  // namespace kr
