#include "KivRaneCoreSDK/Meeting/DefaultEngineBackend.h"

#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Media/MediaCodes.h"

// The default engine's set-up, join and leave of the messaging session and the media channel,
// the calls the client makes of the wrapper, and the control messages it sends.

namespace kr {

DefaultEngineBackend::DefaultEngineBackend(ClientCore& core) : core_(core) {}

DefaultEngineBackend::~DefaultEngineBackend() = default;

// ---- Join and leave ----

void DefaultEngineBackend::join(const KRJoinMeetingConfig&) {
    if (core_.shouldByPassAPICalls_) {
        core_.mediaJoinRequested();
        joinMessagingAndEngine();
        return;
    }
    core_.startServerJoin();
}

void DefaultEngineBackend::joinMessagingAndEngine() {
    configureRtm();
    configureEngineAndJoin();
}

void DefaultEngineBackend::cancelJoin(bool mediaAwaited) {
    if (!mediaAwaited) return;
    cancelEngineJoin();
    leaveRtm();
}

void DefaultEngineBackend::leave() {
    leaveEngine();
    leaveRtm();
}

void DefaultEngineBackend::configureRtm() {
    const KRCurrentRoom& room = core_.currentRoom_;
    core_.rtmManager_->setDelegate(messagingEvents_);
    core_.rtmManager_->configureRtmKit(room.webRtcAppId, room.userWebRtmToken, room.userWebRtcId,
                                       room.roomID);
}

void DefaultEngineBackend::leaveRtm() { core_.rtmManager_->leaveAndLogout(); }

void DefaultEngineBackend::configureEngineAndJoin() {
    const KRCurrentRoom& room = core_.currentRoom_;
    const auto uid = mediaUidOf(room.userWebRtcId);
    if (!uid) {
        // Joining as uid 0 would let the engine pick an id nobody else knows this user by.
        core_.logger_.error("Media join refused: unusable media uid \"" + room.userWebRtcId +
                            "\"");
        const MeetingSession::Token session = core_.sessionToken();
        std::weak_ptr<ClientCore> weak = core_.weak_from_this();
        core_.queue_->post([weak, session] {
            auto core = weak.lock();
            if (core && session.live()) {
                core->failJoin(KRMeetingJoinError::other("The room gave no usable media uid"));
            }
        });
        return;
    }
    forgetRemoteStreams();
    rtcManager_->configureRTCEngine(room.webRtcAppId, engineEvents_,
                                    static_cast<int>(core_.activeSpeakerCallbackInterval_));
    rtcManager_->configureVideoEncoderConfiguration(core_.highQualityEncoderSettings());
    if (const auto low = core_.lowQualityEncoderSettings()) {
        rtcManager_->configureLowQualityVideoStream(*low);
    }
    // Before the join, so the channel never hears a microphone or camera the user kept off.
    rtcManager_->muteUnmuteLocalAudio(room.isCurrentUserAudioMuted);
    rtcManager_->muteUnmuteLocalVideo(room.isCurrentUserVideoMuted);
    engineChannelRequested_ = true;
    rtcManager_->joinRoom(*uid, room.userWebRtcToken, room.roomID,
                          core_.isLocalUserInAudienceMode_, core_.virtualBackgroundType_);
}

void DefaultEngineBackend::leaveEngine() {
    const auto& engine = rtcManager_->rtcEngine();
    const bool inChannel =
        engineChannelRequested_ && engine &&
        engine->getConnectionState() != platform::MediaCodes::kConnectionDisconnected;
    if (!inChannel) {
        // No channel to leave, so no report of leaving one will come.
        engineChannelRequested_ = false;
        rtcManager_->setDelegate({});
        core_.handleLocalMediaLeft();
        return;
    }
    rtcManager_->leaveMeetingRoom();
}

void DefaultEngineBackend::cancelEngineJoin() {
    forgetRemoteStreams();
    if (engineChannelRequested_) {
        rtcManager_->leaveMeetingRoom();
    }
}

void DefaultEngineBackend::forgetRemoteStreams() {
    pendingStreamUids_.clear();
    unaskedStreamUids_.clear();
    remoteAudienceUids_.clear();
}

// ---- Local media and devices ----

void DefaultEngineBackend::muteLocalMedia(bool audio, bool isMute) {
    if (audio) {
        rtcManager_->muteUnmuteLocalAudio(isMute);
    } else {
        rtcManager_->muteUnmuteLocalVideo(isMute);
    }
}

void DefaultEngineBackend::switchClientRole(bool isAudience) {
    // The engine's role report then tells the host app, and retries a refused broadcaster role.
    rtcManager_->switchClientRole(isAudience);
}

void DefaultEngineBackend::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    rtcManager_->applyVirtualBackground(background);
}

void DefaultEngineBackend::startPreview() { rtcManager_->startPreview(); }

void DefaultEngineBackend::stopPreview() { rtcManager_->stopPreview(); }

void DefaultEngineBackend::switchCamera() { rtcManager_->switchCamera(); }

void DefaultEngineBackend::switchAudioDevice(KRAudioDeviceType type) {
    rtcManager_->switchAudioDevice(type);
}

void DefaultEngineBackend::subscribeRemoteMedia(bool audio, const std::string& id,
                                                bool subscribe) {
    audio ? rtcManager_->muteUnmuteUserAudioStream(!subscribe, id)
          : rtcManager_->muteUnmuteUserVideoStream(!subscribe, id);
}

void DefaultEngineBackend::setRemoteStreamQuality(KRRemoteStreamQuality quality,
                                                  const std::string& uid) {
    rtcManager_->setRemoteStreamQuality(quality, uid);
}

// ---- Control messages: through the messaging session ----

void DefaultEngineBackend::sendControlMessage(KRControlMessage kind,
                                              const std::shared_ptr<KRMeetingUser>& target,
                                              Completion completion,
                                              const std::string& reactionsType) {
    if (core_.shouldByPassAPICalls_ && (kind == KRControlMessage::participantStartScreenShare ||
                                        kind == KRControlMessage::participantStopScreenShare)) {
        core_.completeLater(std::move(completion), false);
        return;
    }
    auto message = makeControlMessage(kind, core_.currentRoom_,
                                      core_.localScreenShare().streamUid(), target.get(),
                                      reactionsType);
    if (!message) {
        core_.logger_.warn("Control message not sent: it names no participant to send it to");
        core_.completeLater(std::move(completion), false);
        return;
    }
    core_.rtmManager_->sendMessage(*message, std::move(completion));
}

// ---- Participants: the room store's ----

std::vector<std::shared_ptr<KRMeetingUser>> DefaultEngineBackend::meetingUsers() const {
    return core_.currentRoom_.meetingUsers();
}

std::shared_ptr<KRMeetingUser> DefaultEngineBackend::localUser() const {
    return core_.currentRoom_.getLocalUser();
}

std::shared_ptr<KRMeetingUser> DefaultEngineBackend::user(const std::string& id) const {
    return core_.currentRoom_.trackUser(id);
}

std::vector<std::shared_ptr<KRMediaTrack>> DefaultEngineBackend::mediaTracks() const {
    return core_.currentRoom_.allMediaTracks;
}

}  // namespace kr
