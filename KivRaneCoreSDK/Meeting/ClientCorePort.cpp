#include "KivRaneCoreSDK/Meeting/ClientCorePort.h"

#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

// The meeting as the media backends reach it: every call is one of the core's own.

namespace kr {

// ---- The session ----

MeetingPort::SessionToken ClientCore::Port::sessionToken() const { return core_.sessionToken(); }
MeetingPort::MeetingState ClientCore::Port::meetingState() const { return core_.meetingState(); }
bool ClientCore::Port::isJoining() const { return core_.isJoining(); }
bool ClientCore::Port::hasJoinedMeeting() const { return core_.hasJoinedMeeting(); }

std::weak_ptr<MeetingPort> ClientCore::Port::weakPort() {
    // Shares the core's ownership: the port lives exactly as long as the core.
    if (auto core = core_.weak_from_this().lock()) {
        return std::shared_ptr<MeetingPort>(core, this);
    }
    return {};
}

// ---- The room's facts ----

KRCurrentRoom& ClientCore::Port::room() { return core_.currentRoom_; }
MeetingParticipantsManager& ClientCore::Port::participants() { return core_.meetingUsersManager_; }
KivRaneRealTimeLogger2& ClientCore::Port::logger() { return core_.logger_; }

MeetingPort::EngineSetUp ClientCore::Port::engineSetUp() const {
    return {.highQuality = core_.highQualityEncoderSettings(),
            .lowQuality = core_.lowQualityEncoderSettings(),
            .activeSpeakerInterval = core_.settings_.activeSpeakerCallbackInterval,
            .reportsLoudestSpeaker = core_.settings_.userActiveSpeakerCallback,
            .virtualBackground = core_.settings_.virtualBackgroundType};
}

bool ClientCore::Port::bypassesServer() const { return core_.settings_.shouldByPassAPICalls; }
const KRUserRole& ClientCore::Port::joinRole() const { return core_.userRole_; }
KRApiServer ClientCore::Port::serverEnvironment() const { return core_.getServerEnvironment(); }
bool ClientCore::Port::isLocalUserInAudienceMode() const { return core_.isLocalUserInAudienceMode_; }
void ClientCore::Port::setLocalAudienceMode(bool isAudience) { core_.isLocalUserInAudienceMode_ = isAudience; }

void ClientCore::Port::setStartingMedia(bool audience, bool audioOn, bool videoOn) {
    KRCurrentRoom& room = core_.currentRoom_;
    core_.isLocalUserInAudienceMode_ = audience;
    room.isCurrentUserInAudienceMode = audience;
    core_.isInitialAudioOn_ = audioOn;
    core_.isInitialVideoOn_ = videoOn;
    room.isCurrentUserAudioMuted = !audioOn;
    room.isCurrentUserVideoMuted = !videoOn;
}

// ---- The join and the teardown ----

void ClientCore::Port::runServerJoin(ServerJoin part, std::function<void()> thenMedia) {
    core_.runServerJoin(part, std::move(thenMedia));
}
bool ClientCore::Port::markMediaSetUp() { return core_.session_ && core_.session_->markMediaSetUp(); }
void ClientCore::Port::completeLocalMediaJoin(const std::string& localId, std::function<void()> finished) {
    core_.completeLocalMediaJoin(localId, std::move(finished));
}
void ClientCore::Port::failJoin(const KRMeetingJoinError& error) { core_.failJoin(error); }
void ClientCore::Port::handleLocalMediaLeft(std::optional<KRUserLeftReason> engineReason) {
    core_.handleLocalMediaLeft(std::move(engineReason));
}

// ---- Server calls ----

void ClientCore::Port::postUserRoomConnectionStatus(bool isConnected, bool isPolling, Completion completion) {
    core_.postUserRoomConnectionStatus(isConnected, isPolling, std::move(completion));
}
void ClientCore::Port::getRoomConnectionStatus(Completion completion) {
    core_.getRoomConnectionStatus(std::move(completion));
}
void ClientCore::Port::completeLater(Completion completion, bool value) {
    core_.completeLater(std::move(completion), value);
}

void ClientCore::Port::handleControlMessage(ControlMessageRoad road, ControlMessageRoute route,
                                const KRRtmMessage& message) {
    core_.handleControlMessage(road, route, message);
}

// ---- Reports ----

KRMeeting ClientCore::Port::getCurrentMeetingData() const { return core_.getCurrentMeetingData(); }
std::shared_ptr<KRMeetingUser> ClientCore::Port::getMeetingLocalUser() const {
    return core_.getMeetingLocalUser();
}
void ClientCore::Port::forEachDelegate(const std::function<void(KRClientDelegate&)>& call) const {
    core_.events().forEachDelegate(call);
}
void ClientCore::Port::forMainDelegate(const std::function<void(KRClientDelegate&)>& call) const {
    core_.events().forMainDelegate(call);
}
void ClientCore::Port::sendLocalUserMicUpdateEvent() { core_.events().sendLocalUserMicUpdateEvent(); }
void ClientCore::Port::sendLocalUserVideoUpdateEvent() { core_.events().sendLocalUserVideoUpdateEvent(); }
void ClientCore::Port::sendRemoteUserJoinMeetingEvent(const std::shared_ptr<KRMeetingUser>& user) {
    core_.events().sendRemoteUserJoinMeetingEvent(user);
}
void ClientCore::Port::sendRemoteUserLeftMeetingEvent(const std::shared_ptr<KRMeetingUser>& user,
                                          const KRUserLeftReason& reason) {
    core_.events().sendRemoteUserLeftMeetingEvent(user, reason);
}
void ClientCore::Port::sendRemoteUserMicStatusUpdateEvent(const std::shared_ptr<KRMeetingUser>& user) {
    core_.events().sendRemoteUserMicStatusUpdateEvent(user);
}
void ClientCore::Port::sendRemoteUserVideoStatusUpdateEvent(const std::shared_ptr<KRMeetingUser>& user) {
    core_.events().sendRemoteUserVideoStatusUpdateEvent(user);
}
void ClientCore::Port::sendRemoteUserMovedToParticipants(const std::shared_ptr<KRMeetingUser>& user) {
    core_.events().sendRemoteUserMovedToParticipants(user);
}
void ClientCore::Port::sendLocalUserRoleChangedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                         bool isAudience) {
    core_.events().sendLocalUserRoleChangedEvent(user, isAudience);
}
void ClientCore::Port::sendLoudestSpeakerEvent(const std::shared_ptr<KRMeetingUser>& user) {
    core_.events().sendLoudestSpeakerEvent(user);
}
void ClientCore::Port::sendNetworkQualityUpdateEvent(KRNetworkQuality quality) {
    core_.events().sendNetworkQualityUpdateEvent(quality);
}
void ClientCore::Port::sendAudioRouteChangeEvent(KRAudioRouteType newRoute) {
    core_.events().sendAudioRouteChangeEvent(newRoute);
}
void ClientCore::Port::sendLocalMediaFailedEvent(bool audio, KRAudioVideoErrorType type,
                                     const std::string& description) {
    core_.events().sendLocalMediaFailedEvent(audio, type, description);
}
void ClientCore::Port::sendLocalAudioOnlyFallbackEvent(bool isFallback) {
    core_.events().sendLocalAudioOnlyFallbackEvent(isFallback);
}
void ClientCore::Port::sendRemoteAudioOnlyFallbackEvent(bool isFallback,
                                            const std::shared_ptr<KRMeetingUser>& user) {
    core_.events().sendRemoteAudioOnlyFallbackEvent(isFallback, user);
}
void ClientCore::Port::sendLocalSpeakerVolumeEvent(int level, bool speaking) {
    core_.events().sendLocalSpeakerVolumeEvent(level, speaking);
}
void ClientCore::Port::sendNetworkStatsEvent(const KRMeetingNetworkStats& stats) {
    core_.events().sendNetworkStatsEvent(stats);
}
void ClientCore::Port::sendLocalScreenShareEvent(const KRScreenShareState& state) {
    core_.events().sendLocalScreenShareEvent(state);
}
void ClientCore::Port::sendRemoteScreenShareEvent(const KRScreenShareState& state) {
    core_.events().sendRemoteScreenShareEvent(state);
}

// ---- The local screen share ----

LocalScreenShare& ClientCore::Port::localShare() { return core_.localScreenShare(); }

}  // namespace kr
