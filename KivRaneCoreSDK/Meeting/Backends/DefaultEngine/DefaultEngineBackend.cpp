#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/Meeting/Backends/DefaultEngine/DefaultEngineBackend.h"

#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "KivRaneCoreSDK/RTM/Managers/KRRtmManager.h"
#include "platform/Media/MediaCodes.h"

// The default engine's set-up, join and leave of the messaging session and the media channel,
// the calls the client makes of the wrapper, and the control messages it sends.

namespace kr {

DefaultEngineBackend::DefaultEngineBackend(
    MeetingPort& port, const KRDependencies& dependencies,
    const std::shared_ptr<platform::MediaEngineFactory>& engineFactory)
    : port_(port),
      queue_(dependencies.queue),
      rtcManager_(KRRtcManger::create(
          dependencies.queue, engineFactory,
          std::make_shared<KivRaneRealTimeLogger2>("KivRaneRTC", dependencies.logCollector))),
      rtmManager_(KRRtmManager::create(dependencies)) {}

DefaultEngineBackend::~DefaultEngineBackend() = default;

// ---- Join and leave ----

void DefaultEngineBackend::join(const KRJoinMeetingConfig&) {
    // The backend is the core's for its whole life, so `this` outlives the join's steps.
    port_.runServerJoin(MeetingPort::ServerJoin::allSteps, [this] { joinMessagingAndEngine(); });
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

void DefaultEngineBackend::detachFromChannel() {
    engineChannelRequested_ = false;
    rtcManager_->setDelegate({});
}

void DefaultEngineBackend::abandonLeaveReport() {
    detachFromChannel();
    // Left in its channel, the engine would refuse the next meeting's join.
    rtcManager_->dropEngineStillInChannel();
}

void DefaultEngineBackend::configureRtm() {
    const KRCurrentRoom& room = port_.room();
    // A receiver of this join's own: what the session still carries of an earlier meeting
    // reaches that meeting's receiver, which no longer acts.
    messagingEvents_ = makeMessagingEvents();
    rtmManager_->setDelegate(messagingEvents_);
    rtmManager_->configureRtmKit(room.webRtcAppId, room.userWebRtmToken, room.userWebRtcId,
                                 room.roomID);
}

void DefaultEngineBackend::leaveRtm() { rtmManager_->leaveAndLogout(); }

void DefaultEngineBackend::configureEngineAndJoin() {
    const KRCurrentRoom& room = port_.room();
    const auto uid = mediaUidOf(room.userWebRtcId);
    if (!uid) {
        // Joining as uid 0 would let the engine pick an id nobody else knows this user by.
        port_.logger().error("Media join refused: unusable media uid \"" + room.userWebRtcId +
                             "\"");
        const MeetingSession::Token session = port_.sessionToken();
        queue_->post([weak = port_.weakPort(), session] {
            auto port = weak.lock();
            if (port && session.live()) {
                port->failJoin(KRMeetingJoinError::other("The room gave no usable media uid"));
            }
        });
        return;
    }
    forgetRemoteStreams();
    confirmedLocal_.reset();
    engineEvents_ = makeEngineEvents();
    const MeetingPort::EngineSetUp setUp = port_.engineSetUp();
    rtcManager_->configureRTCEngine(room.webRtcAppId, engineEvents_,
                                    static_cast<int>(setUp.activeSpeakerInterval));
    rtcManager_->configureVideoEncoderConfiguration(setUp.highQuality);
    if (setUp.lowQuality) {
        rtcManager_->configureLowQualityVideoStream(*setUp.lowQuality);
    }
    // Before the join, so the channel never hears a microphone or camera the user kept off.
    rtcManager_->muteUnmuteLocalAudio(room.isCurrentUserAudioMuted);
    rtcManager_->muteUnmuteLocalVideo(room.isCurrentUserVideoMuted);
    engineChannelRequested_ = true;
    rtcManager_->joinRoom(*uid, room.userWebRtcToken, room.roomID,
                          port_.isLocalUserInAudienceMode(), setUp.virtualBackground);
}

void DefaultEngineBackend::leaveEngine() {
    const auto& engine = rtcManager_->rtcEngine();
    const bool inChannel =
        engineChannelRequested_ && engine &&
        engine->getConnectionState() != platform::MediaCodes::kConnectionDisconnected;
    if (!inChannel) {
        // No channel to leave, so no report of leaving one will come.
        detachFromChannel();
        port_.handleLocalMediaLeft();
        return;
    }
    rtcManager_->leaveMeetingRoom();
}

void DefaultEngineBackend::recordLocalParticipant() {
    KRCurrentRoom& room = port_.room();
    // The engine's own participant when it gave one; else the uid the join end settled on, with
    // the state this client asked the engine for.
    KRRtcParticipantState local;
    if (confirmedLocal_ && std::to_string(confirmedLocal_->uid) == room.userWebRtcId) {
        local = *confirmedLocal_;
    } else {
        local.uid = mediaUidOf(room.userWebRtcId).value_or(0);
        local.isAudioMuted = room.isCurrentUserAudioMuted;
        local.isVideoMuted = room.isCurrentUserVideoMuted;
        local.isAudience = port_.isLocalUserInAudienceMode();
    }
    confirmedLocal_.reset();
    room.upsertNewParticipantFromRtcDB(local);
}

void DefaultEngineBackend::releaseMeetingMedia() {
    confirmedLocal_.reset();
    rtmManager_->setDelegate({});  // nothing the others send reaches a meeting that ended
}

void DefaultEngineBackend::cancelEngineJoin() {
    forgetRemoteStreams();
    confirmedLocal_.reset();
    if (engineChannelRequested_) {
        rtcManager_->leaveMeetingRoom();
    }
}

void DefaultEngineBackend::forgetRemoteStreams() {
    pendingStreamUids_.clear();
    unaskedStreamUids_.clear();
    remoteAudienceUids_.clear();
    standIns_.clear();
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
    auto message = makeControlMessage(kind, port_.room(), port_.localShare().streamUid(),
                                      target.get(), reactionsType);
    if (!message) {
        port_.logger().warn("Control message not sent: it names no participant to send it to");
        port_.completeLater(std::move(completion), false);
        return;
    }
    rtmManager_->sendMessage(*message, std::move(completion));
}

// ---- Participants: the room store's ----

std::vector<std::shared_ptr<KRMeetingUser>> DefaultEngineBackend::meetingUsers() const {
    return port_.room().meetingUsers();
}

std::shared_ptr<KRMeetingUser> DefaultEngineBackend::localUser() const {
    return port_.room().getLocalUser();
}

std::shared_ptr<KRMeetingUser> DefaultEngineBackend::user(const std::string& id) const {
    return port_.room().trackUser(id);
}

std::vector<std::shared_ptr<KRMediaTrack>> DefaultEngineBackend::mediaTracks() const {
    return port_.room().allMediaTracks;
}

}  // namespace kr
