#include "KivRaneCoreSDK/Meeting/Backends/RoomEngine/RoomEngineBackend.h"

#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"
#include "KivRaneCoreSDK/Model/Meeting/KRJoinMeetingConfig.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "platform/Media/MediaEngineFactory.h"

// The room engine backend's set-up: the server calls every join of it needs, then the engine the
// room chose (the library's own for "agora", the host's for "kr-media") prepared and asked to
// join; the media part of its leave; and its answers to the client's media calls.

namespace kr {

RoomEngineBackend::RoomEngineBackend(MeetingPort& port, const KRDependencies& dependencies,
                                     std::shared_ptr<platform::MediaEngineFactory> engineFactory)
    : port_(port), deps_(dependencies), engineFactory_(std::move(engineFactory)) {}
RoomEngineBackend::~RoomEngineBackend() = default;

// ---- The engine and the join ----

void RoomEngineBackend::setEngine(std::shared_ptr<RtcManagerProtocol> engine) {
    KR_DCHECK_RUN_ON(checker_);
    rtcEngineManager_ = std::move(engine);
    ownsRtcEngine_ = false;
}

void RoomEngineBackend::configureForMultiMediaEngine(const KRJoinMeetingConfig& config) {
    KR_DCHECK_RUN_ON(checker_);
    // One engine per client: a second set-up would start a second engine in a running meeting.
    if (!port_.isJoining() || !port_.markMediaSetUp()) {
        port_.logger().warn("Multimedia engine set-up refused: no join is waiting for it");
        return;
    }
    // The server's part in the order the role asks (as a guest, whoever the host app signed
    // in), then the engine the room names. The core owns this backend for its whole life.
    port_.runServerJoin(MeetingPort::ServerJoin::loginOnly,
                        [this, config] { handlePostLoginSuccess(config); });
}

void RoomEngineBackend::handlePostLoginSuccess(const KRJoinMeetingConfig& config) {
    if (port_.room().mediaEngine == KRRoomMediaEngine::agora) {
        configureMeetingForAgoraMediaEngine(config);
    } else {
        configureMeetingForKRMediaEngine(config);
    }
}

RoomEngineBackend::StartingMedia RoomEngineBackend::setStartingMedia(
    const KRJoinMeetingConfig& config, bool audience) {
    const auto& room = port_.room();
    // The options' choice, within the room's rules the room details brought (as on the default
    // engine): the audience starts with both off, what the room does not allow at joining stays
    // off, and under the hard mute only a host may start with the microphone open.
    const KRUserRole& role = port_.joinRole();
    const bool isHost = role.kind() == KRUserRole::Kind::host || room.isGuestHost;
    StartingMedia media;
    media.audioOn = !audience && room.isAudioOnJoinAllowed &&
                    AgoraRtcJoinData::audioOnAtJoin(
                        config.isInitialAudioOn(), room.isHardMuteEnabled,
                        isHost ? KRUserRole::host(role.getToken()) : KRUserRole::speaker());
    media.videoOn = !audience && room.isVideoOnJoinAllowed && config.isInitialVideoOn();
    port_.room().setStartingMedia(audience, media.audioOn, media.videoOn);
    return media;
}

void RoomEngineBackend::configureMeetingForAgoraMediaEngine(const KRJoinMeetingConfig& config) {
    auto& room = port_.room();
    const bool audience = config.userRole().kind() == KRUserRole::Kind::audience;
    const StartingMedia media = setStartingMedia(config, audience);

    // A held engine of this client goes before the new one is made: never two engines.
    if (rtcEngineManager_) {
        rtcEngineManager_->setRtmDelegate({});
    }
    const std::shared_ptr<RtcManagerProtocol> engine =
        AgoraRtcManager::create(deps_, engineFactory_);
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
    join.initialAudioOn = media.audioOn;
    join.initialVideoOn = media.videoOn;
    const MeetingPort::EngineSetUp setUp = port_.engineSetUp();
    // The engine puts the background in place before it joins: the camera never goes out bare.
    join.virtualBackground = setUp.virtualBackground;

    // The library's own engine reports on the queue, never from inside these calls.
    engine->configureRtcEngine(configureData, rtcDelegate());
    engine->setRtmDelegate(rtmDelegate());
    engine->configureVideoEncoderConfiguration(setUp.highQuality);
    if (setUp.lowQuality) {
        engine->configureLowQualityVideoStream(*setUp.lowQuality);
    }
    channelAsked_ = true;
    engine->joinRoom(join.toObject());
}

boost::json::object RoomEngineBackend::krMediaJoinData() const {
    const auto& room = port_.room();
    boost::json::object data;
    data["meetingId"] = room.meetingId;
    data["meetingPin"] = room.meetingPin;
    data["displayName"] = room.userDisplayName;
    data["serverEnvironment"] = std::string(rawValue(port_.serverEnvironment()));
    return data;
}

void RoomEngineBackend::configureMeetingForKRMediaEngine(const KRJoinMeetingConfig& config) {
    // The host's engine has no audience: whatever the role, the user joins as a speaker.
    setStartingMedia(config, false);
    if (!rtcEngineManager_) {
        port_.logger().warn(
            "No engine was supplied for this \"kr-media\" room: the join stops here");
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
        port_.handleLocalMediaLeft();
        return;
    }
    if (std::exchange(isWaitingToBeReconnect_, false)) {
        leaveWhileWaitingForNetwork();
        return;
    }
    rtcEngineManager_->leaveRtcChannel();
}

void RoomEngineBackend::leaveWhileWaitingForNetwork() {
    // The engine lost its channel and waits to be joined again: it has no channel to report
    // leaving, and the network it waits for may never come back. Its receiver goes, so a late
    // report of that channel finds nobody, and the leave finishes here.
    channelAsked_ = false;
    const bool inChannel = rtcEngineManager_->isConnectedToRtcServer();
    rtcEngineManager_->leaveRtcChannel();
    if (!inChannel) {
        abandonLeaveReport();
        port_.handleLocalMediaLeft();
        return;
    }
    // It still says it is in a channel: its report ends the leave, or the core's wait for it.
}

void RoomEngineBackend::abandonLeaveReport() {
    // As when the engine had no channel to leave: its receiver goes, so a late report of the
    // channel finds nobody.
    channelAsked_ = false;
    rtcAdapter_.reset();
}

void RoomEngineBackend::recordLocalParticipant() {
    // Merged while the join is still under way: what the merge reports of the local user now
    // is its starting state, told by the join event alone.
    if (const auto local = std::exchange(confirmedLocal_, nullptr)) {
        port_.participants().addNewParticipantRtcData(local);
    }
}

void RoomEngineBackend::releaseMeetingMedia() {
    // No message of a meeting already left may act on the next one.
    if (rtcEngineManager_) rtcEngineManager_->setRtmDelegate({});
    auto& merge = port_.participants();
    for (const auto& user : merge.getAllMeetingUser()) {
        user->resetVideoTrack();
    }
    merge.clearAllData();
    standIns_.clear();
    standInsAwaitingPeer_.clear();
    sharesFromStandIns_.clear();
    sharesOfDroppedOwners_.clear();
    sharesShownWithoutTrack_.clear();
    confirmedLocal_.reset();
    channelAsked_ = false;
    isWaitingToBeReconnect_ = false;
    isEngineAway_ = false;
    roleMovedWhileAway_.reset();
    roleSetAgain_.reset();
}

void RoomEngineBackend::releaseEngine() {
    // The client's own engine is made again at the next join; the host's stays for it. Who made
    // it decides, not the room: a leave before the room's details came knows no room engine.
    if (ownsRtcEngine_) {
        rtcEngineManager_.reset();
        ownsRtcEngine_ = false;
    }
}

void RoomEngineBackend::networkStateChanged(bool isConnected) {
    // Only for a meeting still under way: one being left must not bring the engine back.
    if (!isConnected || !isWaitingToBeReconnect_ ||
        port_.meetingState() != MeetingPort::MeetingState::inMeeting ||
        port_.room().mediaEngine != KRRoomMediaEngine::krmedia || !rtcEngineManager_) {
        return;
    }
    port_.logger().info("Network is back: joining the media channel again");
    rtcEngineManager_->joinRoom(krMediaJoinData());
}

// ---- Local media ----

void RoomEngineBackend::muteLocalMedia(bool audio, bool isMute) {
    if (audio) {
        port_.room().isCurrentUserAudioMuted = isMute;
        if (rtcEngineManager_) rtcEngineManager_->muteUnmuteLocalAudio(isMute);
    } else {
        port_.room().isCurrentUserVideoMuted = isMute;
        if (rtcEngineManager_) rtcEngineManager_->muteUnmuteLocalVideo(isMute);
    }
}

void RoomEngineBackend::switchClientRole(bool) {
    port_.logger().info("Client role switch asked of the media channel");
}

void RoomEngineBackend::subscribeRemoteMedia(bool audio, const std::string& id, bool subscribe) {
    if (!rtcEngineManager_) return;
    audio ? rtcEngineManager_->muteUnmuteUserAudioStream(!subscribe, id)
          : rtcEngineManager_->muteUnmuteUserVideoStream(!subscribe, id);
}

void RoomEngineBackend::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    if (rtcEngineManager_ && channelAsked_) {
        // Its join data carried the earlier choice; a change from now on goes to it directly.
        rtcEngineManager_->applyVirtualBackground(background);
    }
}

// ---- Participants: the merge's ----

bool RoomEngineBackend::knowsLocalShareWithoutTrack() const {
    const auto& merge = port_.participants();
    return merge.isSharingScreen(merge.getCurrentParticipantId());
}

std::vector<std::shared_ptr<KRMeetingUser>> RoomEngineBackend::meetingUsers() const {
    return port_.participants().getAllMeetingUser();
}

std::shared_ptr<KRMeetingUser> RoomEngineBackend::localUser() const {
    return port_.participants().getLocalUser();
}

std::shared_ptr<KRMeetingUser> RoomEngineBackend::user(const std::string& id) const {
    return port_.participants().getMeetingUser(id);
}

std::vector<std::shared_ptr<KRMediaTrack>> RoomEngineBackend::mediaTracks() const {
    std::vector<std::shared_ptr<KRMediaTrack>> tracks;
    for (const auto& user : port_.participants().getAllMeetingUser()) {
        tracks.push_back(user);
    }
    for (const auto& share : port_.participants().getScreenShareTracks()) {
        tracks.push_back(share);
    }
    return tracks;
}

bool RoomEngineBackend::markLocalHand(bool isRaised) {
    // This backend's local user lives in the participant merge, and only after the local join.
    MeetingParticipantsManager& participants = port_.participants();
    auto local = participants.getLocalUser();
    if (!local) return false;
    local->setIsHandRaised(isRaised);
    // Its record too, or the next merge of it (an engine report, a lower-all) would go by the
    // hand the record had before; the caller tells the app.
    participants.updateParticipantHandRaiseStatus(participants.getCurrentParticipantId(), isRaised,
                                                  /*reportChange=*/false);
    return true;
}

}  // namespace kr
